#!/usr/bin/env python3
"""Assembles one generated source of `db(1)` lines three times, its lines
ended by LF, by CR alone and by CR LF, and prints the time of each run beside
the LF run's: the line ends must cost the same. The three outputs must be the
same bytes.

Each source is assembled a few times and the fastest run counts, so that
other work on the machine disturbs the comparison less.

Usage: line_end_throughput.py <qovrin> [line count] [runs]
"""

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
    if not argv:
        raise SystemExit(__doc__.strip().splitlines()[-1])
    qovrin = argv[0]
    count = int(argv[1]) if len(argv) > 1 else 1_000_000
    runs = int(argv[2]) if len(argv) > 2 else 3
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
