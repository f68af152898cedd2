"""tremora.keep_freed_memory: large buffers come from the allocator's heap,
not from mappings of their own that freeing hands back to the system."""
import ctypes
import ctypes.util
import platform

import pytest

import tremora


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
        "keepcost")]


def mapped_bytes(libc):
    return libc.mallinfo2().hblkhd


@pytest.mark.skipif(platform.libc_ver()[0] != "glibc", reason="the allocator setting is glibc's")
def test_kept_freed_memory_serves_large_buffers_from_the_heap():
    libc = ctypes.CDLL(ctypes.util.find_library("c"))
    libc.mallinfo2.restype = MallInfo2
    tremora.keep_freed_memory()
    before = mapped_bytes(libc)
    buffer = bytearray(24 << 20)  # the interpreter takes buffers this large from malloc
    assert mapped_bytes(libc) == before
    del buffer
