"""Gives a sub-module of the C++ core its package name (tremora.fetching, ...)."""
import functools

import numpy
import pandas


def describe(value):
    """A short account of an argument: tables by their shape, never whole."""
    if isinstance(value, pandas.DataFrame):
        return f"DataFrame ({len(value)} rows x {len(value.columns)} columns)"
    if isinstance(value, (pandas.Series, pandas.Index)):
        return f"{type(value).__name__} ({len(value)} values, dtype {value.dtype})"
    if isinstance(value, numpy.ndarray):
        return f"ndarray (shape {value.shape}, dtype {value.dtype})"
    text = repr(value)
    return text if len(text) <= 60 else f"{type(value).__name__} ({text[:40]}...)"


def guarded(function):
    """`function`, whose TypeError for arguments it does not take names
    their kinds instead of printing them (pybind11 prints every argument,
    DataFrames whole)."""

    @functools.wraps(function)
    def call(*args, **kwargs):
        try:
            return function(*args, **kwargs)
        except TypeError as error:
            text = str(error)
            if "incompatible function arguments" not in text or "Invoked with:" not in text:
                raise
            given = [describe(a) for a in args] + [f"{k}={describe(v)}" for k, v in kwargs.items()]
            raise TypeError(text.split("Invoked with:")[0] + "Invoked with: " + ", ".join(given)) from None

    return call


def guard_class(cls):
    """Guards the methods and static methods of a class of the core."""
    for name, member in list(vars(cls).items()):
        if name.startswith("__"):
            continue
        if isinstance(member, staticmethod):
            setattr(cls, name, staticmethod(guarded(member.__func__)))
        elif callable(member) and not isinstance(member, type):
            setattr(cls, name, guarded(getattr(cls, name)))


def reexport(core, namespace):
    """Copies the names of `core` into `namespace` (a module's globals).

    Classes and functions get the package module as their __module__, so
    that help(), repr() and pickling name tremora.fetching and not the core;
    calls are guarded as `guarded` says. Returns the public names, for
    __all__.
    """
    here = namespace["__name__"]
    for name in dir(core):
        if name.startswith("__"):
            continue
        obj = getattr(core, name)
        if getattr(obj, "__module__", None) == core.__name__:
            if isinstance(obj, type):
                guard_class(obj)
            elif callable(obj):
                obj = guarded(obj)
            obj.__module__ = here
        namespace[name] = obj
    namespace["__doc__"] = core.__doc__
    return sorted(name for name in dir(core) if not name.startswith("_"))
