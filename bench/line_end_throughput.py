#!/usr/bin/env python3
"""Assembles one generated source of `db(1)` lines three times, its lines
ended by LF, by CR alone and by CR LF, and prints the time of each run beside
the LF run's: the line ends must cost the same. The three outputs must be the
same bytes.

Each source is assembled a few times and the fastest run counts, so that
other work on the machine disturbs the comparison less.

Usage: line_end_throughput.py <qovrin> [line count] [runs]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

ENDS = {"LF": b"\n", "CR": b"\r", "CR LF": b"\r\n"}


def fastest(command, runs):
    best = None
    for _ in range(runs):
        start = time.monotonic()
        result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        elapsed = time.monotonic() - start
        if result.returncode != 0:
            raise SystemExit(f"{command[0]} failed: {result.stderr[:400].decode(errors='replace')}")
        best = elapsed if best is None else min(best, elapsed)
    return best


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.strip().split("\n\n")[0],
                                     usage=__doc__.strip().splitlines()[-1].removeprefix("Usage: "))
    parser.add_argument("qovrin", help="the qovrin program to time")
    parser.add_argument("count", nargs="?", type=int, default=1_000_000, help="lines per source (1,000,000)")
    parser.add_argument("runs", nargs="?", type=int, default=3, help="runs per source, the fastest counts (3)")
    arguments = parser.parse_args(argv)
    qovrin, count, runs = arguments.qovrin, arguments.count, arguments.runs
    times = {}
    outputs = {}
    with tempfile.TemporaryDirectory(prefix="line_end_throughput_") as work:
        for name, end in ENDS.items():
            source = os.path.join(work, "source.qov")
            output = os.path.join(work, "out.bin")
            with open(source, "wb") as handle:
                handle.write((b"db(1)" + end) * count)
            times[name] = fastest([qovrin, source, "-o", output, "--no-progress"], runs)
            with open(output, "rb") as handle:
                outputs[name] = handle.read()
    print(f"{count} lines of db(1), fastest of {runs} runs")
    for name, seconds in times.items():
        print(f"  {name:6s}: {seconds:7.3f} s  ({seconds / times['LF']:.2f}x the LF time)")
    if len(set(outputs.values())) != 1:
        print("the outputs differ")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
