#!/usr/bin/env python3
"""Assembles generated data lines (1,000,000 by default) with qovrin and GNU as
(`as --64`) in the same run, and prints each one's lines per second and peak
memory, and qovrin's ratios against as.

Two shapes, the same bytes in each assembler's syntax: "one" is a line of one
byte (`db(1)` / `.byte 1`), "sixteen" a line of sixteen byte values between 0
and 255. Each tool runs --repeat times and the fastest run counts, timed by
the processor time it used (user and system), which other work on the
machine changes far less than the wall time. With
--check the script exits with status 1 when qovrin is slower than as on
"one", less than 1.5 times as fast on "sixteen", or peaks above three times
the size of its source on either.

Usage: data_throughput.py <qovrin> [--lines N] [--shape one|sixteen ...]
                          [--repeat N] [--check]
"""

import argparse
import os
import random
import sys
import tempfile

from child_usage import usage_of

# shape: (least speed ratio to as, most peak memory per source byte)
BOUNDS = {"one": (1.0, 3.0), "sixteen": (1.5, 3.0)}


def write_sources(shape, count, qovrin_path, as_path):
    """Writes the same data lines for both assemblers."""
    rng = random.Random(16)
    with open(qovrin_path, "w") as ours, open(as_path, "w") as theirs:
        for start in range(0, count, 10_000):
            lines = min(10_000, count - start)
            if shape == "one":
                ours.write("db(1)\n" * lines)
                theirs.write(".byte 1\n" * lines)
                continue
            rows = [", ".join(str(rng.randrange(256)) for _ in range(16)) for _ in range(lines)]
            ours.write("".join(f"db({row})\n" for row in rows))
            theirs.write("".join(f".byte {row}\n" for row in rows))


def best(command, repeat):
    """The fastest of repeat runs in processor time with the largest peak seen
    (bytes), or None when one failed."""
    runs = [usage_of(command) for _ in range(repeat)]
    if None in runs:
        return None
    return min(usage.processor for usage in runs), max(usage.peak_kib for usage in runs) * 1024


def measure(qovrin, shape, count, repeat, work):
    """Prints one shape's table; returns False when a bound is broken."""
    ours_path = os.path.join(work, f"{shape}.qov")
    theirs_path = os.path.join(work, f"{shape}.s")
    write_sources(shape, count, ours_path, theirs_path)
    size = os.path.getsize(ours_path)
    output = os.path.join(work, "out.bin")
    results = {
        "qovrin": best([qovrin, ours_path, "--no-progress", "--target", "x86-64", "-o", output], repeat),
        "as": best(["as", "--64", theirs_path, "-o", os.path.join(work, "out.o")], repeat),
    }
    print(f"{count} data lines ({shape}), qovrin source {size / 2**20:.1f} MiB")
    for name, result in results.items():
        if result is None:
            print(f"{name:>7}: failed")
            continue
        elapsed, peak = result
        print(f"{name:>7}: {count / elapsed:12,.0f} lines/s  {elapsed:7.2f} s processor  peak {peak / 2**20:8.1f} MiB")
    if None in results.values():
        return False
    speed = results["as"][0] / results["qovrin"][0]
    memory = results["qovrin"][1] / size
    least_speed, most_memory = BOUNDS[shape]
    within = speed >= least_speed and memory <= most_memory
    print(f"qovrin vs as: throughput x{speed:.2f} (at least {least_speed:g}), "
          f"peak memory / source {memory:.2f} (at most {most_memory:g}): {'kept' if within else 'BROKEN'}")
    return within


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("qovrin")
    parser.add_argument("--lines", type=int, default=1_000_000)
    parser.add_argument("--shape", action="append", choices=sorted(BOUNDS))
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--check", action="store_true")
    arguments = parser.parse_args()
    within = True
    with tempfile.TemporaryDirectory(prefix="qovrin-data-bench-") as work:
        for shape in arguments.shape or ["one", "sixteen"]:
            within = measure(arguments.qovrin, shape, arguments.lines, arguments.repeat, work) and within
            sys.stdout.flush()
    return 0 if within or not arguments.check else 1


if __name__ == "__main__":
    sys.exit(main())
