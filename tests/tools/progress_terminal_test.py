#!/usr/bin/env python3
"""The progress display: drawn on a terminal, never on a pipe, and gone when
the run ends, whatever its exit status.

usage: progress_terminal_test.py <qovrin>
"""
import os
import shutil
import subprocess
import sys
import tempfile

CLEAR = "\r\x1b[2K"


def main():
    qovrin = os.path.abspath(sys.argv[1])
    if shutil.which("script") is None:
        print("script(1) is not installed; skipping")
        return 77
    failures = []
    with tempfile.TemporaryDirectory(prefix="qovrin-progress-") as work:
        # Long enough for the display's first frame (200 ms) in every build.
        loops = "".join(f"let i{n} = 0\nwhile i{n} < 1000000 {{\n  i{n} = i{n} + 1\n}}\n" for n in range(4))
        with open(os.path.join(work, "slow.qov"), "w") as handle:
            handle.write(loops)
        with open(os.path.join(work, "bad.qov"), "w") as handle:
            handle.write(loops + "let x = missing\n")
        with open(os.path.join(work, "quick.qov"), "w") as handle:
            handle.write("let a = 1\n")
        with open(os.path.join(work, "quick-bad.qov"), "w") as handle:
            handle.write("let x = missing\n")

        for source, status in (("slow.qov", 0), ("bad.qov", 1)):
            log = os.path.join(work, source + ".log")
            run = subprocess.run(["script", "-qec", f"{qovrin} {source}", log], cwd=work, capture_output=True,
                                 input=b"", timeout=300)
            with open(log, "rb") as handle:
                screen = handle.read().decode("utf-8", "replace")
            if "qovrin assemble" not in screen:
                failures.append(f"{source}: no frame was drawn on the terminal:\n{screen[:2000]!r}")
            tail = screen[screen.rfind(CLEAR):] if CLEAR in screen else screen
            if "qovrin assemble" in tail:
                failures.append(f"{source}: a frame stays on the screen after the run:\n{tail[:2000]!r}")
            if f'COMMAND_EXIT_CODE="{status}"' not in screen and run.returncode != status:
                failures.append(f"{source}: exit status {run.returncode}, expected {status}")

        for arguments, status in ((["quick.qov"], 0), (["quick-bad.qov"], 1), (["quick.qov", "--bogus"], 2)):
            run = subprocess.run([qovrin] + arguments, cwd=work, capture_output=True, stdin=subprocess.DEVNULL,
                                 timeout=300)
            if run.returncode != status:
                failures.append(f"{arguments}: exit status {run.returncode}, expected {status}")
            if b"\x1b" in run.stderr or b"\x1b" in run.stdout:
                failures.append(f"{arguments}: an escape byte reached a stream that is no terminal")

    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
