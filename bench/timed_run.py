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


def timed_full(cmd):
    """Wall seconds, CPU seconds (user and system), peak resident KiB and the
    standard output of one run of cmd."""
    import subprocess

    t0 = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = child.stdout.read()
    _, _, usage = os.wait4(child.pid, 0)
    child.returncode = 0
    return time.perf_counter() - t0, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, out
