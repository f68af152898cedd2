"""tremora.review (the C++ core's sub-module of that name)."""
from ._reexport import reexport
from ._tremora import review as _core

__all__ = reexport(_core, globals())
del _core, reexport
