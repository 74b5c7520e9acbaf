#!/usr/bin/env python3
"""Compares the per-line cost of instruction lines that hold a string, a
character constant or a parenthesis with the same lines written without
them, on x86-64, RV64 and SPIR-V, and prints the ratio of each pair.

Each shape fills a generated source of the given number of lines; the cost
of a line is the cost of assembling that source less the cost of a source of
one such line, divided by the line count. The cost is counted in executed
instructions under valgrind's callgrind where valgrind is installed: the
count does not change with other work on the machine, so one run of a
source is enough. Without valgrind (or with --measure time) it is the
processor time (user and system); each source is then assembled a few times
and the fastest run counts, which other work still disturbs.

Where both sources of a pair assemble to the same bytes, the quoted or
parenthesised line reads the same instruction as the plain one, and with
--check its cost must stay within the bound (10%) of the plain line's. The
other pairs (no plain spelling of an RV64 load or of a SPIR-V string) are
printed beside a plain line of the same size.

Usage: quoted_line_cost.py <qovrin> [--lines N] [--runs N] [--measure instructions|time] [--check]
"""

import argparse
import functools
import os
import re
import shutil
import subprocess
import sys
import tempfile

from child_usage import Child

# Counted instructions do not move with load, so the bound only has to leave
# room for the plain lines getting cheaper: the guard is against a quoted or
# parenthesised line being read again, which costs far more.
BOUND = 1.10

SPIRV_HEADER = "OpCapability Shader\nOpMemoryModel Logical GLSL450\n%1 = OpTypeFloat 32\n"

# (name, target, header, line with quotes or a parenthesis, plain line)
PAIRS = [
    ("x86 character constant", "x86-64", "", "mov eax, 'abcd'", "mov eax, 0x64636261"),
    ("x86 one-character compare", "x86-64", "", "cmp al, 'a'", "cmp al, 97"),
    ("x86 string with a backslash", "x86-64", "", "mov ax, \"a\\\"", "mov ax, 0x5c61"),
    ("x86 parenthesised immediate", "x86-64", "", "add ecx, (12)", "add ecx, 12"),
    ("rv64 load off a register", "rv64", "", "ld a0, 8(sp)", "addi a0, sp, 8"),
    ("rv64 store off a register", "rv64", "", "sd a1, 16(s0)", "addi a1, s0, 16"),
    ("spv name with a string", "spv", SPIRV_HEADER, "OpName %1 \"abc\"", "OpDecorate %1 Location 4"),
]


def processor_time(command, runs):
    """The fastest processor time of the command."""
    best = None
    for _ in range(runs):
        child = Child(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        code, usage = child.finish()
        if code != 0 or usage is None:
            raise SystemExit(f"{command[0]} failed on {command[1]} (status {code})")
        best = usage.processor if best is None else min(best, usage.processor)
    return best


def instructions(command, work):
    """The instructions the command executes, as callgrind counts them."""
    counts = os.path.join(work, "callgrind.out")
    run = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + counts] + command,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if run.returncode != 0:
        raise SystemExit(f"{command[0]} failed on {command[1]} under valgrind (status {run.returncode}):\n"
                         + run.stderr)
    with open(counts) as handle:
        totals = re.search(r"^(?:summary|totals): (\d+)", handle.read(), re.MULTILINE)
    if totals is None:
        raise SystemExit(f"callgrind wrote no count to {counts}")
    return int(totals.group(1))


def line_cost(qovrin, work, target, header, line, count, cost_of):
    """The cost of one line, and the bytes of the whole source."""
    costs = []
    outputs = []
    for lines in (count, 1):
        source = os.path.join(work, "source.qov")
        output = os.path.join(work, "out.bin")
        with open(source, "w") as handle:
            handle.write(header + (line + "\n") * lines)
        costs.append(cost_of([qovrin, source, "--target", target, "-o", output, "--no-progress"]))
        with open(output, "rb") as handle:
            outputs.append(handle.read())
    return max(costs[0] - costs[1], 0) / count, outputs[0]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.strip().split("\n\n")[0],
                                     usage=__doc__.strip().splitlines()[-1].removeprefix("Usage: "))
    parser.add_argument("qovrin", help="the qovrin program to measure")
    parser.add_argument("--lines", type=int, help="lines per source (20,000 counting instructions, 400,000 "
                        "timing)")
    parser.add_argument("--runs", type=int, default=5, help="timing: runs per source, the fastest counts (5)")
    parser.add_argument("--measure", choices=("instructions", "time"),
                        default="instructions" if shutil.which("valgrind") else "time",
                        help="what a line costs: executed instructions (where valgrind is installed) or "
                        "processor time")
    parser.add_argument("--check", action="store_true", help=f"fail when a same-bytes pair differs by more "
                        f"than {round((BOUND - 1) * 100)}%%")
    arguments = parser.parse_args(argv)
    counting = arguments.measure == "instructions"
    lines = arguments.lines or (20_000 if counting else 400_000)
    failures = []
    with tempfile.TemporaryDirectory(prefix="quoted_line_cost_") as work:
        if counting:
            print(f"{lines} lines per source, instructions per line (callgrind)")
            cost_of = functools.partial(instructions, work=work)
        else:
            print(f"{lines} lines per source, fastest of {arguments.runs} runs, processor time per line")
            cost_of = functools.partial(processor_time, runs=arguments.runs)
        for name, target, header, quoted, plain in PAIRS:
            quoted_cost, quoted_bytes = line_cost(arguments.qovrin, work, target, header, quoted, lines, cost_of)
            plain_cost, plain_bytes = line_cost(arguments.qovrin, work, target, header, plain, lines, cost_of)
            same = quoted_bytes == plain_bytes
            ratio = quoted_cost / plain_cost if plain_cost > 0 else float("inf")
            verdict = ""
            if same:
                verdict = "ok" if ratio <= BOUND else "over the bound"
                if ratio > BOUND:
                    failures.append(name)
            unit, scale = ("instructions", 1) if counting else ("ns", 1e9)
            print(f"  {name:30s} {quoted_cost * scale:7.1f} {unit} against {plain_cost * scale:7.1f} {unit}: "
                  f"{ratio:5.3f}x  {'same bytes' if same else 'other bytes'} {verdict}")
    if arguments.check and failures:
        print("over the bound: " + ", ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
