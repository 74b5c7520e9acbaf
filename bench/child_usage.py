"""Runs a benchmarked program so that what is measured is the program's own:
its wall time, its processor time and its peak resident memory.

The peak cannot come from ru_maxrss of a child of the benchmark script. Python
starts children with vfork (posix_spawn does the same), so the child runs in
the script's address space until it execs, and at the exec Linux keeps that
address space's high-water mark as the child's peak so far: the child reports
at least the largest size the script ever had (37.7 MiB after generating a
large source) however small it stays. Forking instead keeps the script's size
at the fork, hardly better.

So a fresh Python process, started with -I -S to stay small, forks and execs
the program, waits for it and writes wait4's numbers of it to a pipe. They are the
program's own, except that a peak below the starter's size (about 6.5 MiB)
shows as that size. The starter needs nothing beyond Python, where
/usr/bin/time would need the Debian package "time", not installed by default.
"""

import os
import subprocess
import sys
from typing import NamedTuple


class Usage(NamedTuple):
    elapsed: float  # wall seconds
    processor: float  # user and system seconds
    peak_kib: int


STARTER = """
import os, signal, sys, time
report = int(sys.argv[1])
start = time.monotonic()
pid = os.fork()
if pid == 0:
    try:
        os.close(report)
        os.execvp(sys.argv[2], sys.argv[2:])
    finally:
        os._exit(127)
signal.signal(signal.SIGTERM, lambda *_: os.kill(pid, signal.SIGKILL))
_, status, usage = os.wait4(pid, 0)
elapsed = time.monotonic() - start
code = os.waitstatus_to_exitcode(status)
if code != 127:
    os.write(report, f"{elapsed} {usage.ru_utime + usage.ru_stime} {usage.ru_maxrss}".encode())
sys.exit(code if code >= 0 else 128 - code)
"""


class Child:
    """The program, started through the starter."""

    def __init__(self, command, **options):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen([sys.executable, "-I", "-S", "-c", STARTER, str(write_end)] + command,
                                            pass_fds=(write_end,), **options)
        finally:
            os.close(write_end)
        self._report = os.fdopen(read_end, "rb")

    def finish(self):
        """Waits for the program; its exit code and its Usage (None when it
        could not be started)."""
        code = self.process.wait()
        text = self._report.read()
        self._report.close()
        if not text:
            return code, None
        elapsed, processor, peak = text.split()
        return code, Usage(float(elapsed), float(processor), int(peak))

    def stop(self):
        """Ends the program: the starter kills it when told to end."""
        self.process.terminate()
        self.process.wait()
        self._report.close()


def usage_of(command):
    """The Usage of one run of the command, or None when it failed, its
    error output then passed on to ours."""
    child = Child(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    errors = child.process.stderr.read()
    code, usage = child.finish()
    if code != 0 or usage is None:
        sys.stderr.write(f"{command[0]} failed: {errors.decode(errors='replace')[:500]}\n")
        return None
    return usage
