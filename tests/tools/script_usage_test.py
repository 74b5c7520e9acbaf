#!/usr/bin/env python3
"""Runs the helper scripts the way a newcomer first tries them, with --help
and with no arguments: each must print its usage, not a traceback, and end
with status 0 for --help and 2 for missing arguments.

Usage: script_usage_test.py <project folder>
"""
import os
import subprocess
import sys

SCRIPTS = ["bench/line_end_throughput.py", "bench/quoted_line_cost.py", "tests/include_layers_test.py"]


def problems(project, script):
    found = []
    for arguments, status in ((["--help"], 0), ([], 2)):
        run = subprocess.run([sys.executable, os.path.join(project, script)] + arguments, capture_output=True,
                             stdin=subprocess.DEVNULL, text=True, timeout=60)
        said = run.stdout + run.stderr
        shown = " ".join(arguments) or "no arguments"
        if "Traceback" in said:
            found.append("%s with %s ends in a traceback:\n%s" % (script, shown, said))
        elif run.returncode != status:
            found.append("%s with %s: status %d, not %d" % (script, shown, run.returncode, status))
        elif "usage: " + os.path.basename(script) not in said.lower():
            found.append("%s with %s prints no usage:\n%s" % (script, shown, said))
    return found


def main():
    project = os.path.abspath(sys.argv[1])
    failures = [problem for script in SCRIPTS for problem in problems(project, script)]
    for failure in failures:
        print(failure)
    print("%d passed, %d failed" % (2 * len(SCRIPTS) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
