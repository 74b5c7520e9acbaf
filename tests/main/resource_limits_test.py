#!/usr/bin/env python3
"""Runs the qovrin command against hostile inputs and lowered process limits:
special files through every file input, exhausted memory, statement nesting
at its limit on a small stack, a file size limit below the output, and
termination signals while the output is written.

usage: resource_limits_test.py <qovrin> [--sanitized]

With --sanitized (an AddressSanitizer build) the address-space limit cannot
be lowered, so the memory cases are skipped, and the nesting cases run on
the default stack.
"""
import os
import re
import resource
import signal
import subprocess
import sys
import tempfile
import time

# Far above what any case needs: a hang fails the case instead of the suite.
TIMEOUT = 60

FILE_INPUTS = [
    ('include("{}")', "IncludeNotAvailable"),
    ('import("{}")', "IncludeNotAvailable"),
    ('emit.file("{}")', "FileNotAvailable"),
    ('emit.file("{}", 0, 16)', "FileNotAvailable"),
    ('let t = fs.read_text("{}")', "FileNotAvailable"),
    ('let b = fs.read_bytes("{}")', "FileNotAvailable"),
    ('let b = fs.read_bytes("{}", 0, 16)', "FileNotAvailable"),
    ('let l = fs.list_dir("{}")', "FileNotAvailable"),
    ('let j = json.file("{}")', "FileNotAvailable"),
    ('let t = toml.file("{}")', "FileNotAvailable"),
]

# Each answers with one output byte: 1 when the test says yes.
FILE_TESTS = ["fs.exists", "fs.is_dir"]

MEMORY_HOGS = [
    # A string doubled until no allocation can hold it.
    'let s = "ab"\nfor i in range(0, 64) {\n  s = sym.join(s, s)\n}\n',
    # One padding run larger than the whole address space the run may use.
    "pad(1 << 30)\n",
    "let b = bytes.repeat(1 << 30, 0x78)\n",
    # A file larger than the address space, read whole.
    'emit.file("{big}")\n',
    'let b = fs.read_bytes("{big}")\n',
]
# Out of memory in a deferred block: the run's one error names it, without
# notes that would need memory.
DEFERRED_HOG = "defer {\n  let b = bytes.repeat(1 << 30, 0x78)\n}\n"
LOCATED_OUT_OF_MEMORY = r"\.qov:\d+:\d+: error: lowering failed: OutOfMemory$"
# A sparse file: its size costs no disk.
BIG_FILE_SIZE = 2 << 30

NESTED_HEADERS = {
    "block": "{{",
    "if": "if 1 == 1 {{",
    "while": "while 0 == 1 {{",
    "for": "for i{} in range(0, 1) {{",
    "fn": "fn f{}() {{",
    "macro": "macro m{}() {{",
}
NESTING_LIMIT = 1000

# Far below what the memory cases ask for, far above what a run needs.
ADDRESS_SPACE = 768 << 20

# A 32 MiB image fits in this address space, its listing of some 240 MB does not.
LISTING_HOG = "pad(1 << 25)\n"
LISTING_ADDRESS_SPACE = 256 << 20

TERMINATION_SIGNALS = [signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM]
# Large enough that writing it takes a while, so that a signal can be sent
# while the temporary file exists.
SLOW_OUTPUT = "pad(1 << 28)\n"


class Runner:
    def __init__(self, qovrin, work):
        self.qovrin = qovrin
        self.work = work
        self.failures = []

    def run(self, name, source, limits=(), extra=()):
        path = os.path.join(self.work, name + ".qov")
        with open(path, "w") as handle:
            handle.write(source)
        output = os.path.join(self.work, name + ".bin")

        def lower_limits():
            for which, value in limits:
                resource.setrlimit(which, (value, value))

        try:
            return subprocess.run([self.qovrin, path, "-o", output, "--no-progress", *extra], cwd=self.work,
                                  capture_output=True, timeout=TIMEOUT, preexec_fn=lower_limits), output
        except subprocess.TimeoutExpired:
            self.failures.append(f"{name}: still running after {TIMEOUT} s")
            return None, output

    def expect(self, name, condition, run):
        if not condition:
            detail = "" if run is None else f" (status {run.returncode}, stderr {run.stderr[-400:]!r})"
            self.failures.append(name + detail)


def check_file_inputs(runner):
    work = runner.work
    os.mkfifo(os.path.join(work, "pipe"))
    os.symlink("pipe", os.path.join(work, "pipe-link"))
    with open(os.path.join(work, "data.bin"), "wb") as handle:
        handle.write(bytes(range(32)))
    os.symlink("data.bin", os.path.join(work, "data-link"))

    for target in ("pipe", "pipe-link", "/dev/zero"):
        for index, (form, error) in enumerate(FILE_INPUTS):
            name = f"input-{os.path.basename(target)}-{index}"
            run, output = runner.run(name, form.format(target) + "\n")
            if run is None:
                continue
            stderr = run.stderr.decode("utf-8", "replace")
            runner.expect(f"{name}: {form.format(target)} fails with {error}",
                          run.returncode == 1 and f"lowering failed: {error}" in stderr and not os.path.exists(output),
                          run)
        for test in FILE_TESTS:
            name = f"test-{os.path.basename(target)}-{test}"
            source = f'if {test}("{target}") {{\n  db(1)\n}} else {{\n  db(0)\n}}\n'
            run, output = runner.run(name, source)
            if run is None:
                continue
            answer = open(output, "rb").read() if os.path.exists(output) else None
            runner.expect(f"{name}: {test} answers false", run.returncode == 0 and answer == b"\x00", run)

    # A link to a regular file is followed, and a window reads that window.
    run, output = runner.run("regular-link", 'emit.file("data-link", 4, 3)\nif fs.exists("data-link") {\n  db(9)\n}\n')
    if run is not None:
        answer = open(output, "rb").read() if os.path.exists(output) else None
        runner.expect("regular-link: window of a linked regular file", answer == bytes([4, 5, 6, 9]), run)


def check_memory(runner):
    big = os.path.join(runner.work, "big.bin")
    with open(big, "wb") as handle:
        handle.truncate(BIG_FILE_SIZE)
    cases = [(hog.replace("{big}", big), LOCATED_OUT_OF_MEMORY) for hog in MEMORY_HOGS]
    cases.append((DEFERRED_HOG, r"\Aerror: assembly failed: OutOfMemory\n\Z"))
    for index, (source, expected) in enumerate(cases):
        name = f"memory-{index}"
        output = os.path.join(runner.work, name + ".bin")
        with open(output, "wb") as handle:
            handle.write(b"old")
        run, output = runner.run(name, source, limits=[(resource.RLIMIT_AS, ADDRESS_SPACE)])
        if run is None:
            continue
        stderr = run.stderr.decode("utf-8", "replace")
        with open(output, "rb") as handle:
            kept = handle.read()
        reported = re.search(expected, stderr, re.MULTILINE)
        runner.expect(f"{name}: ends with OutOfMemory, exit 1, output untouched",
                      run.returncode == 1 and reported is not None and kept == b"old", run)


def check_listing_memory(runner):
    name = "memory-listing"
    output = os.path.join(runner.work, name + ".bin")
    listing = os.path.join(runner.work, name + ".lst")
    with open(output, "wb") as handle:
        handle.write(b"old")
    run, output = runner.run(name, LISTING_HOG, limits=[(resource.RLIMIT_AS, LISTING_ADDRESS_SPACE)],
                             extra=("--listing", listing))
    if run is None:
        return
    with open(output, "rb") as handle:
        kept = handle.read()
    runner.expect(f"{name}: a listing too large for memory fails with OutOfMemory before the output is written",
                  run.returncode == 1 and b"error: OutOfMemory" in run.stderr and kept == b"old"
                  and not os.path.exists(listing), run)


def temporaries(work, output=""):
    prefix = os.path.basename(output)
    return [name for name in os.listdir(work) if name.startswith(prefix) and ".tmp-" in name]


def check_file_size_limit(runner):
    name = "file-size"
    output = os.path.join(runner.work, name + ".bin")
    with open(output, "wb") as handle:
        handle.write(b"old")
    run, output = runner.run(name, "pad(65536)\n", limits=[(resource.RLIMIT_FSIZE, 4096)])
    if run is None:
        return
    with open(output, "rb") as handle:
        kept = handle.read()
    stderr = run.stderr.decode("utf-8", "replace")
    runner.expect(f"{name}: WriteFailed with its cause, the old output kept, no temporary file left",
                  run.returncode == 1 and stderr == f"error: WriteFailed\nnote: cannot write {output}: File too large\n"
                  and kept == b"old" and not temporaries(runner.work), run)


def interrupted_run(runner, name, signum):
    """Sends the signal once the run's temporary file exists. None when the
    run finished before the signal could catch it writing."""
    path = os.path.join(runner.work, name + ".qov")
    with open(path, "w") as handle:
        handle.write(SLOW_OUTPUT)
    output = os.path.join(runner.work, name + ".bin")
    with open(output, "wb") as handle:
        handle.write(b"old")
    # No core file from SIGQUIT in the scratch folder.
    child = subprocess.Popen([runner.qovrin, path, "-o", output, "--no-progress"], cwd=runner.work,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)))
    deadline = time.monotonic() + TIMEOUT
    while child.poll() is None and time.monotonic() < deadline:
        if temporaries(runner.work, output):
            child.send_signal(signum)
            break
        time.sleep(0.0005)
    else:
        if child.poll() is None:
            child.kill()
        child.communicate()
        return None
    child.communicate(timeout=TIMEOUT)
    # The rename came first: nothing was left to clean up.
    if child.returncode == 0:
        return None
    with open(output, "rb") as handle:
        return child.returncode, handle.read()


def check_termination_signals(runner):
    for signum in TERMINATION_SIGNALS:
        name = f"signal-{signum.name}"
        outcome = None
        for attempt in range(5):
            outcome = interrupted_run(runner, f"{name}-{attempt}", signum)
            if outcome is not None:
                break
        if outcome is None:
            runner.failures.append(f"{name}: the run never showed its temporary file")
            continue
        status, kept = outcome
        leftovers = temporaries(runner.work)
        if not (status == -signum and kept == b"old" and not leftovers):
            runner.failures.append(f"{name}: ends by the signal, old output kept, no temporary file left"
                                   f" (status {status}, output {kept[:8]!r}, left {leftovers})")


def nested(kind, depth):
    lines = [NESTED_HEADERS[kind].format(level) for level in range(depth)]
    lines.append("nop")
    lines += ["}"] * depth
    return "\n".join(lines) + "\n"


def check_nesting(runner, sanitized):
    limits = [] if sanitized else [(resource.RLIMIT_STACK, 1 << 20)]
    for kind in NESTED_HEADERS:
        run, _ = runner.run(f"nest-{kind}", nested(kind, NESTING_LIMIT), limits=limits)
        if run is not None:
            runner.expect(f"nest-{kind}: {NESTING_LIMIT} levels pass", run.returncode == 0, run)
        run, _ = runner.run(f"deeper-{kind}", nested(kind, NESTING_LIMIT + 1), limits=limits)
        if run is not None:
            runner.expect(f"deeper-{kind}: one level more fails with NestingTooDeep",
                          run.returncode == 1 and b"NestingTooDeep" in run.stderr, run)


def main():
    qovrin = os.path.abspath(sys.argv[1])
    sanitized = "--sanitized" in sys.argv[2:]
    with tempfile.TemporaryDirectory(prefix="qovrin-limits-") as work:
        runner = Runner(qovrin, work)
        check_file_inputs(runner)
        if sanitized:
            print("address-space limit unavailable under the sanitizer: memory cases skipped")
        else:
            check_memory(runner)
            check_listing_memory(runner)
        check_nesting(runner, sanitized)
        check_file_size_limit(runner)
        check_termination_signals(runner)
    for failure in runner.failures:
        print("FAIL", failure)
    return 1 if runner.failures else 0


if __name__ == "__main__":
    sys.exit(main())
