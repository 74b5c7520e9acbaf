#!/usr/bin/env python3
"""Ends runs that write their files in place by each signal that ends a run
by default and can be caught (but for those of a crash), at random moments,
and finds every file either as it was or whole and new and no temporary file
left: a file with two names, an output and a listing with two names each, an
output replaced beside a listing with two names, another user's file that
the run may write but not replace, and an owner's set-id file (the last two
written as nobody, only where the tests run as root). A listing sent to a
FIFO that nobody reads still lets the signal end the run.

usage: interrupted_writes_test.py <qovrin>
"""
import dataclasses
import os
import random
import resource
import signal
import subprocess
import sys
import tempfile
import threading
import time

NOBODY = 65534
SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGXCPU, signal.SIGALRM,
           signal.SIGUSR1, signal.SIGUSR2, signal.SIGVTALRM, signal.SIGPROF, signal.SIGIO, signal.SIGPWR,
           signal.SIGSTKFLT, signal.SIGRTMIN, signal.SIGRTMAX)
# Each signal is sent this many times to each row, half of them once the
# writing has begun.
TRIES = 2
# Large enough that writing the file takes a good part of the run.
BIG = 16 << 20
OLD = b"old contents\n"


@dataclasses.dataclass
class Row:
    name: str
    source: str
    arguments: list
    files: list  # regular files, each old or whole and new after every run
    nobody: bool = False  # run as nobody
    owner: int = None  # the user running the tests when None
    mode: int = 0o644
    links: bool = True  # each file has a second name
    replaced: tuple = ()  # files that keep one name all the same, so that they are replaced
    fifo: str = None  # a FIFO among the outputs


ROWS = [
    Row("two-names", f"rb({BIG})\ndb(1)\n", ["-o", "out.bin"], ["out.bin"]),
    Row("pair", f"rb({BIG // 16})\ndb(1)\n", ["-o", "out.bin", "--listing", "out.lst"], ["out.bin", "out.lst"]),
    Row("replaced-beside-in-place", f"rb({BIG // 16})\ndb(1)\n", ["-o", "out.bin", "--listing", "out.lst"],
        ["out.bin", "out.lst"], replaced=("out.bin",)),
    # Root's file of mode 0666 in root's folder: nobody may write it but not
    # replace it.
    Row("another-users-file", f"rb({BIG})\ndb(1)\n", ["-o", "out.bin"], ["out.bin"], nobody=True, owner=0,
        mode=0o666, links=False),
    Row("fifo-listing", f"rb({BIG // 16})\ndb(1)\n", ["-o", "out.bin", "--listing", "out.lst"], ["out.bin"],
        fifo="out.lst"),
    Row("owners-set-id-file", f"rb({BIG})\ndb(1)\n", ["-o", "out.bin"], ["out.bin"], nobody=True, owner=NOBODY,
        mode=0o6755),
]


def read(path):
    with open(path, "rb") as handle:
        return handle.read()


def as_nobody():
    os.setgid(NOBODY)
    os.setuid(NOBODY)


def default_signals():
    # A signal ignored by whoever runs the suite would be ignored by the run too.
    for number in SIGNALS:
        signal.signal(number, signal.SIG_DFL)
    # Nor may a core file of SIGQUIT or SIGXCPU land in the folder.
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


class Case:
    def __init__(self, qovrin, work, row):
        self.row = row
        self.folder = os.path.join(work, row.name)
        os.mkdir(self.folder)
        os.chmod(self.folder, 0o755)
        with open(os.path.join(self.folder, "main.qov"), "w") as handle:
            handle.write(row.source)
        for name in row.files:
            path = os.path.join(self.folder, name)
            with open(path, "wb") as handle:
                handle.write(OLD)
            if row.links and name not in row.replaced:
                os.link(path, path + ".alias")
        if row.fifo:
            os.mkfifo(os.path.join(self.folder, row.fifo))
        self.command = [qovrin, "main.qov", *row.arguments, "--no-progress"]
        self.names = sorted(os.listdir(self.folder))

    def restore(self):
        """Puts the old bytes back into the same files, links and all."""
        for name in self.row.files:
            path = os.path.join(self.folder, name)
            with open(path, "wb") as handle:
                handle.write(OLD)
            if self.row.owner is not None:
                os.chown(path, self.row.owner, self.row.owner)
            os.chmod(path, self.row.mode)

    def start(self):
        def prepare():
            default_signals()
            if self.row.nobody:
                as_nobody()

        return subprocess.Popen(self.command, cwd=self.folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, preexec_fn=prepare)

    def contents(self):
        return [read(os.path.join(self.folder, name)) for name in self.row.files]

    def drain_fifo(self):
        """Reads the FIFO once, so that one run can finish."""
        def drain():
            with open(os.path.join(self.folder, self.row.fifo), "rb") as handle:
                handle.read()

        reader = threading.Thread(target=drain)
        reader.start()
        return reader

    def cut_begun(self):
        return any(os.stat(os.path.join(self.folder, name)).st_size != len(OLD) for name in self.row.files)


def interrupt(case, run, number, duration, rng, watch):
    """Sends the signal at a random moment of the run, or of its writing."""
    deadline = time.monotonic() + 10 * duration + 5
    if watch:
        while run.poll() is None and not case.cut_begun() and time.monotonic() < deadline:
            pass
        time.sleep(rng.uniform(0, duration / 8))
    else:
        time.sleep(rng.uniform(0, duration))
    if run.poll() is None:
        run.send_signal(number)
    try:
        run.communicate(timeout=5 + 20 * duration)
    except subprocess.TimeoutExpired:
        run.kill()
        run.communicate()
        return False
    return True


def check_row(qovrin, work, row, rng, failures):
    case = Case(qovrin, work, row)
    case.restore()
    reader = case.drain_fifo() if row.fifo else None
    began = time.monotonic()
    clean = case.start()
    _, err = clean.communicate(timeout=120)
    duration = time.monotonic() - began
    if reader:
        reader.join()
    if clean.returncode != 0:
        failures.append(f"{row.name}: the uninterrupted run failed: {err[-400:]!r}")
        return
    new = case.contents()
    if any(content == OLD for content in new):
        failures.append(f"{row.name}: the uninterrupted run left a file as it was")
        return
    for number in SIGNALS:
        for attempt in range(TRIES):
            case.restore()
            run = case.start()
            what = f"{row.name}: {signal.Signals(number).name} try {attempt}"
            if not interrupt(case, run, number, duration, rng, watch=attempt % 2 == 0):
                failures.append(f"{what}: the run outlived its signal")
            contents = case.contents()
            if contents != [OLD] * len(contents) and contents != new:
                sizes = [len(content) for content in contents]
                failures.append(f"{what}: files neither all old nor all new (sizes {sizes}, "
                                f"status {run.returncode})")
            for name in row.files:
                status = os.stat(os.path.join(case.folder, name))
                owner = os.geteuid() if row.owner is None else row.owner
                if (status.st_mode & 0o7777, status.st_uid) != (row.mode, owner):
                    failures.append(f"{what}: {name} has mode {status.st_mode & 0o7777:o} and owner "
                                    f"{status.st_uid}")
            if sorted(os.listdir(case.folder)) != case.names:
                failures.append(f"{what}: the folder holds {sorted(os.listdir(case.folder))}")


def main():
    qovrin = os.path.abspath(sys.argv[1])
    moments = int(os.environ.get("QOVRIN_KILL_MOMENTS", time.time_ns()))
    rng = random.Random(moments)
    failures = []
    with tempfile.TemporaryDirectory(prefix="qovrin-interrupted-") as work:
        os.chmod(work, 0o755)
        for row in ROWS:
            if row.nobody and os.geteuid() != 0:
                print(f"skipped {row.name}: written as nobody only where the tests run as root")
                continue
            check_row(qovrin, work, row, rng, failures)
    for failure in failures:
        print("FAIL", failure)
    if failures:
        print(f"QOVRIN_KILL_MOMENTS={moments} repeats the moments")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
