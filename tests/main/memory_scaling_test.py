#!/usr/bin/env python3
"""Runs the qovrin command under limits on its address space and its stack:
more memory never fails where less succeeds, nor a larger stack limit where a
smaller one does, a large program needs about the memory it uses, the
smallest work stack is taken where only it fits, and a run without a thread
of its own holds on a small process stack.

Where the limits are so tight that the system's dynamic loader itself gives
up before the program runs, a signal is not counted as the program's.

usage: memory_scaling_test.py <qovrin> <bench folder> [--sanitized]

With --sanitized (an AddressSanitizer build) the address space cannot be
limited and the shadow memory makes peaks meaningless: the test skips (77).
"""
import ctypes
import os
import re
import resource
import subprocess
import sys
import tempfile

TIMEOUT = 120


def nested_ifs(depth, body="db(1)"):
    return "if 1 == 1 {\n" * depth + body + "\n" + "}\n" * depth


# Each must assemble at every limit (KiB) from the first one at which it does.
SMALL_LIMITS = [9000, 11000, 12000, 13000, 14000, 16000, 17000, 20000, 24000, 32000, 48000]
GROWING_PROGRAMS = [
    ("repeat", "let b = bytes.repeat(2048 * 1024, 0x78)\n", SMALL_LIMITS),
    ("nested", nested_ifs(200), SMALL_LIMITS),
    # Room reserved ahead for a large source's lines must not starve the heap.
    ("data", "db(1)\n" * 1_000_000, range(18000, 48000, 1000)),
]

# Large programs that must assemble under four times their own peak memory.
PEAK_FACTOR = 4
LARGE_PROGRAMS = {
    "db-lines": "".join(f"db({index & 255})\n" for index in range(1_000_000)),
    "let-sum": "let s = " + " + ".join(["1"] * 100_000) + "\ndq(s)\n",
}

# A tight address space under which no thread's stack is worth having, and
# process stacks down to the smallest that holds a statement's work.
THREADLESS_ADDRESS_SPACE = 9 << 20
SMALL_STACKS = [64 << 10, 128 << 10]
# Stacks from one too small for a statement to one that holds it: each either
# runs a flat statement or refuses it before it starts.
TIGHT_STACKS = [size << 10 for size in range(18, 72, 2)]
REFUSED_UP_FRONT = re.compile(rb"\Aerror: OutOfMemory\nnote: the \d+ KiB of stack this run could get are too small to "
                              rb"work on \(it asks for \d+ MiB\)\n\Z")
# Sources that nest through every road the stack must stop: blocks, a body
# copied whole, an expression, a value, a TOML document.
SMALL_STACK_SOURCES = {
    "nested-if": nested_ifs(999),
    "nested-macro": "".join(f"macro m{level}() {{\n" for level in range(1000)) + "nop\n" + "}\n" * 1000,
    "unary": nested_ifs(10, "db(" + "-" * 300 + "1)"),
    "value": "let l = list.of(1)\nlet i = 0\nwhile i < 1100 {\n  l = list.of(l)\n  i = i + 1\n}\n",
    "toml": 'let t = toml.parse(bytes.concat(b"a = ", bytes.repeat(100000, 0x5b)))\n',
}
STACK_NOTE = re.compile(r"note: nesting this deep does not fit in the (\d+) (KiB|MiB) stack this run could get")

# The address-space limits (KiB) searched for the smallest work stack, and the
# program that tells the stack it got: calls nested inside each other, each
# from a body nested near the limit, deeper than any stack holds.
SEARCH_FROM, SEARCH_TO = 8 << 10, 96 << 10
SMALLEST_WORK_STACK = 4 << 20
SMALLEST_WORK_STACK_NOTE = b"does not fit in the 4 MiB stack"
# The share grows by a page for every four more, so the smallest stack is
# had over a band of limits 16 KiB wide just above where the stack first
# reaches its size.
SCAN_ABOVE = 48
DEEP_CALLS = "fn down(k) {\n" + nested_ifs(990, "if k > 0 {\n  down(k - 1)\n}") + "}\ndown(127)\n"

# A program whose heap, not its stack, decides where it assembles, the limits
# searched for where it starts to, and the stack limits tried on either side
# of that: a larger stack limit must not fail where a smaller one passes.
HEAP_BOUND = "mov eax, " + " + ".join(["1"] * 100_000) + "\n"
HEAP_SEARCH_FROM, HEAP_SEARCH_TO = 8 << 10, 64 << 10
HEAP_SIDES = [-256, 256]
# A few pages above the bound, for what the loader's layout changes from run
# to run.
HEAP_ABOVE = 16
STACK_LIMITS = [size << 10 for size in (64, 128, 256, 512, 768, 1024, 2048, 4096, 8192)]

# The loader's layout fixed, so that a run and the probe that stands for it
# meet the same fate in the loader.
ADDR_NO_RANDOMIZE = 0x0040000


def fix_layout():
    """Turns address-space randomisation off for this process and what it
    runs, where the system lets it."""
    personality = ctypes.CDLL(None, use_errno=True).personality
    current = personality(0xFFFFFFFF)
    if current != -1:
        personality(current | ADDR_NO_RANDOMIZE)


class Runner:
    def __init__(self, qovrin, work):
        self.qovrin = qovrin
        self.work = work
        self.failures = []
        self.loader_gave_up = []

    def write(self, name, source):
        path = os.path.join(self.work, name + ".qov")
        with open(path, "w") as handle:
            handle.write(source)
        return path

    def run(self, path, address_space=None, stack=None, fixed=False, extra=()):
        def lower_limits():
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
            if address_space is not None:
                resource.setrlimit(resource.RLIMIT_AS, (address_space, address_space))
            if stack is not None:
                resource.setrlimit(resource.RLIMIT_STACK, (stack, stack))
            if fixed:
                fix_layout()

        output = path[:-4] + ".bin"
        if os.path.exists(output):
            os.remove(output)
        return subprocess.run([self.qovrin, path, "-o", output, "--no-progress", *extra], cwd=self.work,
                              capture_output=True, timeout=TIMEOUT, preexec_fn=lower_limits)

    def expect(self, name, condition, run=None):
        if not condition:
            detail = "" if run is None else f" (status {run.returncode}, stderr {run.stderr[-300:]!r})"
            self.failures.append(name + detail)

    def started(self, name, run, path, address_space=None, stack=None):
        """Whether a run made with a fixed layout got past the loader: where
        it ended by a signal and so does the version query given the same
        arguments and one more, under the same limits, the loader gave up
        before the program ran."""
        if run.returncode >= 0:
            return True
        probe = self.run(path, address_space, stack, fixed=True, extra=["-V"])
        if probe.returncode >= 0:
            return True
        self.loader_gave_up.append(name)
        return False


def check_growing_limits(runner):
    for name, source, limits in GROWING_PROGRAMS:
        path = runner.write(name, source)
        outcomes = [(limit, runner.run(path, address_space=limit << 10)) for limit in limits]
        passed = [limit for limit, run in outcomes if run.returncode == 0]
        runner.expect(f"{name}: assembles at some limit", bool(passed))
        for limit, run in outcomes:
            if passed and limit > passed[0]:
                runner.expect(f"{name}: assembles at {limit} KiB as at {passed[0]} KiB", run.returncode == 0, run)
            runner.expect(f"{name} at {limit} KiB: no signal", run.returncode in (0, 1), run)


def check_peak_headroom(runner, bench):
    sys.path.insert(0, bench)
    from child_usage import Child

    for name, source in LARGE_PROGRAMS.items():
        path = runner.write(name, source)
        code, usage = Child([runner.qovrin, path, "-o", path[:-4] + ".bin", "--no-progress"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).finish()
        runner.expect(f"{name}: assembles without a limit", code == 0 and usage is not None)
        if usage is None:
            continue
        limit = PEAK_FACTOR * usage.peak_kib << 10
        run = runner.run(path, address_space=limit)
        runner.expect(f"{name}: assembles under {PEAK_FACTOR} x its peak of {usage.peak_kib} KiB", run.returncode == 0,
                      run)


def stack_of(run):
    """The stack the run said it got, in bytes; None when it said nothing."""
    found = STACK_NOTE.search(run.stderr.decode("utf-8", "replace"))
    if found is None:
        return None
    return int(found.group(1)) << (10 if found.group(2) == "KiB" else 20)


def check_smallest_work_stack(runner):
    """Just where a thread becomes worth having, it gets the smallest work
    stack, which holds a file at its nesting limits."""
    deep = runner.write("deep-calls", DEEP_CALLS)
    low, high = SEARCH_FROM, SEARCH_TO
    high_stack = stack_of(runner.run(deep, address_space=high << 10))
    runner.expect(f"deep calls at {high} KiB: a stack of at least the smallest",
                  high_stack is not None and high_stack >= SMALLEST_WORK_STACK)
    while high - low > 4:
        middle = (low + high) // 2 // 4 * 4
        stack = stack_of(runner.run(deep, address_space=middle << 10))
        if stack is not None and stack >= SMALLEST_WORK_STACK:
            high = middle
        else:
            low = middle
    # On the process's own stack the size also counts what lies above the
    # run's first frame, which varies from run to run by some KiB and is told
    # in KiB; a thread's stack is the share exactly, told in MiB.
    exact = [limit for limit in range(high, high + SCAN_ABOVE, 4)
             if SMALLEST_WORK_STACK_NOTE in runner.run(deep, address_space=limit << 10).stderr]
    runner.expect(f"within {SCAN_ABOVE} KiB above {high} KiB: a limit with exactly the smallest work stack", exact)
    if exact:
        nested = runner.write("smallest-nested", nested_ifs(999))
        run = runner.run(nested, address_space=exact[0] << 10)
        runner.expect(f"at {exact[0]} KiB: 999 nested ifs assemble on the smallest work stack", run.returncode == 0, run)


def output_of(path):
    output = path[:-4] + ".bin"
    if not os.path.exists(output):
        return None
    with open(output, "rb") as handle:
        return handle.read()


def check_threadless(runner):
    """Under a tight address space the run stays on the process's own stack;
    on a small one it still assembles a line, and nesting stops with a note
    on the stack, never with a signal."""
    line = runner.write("one-line", "db(1)\n")
    for stack in SMALL_STACKS:
        run = runner.run(line, address_space=THREADLESS_ADDRESS_SPACE, stack=stack)
        runner.expect(f"db(1) on a {stack >> 10} KiB stack under {THREADLESS_ADDRESS_SPACE >> 20} MiB: assembles",
                      run.returncode == 0 and output_of(line) == b"\x01", run)
        for name, source in SMALL_STACK_SOURCES.items():
            path = runner.write(name, source)
            run = runner.run(path, address_space=THREADLESS_ADDRESS_SPACE, stack=stack)
            stderr = run.stderr.decode("utf-8", "replace")
            told = run.returncode == 1 and ("OutOfMemory" in stderr or STACK_NOTE.search(stderr) is not None)
            runner.expect(f"{name} on a {stack >> 10} KiB stack: refused with its cause", told, run)

    # A stack that cannot hold one statement's work is refused before any.
    name = "db(1) on a 16 KiB stack"
    run = runner.run(line, address_space=THREADLESS_ADDRESS_SPACE, stack=16 << 10, fixed=True)
    if runner.started(name, run, line, THREADLESS_ADDRESS_SPACE, 16 << 10):
        runner.expect(f"{name}: OutOfMemory with a note on the stack",
                      run.returncode == 1 and run.stderr.startswith(b"error: OutOfMemory\nnote: the ")
                      and b"too small to work on" in run.stderr, run)

    # Between the two, a flat statement never stops as nested too deep.
    for stack in TIGHT_STACKS:
        name = f"db(1) on a {stack >> 10} KiB stack"
        run = runner.run(line, address_space=THREADLESS_ADDRESS_SPACE, stack=stack, fixed=True)
        if runner.started(name, run, line, THREADLESS_ADDRESS_SPACE, stack):
            runner.expect(f"{name}: assembles or is refused before it starts",
                          (run.returncode == 0 and output_of(line) == b"\x01")
                          or (run.returncode == 1 and REFUSED_UP_FRONT.match(run.stderr)), run)


def check_start_up(runner):
    """From where the program cannot even be loaded up to where it runs, each
    limit ends in a status of its own, never an abort."""
    line = runner.write("start-up", "db(1)\n")
    for limit in range(6 << 10, 10 << 10, 4):
        name = f"db(1) at {limit} KiB"
        run = runner.run(line, address_space=limit << 10, fixed=True)
        if runner.started(name, run, line, limit << 10):
            runner.expect(f"{name}: no signal", run.returncode >= 0, run)


def check_stack_limits(runner):
    """Under one address-space limit a larger stack limit never fails where a
    smaller one passes: the stack takes its share of the limit whether the
    stack limit lets it use all of it or not. So just above the bound found
    under the usual stack limit every stack limit assembles."""
    path = runner.write("heap-bound", HEAP_BOUND)
    low, high = HEAP_SEARCH_FROM, HEAP_SEARCH_TO
    runner.expect(f"heap-bound: assembles at {high} KiB", runner.run(path, address_space=high << 10).returncode == 0)
    while high - low > 4:
        middle = (low + high) // 2 // 4 * 4
        if runner.run(path, address_space=middle << 10).returncode == 0:
            high = middle
        else:
            low = middle
    most = resource.getrlimit(resource.RLIMIT_STACK)[1]
    stacks = [stack for stack in STACK_LIMITS if most == resource.RLIM_INFINITY or stack <= most]
    for side in HEAP_SIDES:
        limit = high + side
        outcomes = [(stack, runner.run(path, address_space=limit << 10, stack=stack)) for stack in stacks]
        passed = [stack for stack, run in outcomes if run.returncode == 0]
        for stack, run in outcomes:
            name = f"heap-bound at {limit} KiB with a {stack >> 10} KiB stack"
            runner.expect(f"{name}: no signal", run.returncode in (0, 1), run)
            if passed and stack > passed[0]:
                runner.expect(f"{name}: assembles as with a {passed[0] >> 10} KiB stack", run.returncode == 0, run)
    limit = high + HEAP_ABOVE
    for stack in stacks:
        runner.expect(f"heap-bound at {limit} KiB, just above the bound, with a {stack >> 10} KiB stack: assembles",
                      runner.run(path, address_space=limit << 10, stack=stack).returncode == 0)


def main():
    qovrin = os.path.abspath(sys.argv[1])
    bench = os.path.abspath(sys.argv[2])
    if "--sanitized" in sys.argv[3:]:
        print("address-space limits unavailable under the sanitizer: skipped")
        return 77
    with tempfile.TemporaryDirectory(prefix="qovrin-memory-") as work:
        runner = Runner(qovrin, work)
        check_growing_limits(runner)
        check_peak_headroom(runner, bench)
        check_smallest_work_stack(runner)
        check_threadless(runner)
        check_start_up(runner)
        check_stack_limits(runner)
    if runner.loader_gave_up:
        print(f"the loader gave up before the program ran, not counted: {', '.join(runner.loader_gave_up)}")
    for failure in runner.failures:
        print("FAIL", failure)
    return 1 if runner.failures else 0


if __name__ == "__main__":
    sys.exit(main())
