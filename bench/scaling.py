#!/usr/bin/env python3
"""Times qovrin on generated sources whose size grows step by step, to show
that the cost of a construct stays linear in how often it is used:

  align  N pairs of `nop` and `align(4, 0x90)` (10,000 to 80,000): an
         alignment after an instruction must not measure the whole section
         again; each doubling may cost at most 2.2 times the time.
  macro  N module `let`s (1,000 to 16,000) and 20,000 expansions of a macro
         whose body is `db(operand.eval(a))`, each operand naming one of the
         values: an expansion must not cost more because the module holds
         more values. The time of the same `let`s without the expansions is
         taken off, and what remains may be at most 1.5 times that of the
         smallest step.
  list   `l = list.push(l, i)` for N rounds (10,000 to 1,000,000): the push
         must not copy the list it replaces; each tenfold step may cost at
         most 11 times the time.
  blocks 1,000,000 `nop` lines with an `if` block every 200 lines against
         the same lines without blocks: a block's statements must go with
         their parse batch, so the peak memory may be at most 1.3 times that
         of the source without blocks.

Each size runs --repeat times and the fastest run counts. A run that takes
longer than --timeout seconds is stopped and shown as such. With --check the
script exits with status 1 when a growth bound is broken.

Usage: scaling.py <qovrin> [--case align|macro|list|blocks ...] [--repeat N]
                  [--timeout S] [--check]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time


def align_source(pairs):
    return "nop\nalign(4, 0x90)\n" * pairs


def macro_values(values):
    return "".join(f"let v{index} = {index}\n" for index in range(values))


def macro_source(values):
    lines = ["macro m(a) {", "  db(operand.eval(a))", "}"]
    lines += [f"m v{index % values} & 255" for index in range(20_000)]
    return macro_values(values) + "\n".join(lines) + "\n"


def list_source(rounds):
    return (
        "let l = list.of()\n"
        f"for i in range(0, {rounds}) {{\n"
        "  l = list.push(l, i)\n"
        "}\n"
        "db(len(l) & 255)\n"
    )


def blocks_source(lines, every):
    """nop lines; with every set, every such line is an `if` block holding the nop."""
    if every is None:
        return "nop\n" * lines
    block = "if 1 == 1 {\n  nop\n}\n"
    return (block + "nop\n" * (every - 1)) * (lines // every)


# name: (source generator, sizes, bound on the time ratio between steps,
# whether the bound is against the previous step or against the first,
# generator of the part whose time is taken off, if any)
CASES = {
    "align": (align_source, [10_000, 20_000, 40_000, 80_000], 2.2, "previous", None),
    "macro": (macro_source, [1_000, 4_000, 16_000], 1.5, "first", macro_values),
    "list": (list_source, [10_000, 100_000, 1_000_000], 11.0, "previous", None),
}


# name: (source generator taking the variant, variant measured, variant it is
# measured against, lines, bound on the ratio of their peak memories)
MEMORY_CASES = {
    "blocks": (blocks_source, 200, None, 1_000_000, 1.3),
}


def time_once(qovrin, source, output, timeout):
    """Wall time of one run, None when it timed out; raises when it failed."""
    start = time.monotonic()
    try:
        completed = subprocess.run([qovrin, source, "-o", output, "--no-progress"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None
    elapsed = time.monotonic() - start
    if completed.returncode != 0:
        raise RuntimeError(f"qovrin failed on {source}: {completed.stderr.decode(errors='replace')[:500]}")
    return elapsed


def best_time(qovrin, text, stem, repeat, timeout):
    """The fastest of repeat runs on the text, or None when one timed out."""
    source = f"{stem}.qov"
    with open(source, "w") as handle:
        handle.write(text)
    times = []
    for _ in range(repeat):
        elapsed = time_once(qovrin, source, f"{stem}.bin", timeout)
        if elapsed is None:
            return None
        times.append(elapsed)
    return min(times)


def run_case(qovrin, name, work, repeat, timeout):
    """Rows of (size, best time or None, time taken off or None) for one case."""
    generate, sizes, _, _, generate_base = CASES[name]
    rows = []
    for size in sizes:
        stem = os.path.join(work, f"{name}-{size}")
        seconds = best_time(qovrin, generate(size), stem, repeat, timeout)
        base = None
        if generate_base is not None and seconds is not None:
            base = best_time(qovrin, generate_base(size), stem + "-base", repeat, timeout)
        rows.append((size, seconds, base))
    return rows


def report(name, rows, timeout):
    """Prints the table of one case; returns False when a bound is broken."""
    _, _, bound, against, generate_base = CASES[name]
    print(f"{name}:")
    if generate_base is None:
        print(f"  {'size':>10}  {'seconds':>9}  {'ratio':>6}")
    else:
        print(f"  {'size':>10}  {'seconds':>9}  {'taken off':>9}  {'measured':>9}  {'ratio':>6}")
    within = True
    first = None
    previous = None
    for size, seconds, base in rows:
        if seconds is None or (generate_base is not None and base is None):
            print(f"  {size:>10}  {'>' + format(timeout, 'g'):>9}")
            within = False
            previous = None
            continue
        measured = seconds - base if base is not None else seconds
        if first is None:
            first = measured
        reference = first if against == "first" else previous
        ratio = measured / reference if reference else None
        if ratio is not None and ratio > bound:
            within = False
        shown = f"{ratio:.2f}" if ratio is not None else "-"
        if generate_base is None:
            print(f"  {size:>10}  {seconds:>9.3f}  {shown:>6}")
        else:
            print(f"  {size:>10}  {seconds:>9.3f}  {base:>9.3f}  {measured:>9.3f}  {shown:>6}")
        previous = measured
    print(f"  bound: ratio to the {against} step at most {bound:g}: {'kept' if within else 'BROKEN'}")
    return within


def peak_memory(qovrin, text, stem, timeout):
    """Peak resident memory of one run in bytes, or None when it timed out."""
    source = f"{stem}.qov"
    with open(source, "w") as handle:
        handle.write(text)
    process = subprocess.Popen([qovrin, source, "-o", f"{stem}.bin", "--no-progress"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + timeout
    while True:
        # wait4 gives this child's own peak, where getrusage gives the largest of all.
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid != 0:
            break
        if time.monotonic() > deadline:
            process.kill()
            os.wait4(process.pid, 0)
            return None
        time.sleep(0.01)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise RuntimeError(f"qovrin failed on {source}")
    return usage.ru_maxrss * 1024


def run_memory_case(qovrin, name, work, timeout):
    """Prints the peak memory of both variants; returns False when the bound is broken."""
    generate, measured, against, lines, bound = MEMORY_CASES[name]
    peaks = []
    for variant in (measured, against):
        stem = os.path.join(work, f"{name}-{variant}")
        peaks.append(peak_memory(qovrin, generate(lines, variant), stem, timeout))
    print(f"{name}:")
    print(f"  {'source':>16}  {'peak MiB':>9}")
    for label, peak in zip((f"every {measured}", "without"), peaks):
        shown = f"{peak / 2**20:.1f}" if peak is not None else ">" + format(timeout, "g") + " s"
        print(f"  {label:>16}  {shown:>9}")
    within = None not in peaks and peaks[0] <= bound * peaks[1]
    ratio = f"{peaks[0] / peaks[1]:.2f}" if None not in peaks else "-"
    print(f"  bound: peak ratio {ratio} at most {bound:g}: {'kept' if within else 'BROKEN'}")
    return within


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("qovrin")
    parser.add_argument("--case", action="append", choices=sorted(CASES) + sorted(MEMORY_CASES))
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--timeout", type=float, default=120.0)
    parser.add_argument("--check", action="store_true")
    arguments = parser.parse_args()
    within = True
    with tempfile.TemporaryDirectory(prefix="qovrin-scaling-") as work:
        for name in arguments.case or list(CASES) + list(MEMORY_CASES):
            if name in MEMORY_CASES:
                within = run_memory_case(arguments.qovrin, name, work, arguments.timeout) and within
                sys.stdout.flush()
                continue
            rows = run_case(arguments.qovrin, name, work, arguments.repeat, arguments.timeout)
            within = report(name, rows, arguments.timeout) and within
            sys.stdout.flush()
    return 0 if within or not arguments.check else 1


if __name__ == "__main__":
    sys.exit(main())
