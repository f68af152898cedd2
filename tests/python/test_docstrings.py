"""Every public callable of the package explains itself: a docstring beyond
pybind11's signature line that names each of its arguments; help() of a
sub-module lists its classes, and no internal name shows in completion."""
import inspect
import pydoc
import re

import pytest

import tremora
from signatures import parameters, signature_lines

MODULES = [getattr(tremora, name) for name in tremora.__all__ if inspect.ismodule(getattr(tremora, name))]


def public_callables():
    for module in MODULES:
        for name in module.__all__:
            obj = getattr(module, name)
            if inspect.isclass(obj):
                yield f"{module.__name__}.{name}", obj
                for member, value in vars(obj).items():
                    if not member.startswith("_") and callable(getattr(obj, member)):
                        yield f"{module.__name__}.{name}.{member}", getattr(obj, member)
                    elif not member.startswith("_") and type(value).__name__ == "pybind11_static_property":
                        # Python drops a class property's own docstring: the class's names it.
                        assert re.search(rf"\b{member}\b", obj.__doc__), f"{name}'s docstring omits {member}"
                    elif not member.startswith("_") and isinstance(value, property):
                        yield f"{module.__name__}.{name}.{member}", value
            elif callable(obj):
                yield f"{module.__name__}.{name}", obj
    yield "tremora.Connection", tremora.Connection
    yield "tremora.keep_freed_memory", tremora.keep_freed_memory


def argument_names(doc, name):
    """The argument names of the signature lines pybind11 wrote for `name`."""
    return {arg.lstrip("*") for arguments, _ in signature_lines(doc, name) for arg, _, _ in parameters(arguments)}


def explanation(doc):
    """The docstring without its signature lines."""
    return "\n".join(line for line in doc.splitlines() if not re.match(r"^(?:\d+\. )?\w+\(.*\) -> ", line)).strip()


@pytest.mark.parametrize("path,obj", list(public_callables()), ids=lambda v: v if isinstance(v, str) else "")
def test_every_public_callable_has_a_docstring_naming_its_arguments(path, obj):
    doc = obj.__doc__ or ""
    assert len(explanation(doc)) > 20, f"{path} has no docstring beyond its signature"
    name = path.rsplit(".", 1)[-1]
    missing = [a for a in argument_names(doc, name) if not re.search(rf"\b{re.escape(a)}\b", explanation(doc))]
    assert not missing, f"{path}: the docstring does not explain {missing}"


def test_help_lists_classes_and_completion_hides_internals():
    text = pydoc.render_doc(tremora.fetching, renderer=pydoc.plaintext)
    for name in ("DataFetcher", "DatabaseConnector", "MetadataFetcher", "QueryBuilder", "fetching_data"):
        assert name in text
    for module in MODULES:
        assert not [n for n in dir(module) if n in ("_core", "_module", "reexport")], module.__name__
        assert all(getattr(module, n).__module__ == module.__name__ for n in module.__all__
                   if inspect.isclass(getattr(module, n)))
