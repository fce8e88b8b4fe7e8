# Imported by the benchmarks' Python parts (run from the source root):
# one run of a command, its output discarded.
import os
import time


def timed(cmd):
    """Wall time in seconds and peak resident KiB of one run of cmd."""
    t0 = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        fd = os.open(os.devnull, os.O_WRONLY)
        os.dup2(fd, 1)
        os.dup2(fd, 2)
        os.execvp(cmd[0], cmd)
    _, _, usage = os.wait4(pid, 0)
    return time.perf_counter() - t0, usage.ru_maxrss
