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
  labels N labels, each before a `dd` line, after one instruction (50,000 to
         200,000): the labels waiting for the instruction's run must not
         cost more each the more of them there are; each doubling may cost
         at most 2.2 times the time.
  defer  N rounds of `list.push`, `list.set` and `map.set` assigned back to
         their local inside a `defer` block (10,000 to 160,000): the
         finalizers must hand the value over as lowering does; each fourfold
         step may cost at most 4.5 times the time.

The time of a run is the processor time qovrin used (user and system), which
other work on the machine changes far less than the wall time. The sizes of a
case take turns, --repeat rounds of them, and in each round a short run is
made again until the size's runs add up to --least / --repeat seconds, so that
a spell of load slows every size alike and a few slowed runs cannot decide;
the fastest run of a size counts. A run that takes longer than --timeout
seconds of wall time is stopped and shown as such. With --check a case whose
bound breaks is measured once more, and the script exits with status 1 when
it breaks again: a cost that grows faster than the work breaks it every time,
a spell of load seldom twice in a row.

Usage: scaling.py <qovrin> [--case align|macro|list|labels|defer ...]
                  [--repeat N] [--least S] [--timeout S] [--check]
"""

import argparse
import os
import resource
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


def labels_source(labels):
    lines = "".join(f"M{index}:\ndd({index})\n" for index in range(labels))
    return "x86.use64()\nnop\n" + lines


def defer_source(rounds):
    return (
        "defer {\n"
        "  let l = list.of(0)\n"
        "  let m = map.new()\n"
        "  let i = 0\n"
        f"  while i < {rounds} {{\n"
        "    l = list.push(l, i)\n"
        "    l = list.set(l, 0, i)\n"
        "    m = map.set(m, to_string(i), i)\n"
        "    i = i + 1\n"
        "  }\n"
        "}\n"
    )


# name: (source generator, sizes, bound on the time ratio between steps,
# whether the bound is against the previous step or against the first,
# generator of the part whose time is taken off, if any)
CASES = {
    "align": (align_source, [10_000, 20_000, 40_000, 80_000], 2.2, "previous", None),
    "macro": (macro_source, [1_000, 4_000, 16_000], 1.5, "first", macro_values),
    "list": (list_source, [10_000, 100_000, 1_000_000], 11.0, "previous", None),
    "labels": (labels_source, [50_000, 100_000, 200_000], 2.2, "previous", None),
    "defer": (defer_source, [10_000, 40_000, 160_000], 4.5, "previous", None),
}


def processor_seconds():
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def time_once(qovrin, source, output, timeout):
    """Processor time of one run, None when it timed out; raises when it failed."""
    start = processor_seconds()
    try:
        completed = subprocess.run([qovrin, source, "-o", output, "--no-progress"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None
    elapsed = processor_seconds() - start
    if completed.returncode != 0:
        raise RuntimeError(f"qovrin failed on {source}: {completed.stderr.decode(errors='replace')[:500]}")
    return elapsed


def write_source(stem, text):
    source = f"{stem}.qov"
    with open(source, "w") as handle:
        handle.write(text)
    return source


def run_case(qovrin, name, work, repeat, least, timeout):
    """Rows of (size, best time or None, time taken off or None) for one case.

    The sources take turns, repeat rounds of them, so that a spell of heavy
    load on the machine slows every size alike rather than a few of them
    through all their runs; in each round a source runs again until its runs
    add up to least / repeat seconds. A source that timed out once runs no
    more."""
    generate, sizes, _, _, generate_base = CASES[name]
    sources = {}
    for size in sizes:
        stem = os.path.join(work, f"{name}-{size}")
        sources[(size, False)] = write_source(stem, generate(size))
        if generate_base is not None:
            sources[(size, True)] = write_source(stem + "-base", generate_base(size))
    fastest = {}
    timed_out = set()
    for _ in range(repeat):
        for key, source in sources.items():
            spent = 0.0
            while key not in timed_out and (spent == 0.0 or spent < least / repeat):
                elapsed = time_once(qovrin, source, source[:-len(".qov")] + ".bin", timeout)
                if elapsed is None:
                    timed_out.add(key)
                    break
                fastest[key] = min(fastest.get(key, elapsed), elapsed)
                spent += elapsed

    def seconds(key):
        return None if key in timed_out or key not in fastest else fastest[key]

    rows = []
    for size in sizes:
        measured = seconds((size, False))
        base = seconds((size, True)) if generate_base is not None and measured is not None else None
        rows.append((size, measured, base))
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("qovrin")
    parser.add_argument("--case", action="append", choices=sorted(CASES))
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--least", type=float, default=2.0)
    parser.add_argument("--timeout", type=float, default=120.0)
    parser.add_argument("--check", action="store_true")
    arguments = parser.parse_args()
    within = True
    with tempfile.TemporaryDirectory(prefix="qovrin-scaling-") as work:
        for name in arguments.case or list(CASES):
            rows = run_case(arguments.qovrin, name, work, arguments.repeat, arguments.least, arguments.timeout)
            kept = report(name, rows, arguments.timeout)
            sys.stdout.flush()
            if not kept and arguments.check:
                print(f"{name} once more, as load on the machine may have slowed a whole size:")
                rows = run_case(arguments.qovrin, name, work, arguments.repeat, arguments.least, arguments.timeout)
                kept = report(name, rows, arguments.timeout)
                sys.stdout.flush()
            within = kept and within
    return 0 if within or not arguments.check else 1


if __name__ == "__main__":
    sys.exit(main())
