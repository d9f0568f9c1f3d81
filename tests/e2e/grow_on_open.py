"""grow_on_open.py <ready> <text> <file>...: when another process opens one of the files,
appends the text to it before that open is let go on, so the opener finds the file longer
than any look at it before the open. Creates <ready> once it watches, and ends when every
file has grown. The opens are held through fanotify's permission events, which need root
(CAP_SYS_ADMIN); elsewhere it says so and exits 77."""
import ctypes
import os
import struct
import sys

FAN_CLOEXEC, FAN_CLASS_CONTENT, FAN_MARK_ADD, FAN_OPEN_PERM, FAN_ALLOW = 1, 4, 1, 0x10000, 1
AT_FDCWD = -100

ready, text, names = sys.argv[1], sys.argv[2].encode(), sys.argv[3:]
libc = ctypes.CDLL(None, use_errno=True)
libc.fanotify_mark.argtypes = [ctypes.c_int, ctypes.c_uint, ctypes.c_uint64, ctypes.c_int,
                               ctypes.c_char_p]


def refused(call):
    print(f"{call}: {os.strerror(ctypes.get_errno())}", file=sys.stderr)
    sys.exit(77)


# Our own descriptors are opened first: their opens are not held.
writers = {}
for name in names:
    fd = os.open(name, os.O_WRONLY | os.O_APPEND)
    s = os.fstat(fd)
    writers[(s.st_dev, s.st_ino)] = fd
group = libc.fanotify_init(FAN_CLOEXEC | FAN_CLASS_CONTENT, os.O_RDONLY)
if group < 0:
    refused("fanotify_init")
for name in names:
    if libc.fanotify_mark(group, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, os.fsencode(name)) < 0:
        refused("fanotify_mark")
open(ready, "w").close()

layout = struct.Struct("IBBHQii")  # struct fanotify_event_metadata
while writers:
    events = os.read(group, 4096)
    at = 0
    while at < len(events):
        length, _, _, _, _, fd, _ = layout.unpack_from(events, at)
        at += length
        s = os.fstat(fd)
        writer = writers.pop((s.st_dev, s.st_ino), None)
        if writer is not None:
            os.write(writer, text)
            os.close(writer)
        os.write(group, struct.pack("iI", fd, FAN_ALLOW))
        os.close(fd)
