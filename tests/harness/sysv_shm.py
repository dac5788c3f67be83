"""System V shared memory for the black-box tests of Druvik, Sennel and Orlmet, through ctypes.
Each test process takes keys of its own, from its process id, and removes its segments."""

import ctypes
import os

_libc = ctypes.CDLL(None, use_errno=True)
_libc.shmat.restype = ctypes.c_void_p
_libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
_libc.shmdt.argtypes = [ctypes.c_void_p]
_libc.shmget.argtypes = [ctypes.c_int, ctypes.c_size_t, ctypes.c_int]

TABLE_SIZE = 1024 * 48
SLOT_SIZE = 200


def test_key():
    """A key of this process's own (the unit tests use another range)."""
    return 0x4E000000 + ((os.getpid() & 0xFFFFF) << 3)


def exists(key):
    return _libc.shmget(key, 0, 0) >= 0


def remove(key):
    shmid = _libc.shmget(key, 0, 0)
    if shmid >= 0:
        _libc.shmctl(shmid, 0, None)  # IPC_RMID


class Segment:
    """Attaches the segment of `key`, creating it when missing; close() also removes it."""

    def __init__(self, key, size):
        self.key, self.size = key, size
        shmid = _libc.shmget(key, size, 0o1000 | 0o777)  # IPC_CREAT
        addr = _libc.shmat(shmid, None, 0) if shmid >= 0 else None
        if addr in (None, ctypes.c_void_p(-1).value):
            raise OSError(ctypes.get_errno(), "cannot attach segment %d" % key)
        self.addr = addr

    def read(self, offset=0, length=None):
        length = self.size - offset if length is None else length
        assert 0 <= offset and offset + length <= self.size
        return ctypes.string_at(self.addr + offset, length)

    def write(self, offset, data):
        assert 0 <= offset and offset + len(data) <= self.size
        ctypes.memmove(self.addr + offset, data, len(data))

    def session(self, slot):
        """(group, alive, ops, reads, writes) of SessionSTAT slot 1..1024."""
        raw = self.read((slot - 1) * 48, 48)
        ints = [int.from_bytes(raw[i:i + 4], "little", signed=True) for i in range(32, 48, 4)]
        return (raw[:32].split(b"\0", 1)[0].decode("latin-1"), *ints)

    def set_session(self, slot, group, *ints):
        """group (text, or 32 raw bytes), then alive, ops, reads, writes."""
        raw = group.encode().ljust(32, b"\0") if isinstance(group, str) else group
        self.write((slot - 1) * 48, raw + b"".join(v.to_bytes(4, "little", signed=True)
                                                   for v in ints))

    def set_client(self, ident, data):
        """A client slot: text, or raw bytes, padded with NULs to 200 bytes."""
        data = data.encode("latin-1") if isinstance(data, str) else data
        self.write((ident - 1) * SLOT_SIZE, data[:SLOT_SIZE].ljust(SLOT_SIZE, b"\0"))

    def detach(self):
        if self.addr is not None:
            _libc.shmdt(ctypes.c_void_p(self.addr))
            self.addr = None

    def close(self):
        self.detach()
        remove(self.key)
