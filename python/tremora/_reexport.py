"""Gives a sub-module of the C++ core its package name (tremora.fetching, ...)."""


def reexport(core, namespace):
    """Copies the names of `core` into `namespace` (a module's globals).

    Classes and functions get the package module as their __module__, so
    that help(), repr() and pickling name tremora.fetching and not the core.
    Returns the public names, for __all__.
    """
    here = namespace["__name__"]
    for name in dir(core):
        if name.startswith("__"):
            continue
        obj = getattr(core, name)
        if getattr(obj, "__module__", None) == core.__name__:
            try:
                obj.__module__ = here
            except (AttributeError, TypeError):
                pass
        namespace[name] = obj
    namespace["__doc__"] = core.__doc__
    return sorted(name for name in dir(core) if not name.startswith("_"))
