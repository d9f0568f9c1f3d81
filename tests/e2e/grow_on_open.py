"""grow_on_open.py <ready> <text> <file>...: holds a write lease on each file, then creates
<ready>. When another process opens one of them, the kernel holds that open back and says so
here: the text is appended to the file, the lease given up, and the open goes on, so the
opener finds the file longer than any look at it before the open. Ends when every file has
grown. The files must be open nowhere else when it starts."""
import fcntl
import os
import signal
import sys

ready, text, names = sys.argv[1], sys.argv[2].encode(), sys.argv[3:]
# Blocked and waited for, never handled: a break that comes between two looks is not lost.
signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGIO})
held = [os.open(n, os.O_RDWR | os.O_APPEND) for n in names]
for fd in held:
    fcntl.fcntl(fd, fcntl.F_SETLEASE, fcntl.F_WRLCK)
open(ready, "w").close()
while held:
    signal.sigwait({signal.SIGIO})
    # A lease being broken reads as the lease it is to become.
    for fd in [fd for fd in held if fcntl.fcntl(fd, fcntl.F_GETLEASE) != fcntl.F_WRLCK]:
        os.write(fd, text)
        fcntl.fcntl(fd, fcntl.F_SETLEASE, fcntl.F_UNLCK)
        os.close(fd)
        held.remove(fd)
