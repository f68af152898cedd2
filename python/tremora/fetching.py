"""tremora.fetching: see help(tremora._tremora.fetching)."""
from ._tremora import fetching as _module

globals().update({name: getattr(_module, name) for name in dir(_module) if not name.startswith("__")})
__doc__ = _module.__doc__
