"""tremora.quakecat: see help(tremora._tremora.quakecat)."""
from ._tremora import quakecat as _module

globals().update({name: getattr(_module, name) for name in dir(_module) if not name.startswith("__")})
__doc__ = _module.__doc__
