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
import time

CLEAR = "\r\x1b[2K"
FRAME = "qovrin assemble"
# How long a run may take to draw its first frame before the test gives up
# waiting for it; a sound build draws it after 200 ms.
PATIENCE = 300


def read_text(path):
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as handle:
        return handle.read().decode("utf-8", "replace")


def run_on_terminal(qovrin, work, name, text):
    """Runs qovrin on a terminal with a FIFO for its source, and gives it
    the source only once the terminal shows a frame, so that the run lasts
    past its first frame however fast the build is. Gives back the exit
    status and what the terminal showed."""
    fifo = os.path.join(work, name)
    os.mkfifo(fifo)
    log = fifo + ".log"
    run = subprocess.Popen(["script", "-qfec", f"{qovrin} {name}", log], cwd=work, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + PATIENCE
    while FRAME not in read_text(log) and run.poll() is None and time.monotonic() < deadline:
        time.sleep(0.01)
    if run.poll() is None:
        with open(fifo, "w") as handle:
            handle.write(text)
    run.communicate(timeout=PATIENCE)
    return run.returncode, read_text(log)


def main():
    qovrin = os.path.abspath(sys.argv[1])
    if shutil.which("script") is None:
        print("script(1) is not installed; skipping")
        return 77
    failures = []
    with tempfile.TemporaryDirectory(prefix="qovrin-progress-") as work:
        with open(os.path.join(work, "quick.qov"), "w") as handle:
            handle.write("let a = 1\n")
        with open(os.path.join(work, "quick-bad.qov"), "w") as handle:
            handle.write("let x = missing\n")

        for source, text, status in (("good.qov", "db(1)\n", 0), ("bad.qov", "let x = missing\n", 1)):
            code, screen = run_on_terminal(qovrin, work, source, text)
            if FRAME not in screen:
                failures.append(f"{source}: no frame was drawn on the terminal:\n{screen[:2000]!r}")
            tail = screen[screen.rfind(CLEAR):] if CLEAR in screen else screen
            if FRAME in tail:
                failures.append(f"{source}: a frame stays on the screen after the run:\n{tail[:2000]!r}")
            if f'COMMAND_EXIT_CODE="{status}"' not in screen and code != status:
                failures.append(f"{source}: exit status {code}, expected {status}")

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
