#!/usr/bin/env python3
"""Runs the qovrin command against hostile inputs and lowered process limits:
special files through every file input and as the project file, files far
larger than a run may take, exhausted memory (on the process's own stack
too), statement nesting at its limit
on a small stack with a large environment, nesting on whatever smaller stack
can be had, a file size limit below the output or the listing, a
write-protected listing, and termination signals while the output or the
listing is written.

usage: resource_limits_test.py <qovrin> [--sanitized]

With --sanitized (an AddressSanitizer build) the address-space limit cannot
be lowered, so the memory cases are skipped and the size cases run without
it; the deepest include chain, which takes the sanitizer most of a minute,
is left out there too.
"""
import os
import platform
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
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
# A sparse file, as large as fs.read_bytes may read (larger ones are refused
# by their size, before any memory is asked for); its size costs no disk.
BIG_FILE_SIZE = 1 << 30

NESTED_HEADERS = {
    "block": "{{",
    "if": "if 1 == 1 {{",
    "while": "while 0 == 1 {{",
    "for": "for i{} in range(0, 1) {{",
    "fn": "fn f{}() {{",
    "macro": "macro m{}() {{",
}
NESTING_LIMIT = 1000
INCLUDE_LIMIT = 128

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

    def run(self, name, source, limits=(), extra=(), env=None):
        path = os.path.join(self.work, name + ".qov")
        with open(path, "w") as handle:
            handle.write(source)
        output = os.path.join(self.work, name + ".bin")
        return self.command(name, [path, "-o", output, *extra], self.work, limits, env), output

    def command(self, name, arguments, cwd, limits=(), env=None):
        def lower_limits():
            for which, value in limits:
                resource.setrlimit(which, (value, value))

        try:
            return subprocess.run([self.qovrin, *arguments, "--no-progress"], cwd=cwd, capture_output=True,
                                  timeout=TIMEOUT, preexec_fn=lower_limits, env=env)
        except subprocess.TimeoutExpired:
            self.failures.append(f"{name}: still running after {TIMEOUT} s")
            return None

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


def read_output(output):
    if not os.path.exists(output):
        return None
    with open(output, "rb") as handle:
        return handle.read()


# The numbers of open and openat, by machine.
OPEN_CALLS = {"x86_64": ("2", "257"), "aarch64": ("56",)}


def in_open(thread):
    """Whether the thread waits in an open system call; on a machine whose
    numbers are not known, taken as so."""
    calls = OPEN_CALLS.get(platform.machine())
    if calls is None:
        return True
    try:
        with open(f"/proc/self/task/{thread.native_id}/syscall") as handle:
            return handle.read().split()[0] in calls
    except OSError:
        return False


def check_waiting_writer(runner):
    """Looking at a FIFO, or failing to read it, never opens it: a writer
    waiting for a reader stays waiting."""
    fifo = os.path.join(runner.work, "waited")
    os.mkfifo(fifo)
    released = threading.Event()

    def writer():
        os.close(os.open(fifo, os.O_WRONLY))
        released.set()

    thread = threading.Thread(target=writer, daemon=True)
    thread.start()
    # Only a writer already waiting in its open can be released by mistake.
    deadline = time.monotonic() + TIMEOUT
    while not in_open(thread) and time.monotonic() < deadline:
        time.sleep(0.001)
    try:
        forms = [form for form, _ in FILE_INPUTS] + [f'let a = {test}("{{}}")' for test in FILE_TESTS]
        for index, form in enumerate(forms):
            name = f"waiting-{index}"
            run, _ = runner.run(name, form.format("waited") + "\n")
            runner.expect(f"{name}: {form.format('waited')} leaves the writer waiting",
                          run is not None and not released.is_set(), run)
    finally:
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        thread.join(TIMEOUT)
        os.close(reader)


def check_project_inputs(runner, limits):
    """The project file and its [include] files are read only when they are
    regular files; the source on the command line may still be a pipe, but
    not a device."""
    cases = [
        ("project-fifo", None, "qovrin.toml"),
        ("listed-fifo", '[include]\nfiles = ["pipe"]\n', "pipe"),
        ("listed-device", '[include]\nfiles = ["/dev/zero"]\n', "/dev/zero"),
    ]
    for name, project, refused in cases:
        folder = os.path.join(runner.work, name)
        os.makedirs(os.path.join(folder, "src"))
        with open(os.path.join(folder, "src", "main.qov"), "w") as handle:
            handle.write("db(1)\n")
        if project is None:
            os.mkfifo(os.path.join(folder, "qovrin.toml"))
        else:
            os.mkfifo(os.path.join(folder, "pipe"))
            with open(os.path.join(folder, "qovrin.toml"), "w") as handle:
                handle.write(project)
        run = runner.command(name, ["build"], folder, limits)
        if run is None:
            continue
        stderr = run.stderr.decode("utf-8", "replace")
        runner.expect(f"{name}: {refused} is refused as no regular file",
                      run.returncode == 1 and stderr.startswith("error: ReadFailed\n") and
                      f"'{refused}' is not a regular file" in stderr and
                      not os.path.exists(os.path.join(folder, "build", "app.bin")), run)

    source = os.path.join(runner.work, "piped.qov")
    os.mkfifo(source)

    def feed():
        with open(source, "w") as handle:
            handle.write("db(7)\n")

    thread = threading.Thread(target=feed, daemon=True)
    thread.start()
    output = os.path.join(runner.work, "piped.bin")
    run = runner.command("piped-source", [source, "-o", output], runner.work, limits)
    thread.join(TIMEOUT)
    runner.expect("piped-source: a source read from a pipe assembles", read_output(output) == b"\x07", run)

    output = os.path.join(runner.work, "stdin.bin")
    run = subprocess.run([runner.qovrin, "/dev/stdin", "-o", output, "--no-progress"], cwd=runner.work,
                         input=b"db(8)\n", capture_output=True, timeout=TIMEOUT)
    runner.expect("stdin-source: /dev/stdin read from a pipe assembles", read_output(output) == b"\x08", run)
    # Were the device read, only the address-space limit would end the run.
    if limits:
        output = os.path.join(runner.work, "device.bin")
        run = runner.command("device-source", ["/dev/zero", "-o", output], runner.work, limits)
        runner.expect("device-source: /dev/zero as the source is refused before it is read",
                      run is not None and run.returncode == 1 and run.stderr.decode() ==
                      "error: ReadFailed\nnote: '/dev/zero' is a device, not a file or a pipe\n" and
                      read_output(output) is None, run)


SIZE_REFUSED = [
    'emit.file("huge.bin")',
    'emit.file("huge.bin", 0, 0x80000001)',
    'let b = fs.read_bytes("huge.bin")',
    'let t = fs.read_text("huge.bin")',
    'let j = json.file("huge.bin")',
]

SIZE_READ = [
    # A window at the end of the file costs its length.
    ('emit.file("huge.bin", 0xbffffffc, 4)\n', bytes(4)),
    # Files under /proc report no size; a window reads what is there.
    ('emit.file("/proc/self/status", 0, 5)\nemit.bytes(fs.read_bytes("/proc/self/status", 0, 5))\n', b"Name:Name:"),
]


def check_size_first(runner, limits):
    """A file larger than a run may take is refused by its size, before it is
    read: quickly, and with OutputTooLarge even under a memory limit."""
    with open(os.path.join(runner.work, "huge.bin"), "wb") as handle:
        handle.truncate(3 << 30)
    for index, form in enumerate(SIZE_REFUSED):
        name = f"size-{index}"
        run, output = runner.run(name, form + "\n", limits=limits)
        if run is None:
            continue
        stderr = run.stderr.decode("utf-8", "replace")
        runner.expect(f"{name}: {form} fails with OutputTooLarge",
                      run.returncode == 1 and "lowering failed: OutputTooLarge" in stderr and
                      not os.path.exists(output), run)
    for index, (source, expected) in enumerate(SIZE_READ):
        name = f"size-read-{index}"
        run, output = runner.run(name, source, limits=limits)
        runner.expect(f"{name}: reads {expected!r}", read_output(output) == expected, run)


def check_memory(runner):
    big = os.path.join(runner.work, "big.bin")
    with open(big, "wb") as handle:
        handle.truncate(BIG_FILE_SIZE)
    cases = [(hog.replace("{big}", big), LOCATED_OUT_OF_MEMORY) for hog in MEMORY_HOGS]
    cases.append((DEFERRED_HOG, r"\A.*\.qov:2:3: note: failed here\n.*\.qov:1:1: note: in this defer block\n"
                                r"error: assembly failed: OutOfMemory\n\Z"))
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


# Enough for a run that asks for no digest, too little for loading libcrypto
# the first time one is asked for.
DIGEST_ADDRESS_SPACE = 11 * 1000 * 1000


def check_digest_memory(runner):
    name = "memory-digest"
    run, _ = runner.run(name, 'db(1)\ndb(crypto.sha256("abc"))\n', limits=[(resource.RLIMIT_AS, DIGEST_ADDRESS_SPACE)])
    if run is None:
        return
    stderr = run.stderr.decode("utf-8", "replace")
    runner.expect(f"{name}: a digest library that does not fit in memory is OutOfMemory at its line",
                  run.returncode == 1 and re.search(r":2:1: error: lowering failed: OutOfMemory", stderr), run)


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


# 2^40 calls: no limit ends it, only the time it takes.
LONG_COMPUTATION = ("fn f(n: u64) -> u64 {\n  if n == 0 {\n    return 1\n  }\n  return f(n - 1) + f(n - 1)\n}\n"
                    "db(f(40) & 0xff)\n")


def check_long_computation(runner):
    """Limits bound nesting, not work: a function that calls itself twice per
    level is still running after a while, and Ctrl-C then ends it with the
    output as it was."""
    path = os.path.join(runner.work, "long.qov")
    with open(path, "w") as handle:
        handle.write(LONG_COMPUTATION)
    output = os.path.join(runner.work, "long.bin")
    with open(output, "wb") as handle:
        handle.write(b"old")
    # As at a terminal, whatever the test runner's own SIGINT disposition is.
    child = subprocess.Popen([runner.qovrin, path, "-o", output, "--no-progress"], cwd=runner.work,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    time.sleep(1)
    running = child.poll() is None
    child.send_signal(signal.SIGINT)
    _, stderr = child.communicate(timeout=TIMEOUT)
    kept = read_output(output)
    if not (running and child.returncode == -signal.SIGINT and kept == b"old"):
        runner.failures.append(f"long computation: runs until interrupted, output kept (running after 1 s: {running},"
                               f" status {child.returncode}, output {kept[:8]!r}, stderr {stderr[-300:]!r})")


# An image that fits under the file size limit below, with a listing of some
# 30 KB that does not; and one whose 30 MB listing takes a while to write.
PAIR_SOURCE = "pad(4096)\n"
PAIR_SIZE_LIMIT = 16384
SLOW_PAIR_SOURCE = "pad(1 << 22)\n"


def unprivileged():
    """The command prefix that runs a child as an unprivileged user: none
    when the tests run as one, None when root has no way to drop."""
    if os.geteuid() != 0:
        return []
    if shutil.which("setpriv") is None:
        return None
    return ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def check_output_pair(runner):
    """The output and its listing are one pair: a run that cannot write one
    of them leaves both as they were, and so does a termination signal."""
    drop = unprivileged()

    def pair(name, source):
        folder = os.path.join(runner.work, name)
        os.mkdir(folder)
        os.chmod(runner.work, 0o755)
        os.chmod(folder, 0o777)
        path = os.path.join(folder, "pair.qov")
        with open(path, "w") as handle:
            handle.write(source)
        files = [os.path.join(folder, "pair.bin"), os.path.join(folder, "pair.lst")]
        for file in files:
            with open(file, "wb") as handle:
                handle.write(b"old")
        return folder, path, files

    def contents(files):
        result = []
        for file in files:
            with open(file, "rb") as handle:
                result.append(handle.read())
        return result

    def expect_refused(name, run, folder, files, error, cause):
        if run is None:
            return
        stderr = run.stderr.decode("utf-8", "replace")
        runner.expect(f"{name}: {error} for the listing, output and listing both old, no temporary file",
                      run.returncode == 1 and stderr == f"error: {error}\nnote: cannot write {files[1]}: {cause}\n"
                      and contents(files) == [b"old", b"old"] and not temporaries(folder), run)

    folder, path, files = pair("pair-size", PAIR_SOURCE)
    arguments = [path, "-o", files[0], "--listing", files[1]]
    run = runner.command("pair-size", arguments, folder, [(resource.RLIMIT_FSIZE, PAIR_SIZE_LIMIT)])
    expect_refused("pair-size", run, folder, files, "WriteFailed", "File too large")

    if drop is None:
        print("setpriv unavailable: the write-protected listing is not tried")
    else:
        folder, path, files = pair("pair-protected", PAIR_SOURCE)
        if drop:
            for file in files:
                os.chown(file, 65534, 65534)
        os.chmod(files[1], 0o444)
        run = subprocess.run([*drop, runner.qovrin, path, "-o", files[0], "--listing", files[1], "--no-progress"],
                             capture_output=True, timeout=TIMEOUT)
        expect_refused("pair-protected", run, folder, files, "AccessDenied", "Permission denied")

    # SIGTERM while the listing is written: before, the output had been
    # renamed already.
    for attempt in range(5):
        folder, path, files = pair(f"pair-signal-{attempt}", SLOW_PAIR_SOURCE)
        child = subprocess.Popen([runner.qovrin, path, "-o", files[0], "--listing", files[1], "--no-progress"],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.monotonic() + TIMEOUT
        while child.poll() is None and time.monotonic() < deadline and not temporaries(folder, files[1]):
            time.sleep(0.0005)
        if child.poll() is None:
            child.send_signal(signal.SIGTERM)
        child.communicate(timeout=TIMEOUT)
        if child.returncode == 0:
            continue
        output, listing = contents(files)
        runner.expect(f"pair-signal: ends by SIGTERM with output and listing both old, no temporary file "
                      f"(output {output[:8]!r}, listing {listing[:8]!r})",
                      child.returncode == -signal.SIGTERM and output == listing == b"old" and not temporaries(folder),
                      None)
        break
    else:
        runner.failures.append("pair-signal: the run never showed the listing's temporary file")


def nested(kind, depth, body="nop"):
    lines = [NESTED_HEADERS[kind].format(level) for level in range(depth)]
    lines.append(body)
    lines += ["}"] * depth
    return "\n".join(lines) + "\n"


def deferred(kind, depth):
    """The nesting inside a defer body, whose statements are copied again."""
    return "nop\ndefer {\n" + nested(kind, depth, 'print("in")') + "}\n"


def chained(index):
    """One file of the deepest include chain, each nested as deep as it may be."""
    inner = f'include("chain-{index + 1}.qov")' if index + 1 < INCLUDE_LIMIT else "nop"
    return nested("if", NESTING_LIMIT - 1, inner)


def check_nesting(runner, sanitized):
    """The limits hold on a 1 MiB stack of which a large environment takes a
    part, in every build."""
    limits = [(resource.RLIMIT_STACK, 1 << 20)]
    env = dict(os.environ, QOVRIN_TEST_PADDING="x" * 80000)
    cases = []
    for kind in NESTED_HEADERS:
        cases.append((f"nest-{kind}", nested(kind, NESTING_LIMIT), True))
        cases.append((f"deeper-{kind}", nested(kind, NESTING_LIMIT + 1), False))
    # The defer block is the first level; macros may not be defined there,
    # but their nesting is checked first.
    for kind in ("if", "while"):
        cases.append((f"defer-{kind}", deferred(kind, NESTING_LIMIT - 1), True))
    for kind in ("if", "while", "macro"):
        cases.append((f"defer-deeper-{kind}", deferred(kind, NESTING_LIMIT), False))
    if not sanitized:
        for index in range(1, INCLUDE_LIMIT):
            with open(os.path.join(runner.work, f"chain-{index}.qov"), "w") as handle:
                handle.write(chained(index))
        cases.append(("chain-0", chained(0), True))
    for name, source, passes in cases:
        run, _ = runner.run(name, source, limits=limits, env=env)
        if run is None:
            continue
        if passes:
            runner.expect(f"{name}: at the limit passes", run.returncode == 0, run)
        else:
            runner.expect(f"{name}: one level more fails with NestingTooDeep",
                          run.returncode == 1 and b"NestingTooDeep" in run.stderr, run)


# Under this address-space limit no 64 MiB stack can be had, but a smaller
# one can; the main stack is lowered too, for the run to go on on.
SMALL_STACK_LIMITS = "ulimit -v 65536; ulimit -s 1024"
STACK_NOTE = re.compile(rb"note: nesting this deep does not fit in the \d+ [KM]iB stack this run could get "
                        rb"\(it asks for \d+ MiB\)\n\Z")


def called_deep(depth):
    """Calls nested inside each other, each from a body nested near the
    limit: more than any stack smaller than the one the run asks for holds."""
    body = nested("if", NESTING_LIMIT - 10, "if k > 0 {\n  down(k - 1)\n}")
    return f"fn down(k) {{\n{body}}}\ndown({depth})\n"


def value_called_deep(depth):
    """The same through a value function, whose failure an expression's
    error carries out of the call."""
    body = nested("if", NESTING_LIMIT - 10, "if k > 0 {\n  return down(k - 1)\n}")
    return f"fn down(k) -> u64 {{\n{body}return 0\n}}\nlet x = down({depth})\n"


# Address-space limits under which not even the smallest work stack can be
# had, so the run goes on on the stack the process was started with.
THREADLESS_ADDRESS_SPACES = [11000, 12000, 13000, 14000]


def check_threadless_memory(runner):
    """On the process's own stack under an address-space limit, a heap that
    takes what the limit leaves cannot starve the stack: a run ends with
    OutOfMemory or NestingTooDeep, never a signal."""
    nesting = nested("macro", NESTING_LIMIT)
    for limit in THREADLESS_ADDRESS_SPACES:
        for taken in range(0, limit, 128):
            name = f"threadless-{limit}-{taken}"
            source = f"let b = bytes.repeat({taken} * 1024, 0x78)\n" + nesting
            run, _ = runner.run(name, source, limits=[(resource.RLIMIT_AS, limit << 10)])
            if run is None:
                continue
            told = run.returncode == 0 or (run.returncode == 1 and (b"OutOfMemory" in run.stderr or
                                                                    b"NestingTooDeep" in run.stderr))
            runner.expect(f"{name}: assembles or ends with OutOfMemory or NestingTooDeep", told, run)


def check_small_stack(runner, sanitized):
    """Where the work's stack cannot be had whole, nesting stops at the
    stack left: an error with a note, never a signal."""
    cases = [
        ("small-defer-if", deferred("if", NESTING_LIMIT - 1), False),
        ("small-nested-macro", nested("macro", NESTING_LIMIT), False),
        ("small-deep-calls", called_deep(127), True),
        ("small-deep-value-calls", value_called_deep(127), "value"),
    ]
    if sanitized:
        print("address-space limit unavailable under the sanitizer: smaller work stacks not tried")
    else:
        for name, source, refused in cases:
            path = os.path.join(runner.work, name + ".qov")
            with open(path, "w") as handle:
                handle.write(source)
            command = f'{SMALL_STACK_LIMITS}; exec "$0" "$1" -o "$2" --no-progress'
            run = subprocess.run(["bash", "-c", command, runner.qovrin, path, path + ".bin"], capture_output=True,
                                 timeout=TIMEOUT)
            told = run.returncode == 1 and b"NestingTooDeep" in run.stderr and STACK_NOTE.search(run.stderr)
            if refused == "value":
                # The expression's error names no limit: the note at the call does.
                named = b"NestingTooDeep" in run.stderr or re.search(
                    rb"^.*: note: the calls of 'down' nest deeper than the stack this run could get holds$",
                    run.stderr, re.M)
                told = (run.returncode == 1 and named and STACK_NOTE.search(run.stderr) and
                        b"130 to 400" not in run.stderr)
                runner.expect(f"{name}: refused with a note on the stack, at the call or after", told, run)
            elif refused:
                runner.expect(f"{name}: NestingTooDeep with a note on the stack it got", told, run)
            else:
                runner.expect(f"{name}: assembles or is refused with a note, never a signal",
                              run.returncode == 0 or told, run)

    # No thread at all: the work runs on the 1 MiB stack the process has.
    # An unprivileged user at its process limit cannot start one.
    drop = unprivileged()
    if drop is None:
        print("setpriv unavailable: the run without a thread is not tried")
        return
    folder = os.path.join(runner.work, "no-thread")
    os.mkdir(folder)
    os.chmod(runner.work, 0o755)
    os.chmod(folder, 0o777)
    path = os.path.join(folder, "defer.qov")
    with open(path, "w") as handle:
        handle.write(deferred("if", NESTING_LIMIT - 1))
    os.chmod(path, 0o644)
    # The leak checker would need a thread of its own at the end.
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
    command = 'ulimit -u 1; ulimit -s 1024; exec "$0" "$1" -o "$2" --no-progress'
    run = subprocess.run([*drop, "bash", "-c", command, runner.qovrin, path, path + ".bin"], capture_output=True,
                         timeout=TIMEOUT, env=env)
    runner.expect("no-thread: NestingTooDeep with a note on the stack it got",
                  run.returncode == 1 and b"NestingTooDeep" in run.stderr and STACK_NOTE.search(run.stderr), run)


def main():
    qovrin = os.path.abspath(sys.argv[1])
    sanitized = "--sanitized" in sys.argv[2:]
    with tempfile.TemporaryDirectory(prefix="qovrin-limits-") as work:
        runner = Runner(qovrin, work)
        limits = [] if sanitized else [(resource.RLIMIT_AS, ADDRESS_SPACE)]
        check_file_inputs(runner)
        check_waiting_writer(runner)
        check_project_inputs(runner, limits)
        check_size_first(runner, limits)
        if sanitized:
            print("address-space limit unavailable under the sanitizer: memory cases skipped")
        else:
            check_memory(runner)
            check_digest_memory(runner)
            check_listing_memory(runner)
            check_threadless_memory(runner)
        check_nesting(runner, sanitized)
        check_small_stack(runner, sanitized)
        check_file_size_limit(runner)
        check_termination_signals(runner)
        check_long_computation(runner)
        check_output_pair(runner)
    for failure in runner.failures:
        print("FAIL", failure)
    return 1 if runner.failures else 0


if __name__ == "__main__":
    sys.exit(main())
