#!/usr/bin/env python3
"""Compares the cost of RV64 instruction lines that end in a comment with the
same lines written without it, in instructions executed (valgrind's
callgrind), which another program on the machine does not change.

The cost of a line is the instruction count of assembling a source of the
given number of such lines less that of a source of one, divided by the line
count. Comments of prose ("; add one to a0") are read only far enough to
tell that they hold no instruction, so with --check a commented line must
stay within the bound (1.25x) of its plain line. With --against the same
figures of another build are printed beside.

Usage: riscv_comment_cost.py <qovrin> [--lines N] [--against <qovrin>] [--check]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

BOUND = 1.25

PLAIN = "addi a0, a0, 1"
# (name, the plain line with a comment)
COMMENTED = [
    ("prose after ';'", PLAIN + " ; add one to a0"),
    ("prose after '#'", PLAIN + " # increment the counter"),
    ("mnemonic-like prose", PLAIN + " ; j back to the top of the loop"),
]


def instructions(qovrin, work, line, count):
    """Instructions executed assembling a source of count such lines."""
    source = os.path.join(work, "source.qov")
    with open(source, "w") as handle:
        handle.write("riscv.use64()\n" + (line + "\n") * count)
    profile = os.path.join(work, "callgrind.out")
    done = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={profile}", qovrin, source,
                           "--target", "rv64", "-o", os.path.join(work, "out.bin"), "--no-progress"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    found = re.search(r"Collected : (\d+)", done.stderr)
    if done.returncode != 0 or found is None:
        raise SystemExit(f"{qovrin} failed on {line!r}:\n{done.stderr[-800:]}")
    return int(found.group(1))


def line_cost(qovrin, work, line, count):
    return (instructions(qovrin, work, line, count) - instructions(qovrin, work, line, 1)) / count


def costs(qovrin, count):
    """Instructions per line of the plain line and of each commented one."""
    with tempfile.TemporaryDirectory(prefix="riscv_comment_cost_") as work:
        plain = line_cost(qovrin, work, PLAIN, count)
        return plain, [line_cost(qovrin, work, line, count) for _, line in COMMENTED]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.strip().split("\n\n")[0],
                                     usage=__doc__.strip().splitlines()[-1].removeprefix("Usage: "))
    parser.add_argument("qovrin", help="the qovrin program to measure")
    parser.add_argument("--lines", type=int, default=20_000, help="lines per source (20,000)")
    parser.add_argument("--against", help="another qovrin build whose figures are printed beside")
    parser.add_argument("--check", action="store_true",
                        help=f"fail when a commented line costs more than {BOUND:.2f}x its plain line")
    arguments = parser.parse_args(argv)
    if shutil.which("valgrind") is None:
        raise SystemExit("valgrind is not installed")
    builds = [("this build", arguments.qovrin)]
    if arguments.against:
        builds.append(("against", arguments.against))
    measured = {name: costs(program, arguments.lines) for name, program in builds}
    print(f"{arguments.lines} lines, instructions per line (ratio to the plain line)")
    print(f"  {'plain':22s}" + "".join(f"  {name}: {plain:7.0f}        " for name, (plain, _) in measured.items()))
    failed = False
    for index, (shape, _) in enumerate(COMMENTED):
        row = f"  {shape:22s}"
        for name, (plain, commented) in measured.items():
            row += f"  {name}: {commented[index]:7.0f} ({commented[index] / plain:.2f}x)"
        print(row)
        plain, commented = measured["this build"]
        failed = failed or commented[index] / plain > BOUND
    if arguments.check and failed:
        print(f"a commented line costs more than {BOUND:.2f}x its plain line")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
