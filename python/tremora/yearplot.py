"""tremora.yearplot: see help(tremora._tremora.yearplot)."""
from ._tremora import yearplot as _module

globals().update({name: getattr(_module, name) for name in dir(_module) if not name.startswith("__")})
__doc__ = _module.__doc__
