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
  include  N included files of one instruction and one byte each (10,000 to
         40,000): an include must not measure the whole section again.
  store  N `db` lines and then N `late_layout` blocks, each storing into one
         of them (10,000 to 80,000): a store must find its address without
         walking the section from its start.
  len    a list of N items read by `len(l)` in N rounds (10,000 to 40,000):
         reading a list must not copy it.
  has    a map of N keys asked `map.has` in N rounds (10,000 to 40,000):
         reading a map must not copy it.
  bytes  `b = bytes.push(b, i)` for N rounds (50,000 to 200,000), and
  join   `s = sym.join(s, "x")` for N rounds (50,000 to 200,000): the call
         must not copy what it replaces.
         For these six the time may grow at most 1.125 times as fast as the
         work: 4 times the work in at most 4.5 times the time.

Each size runs --repeat times and the fastest run counts. A run that takes
longer than --timeout seconds is stopped and shown as such. With --check the
script exits with status 1 when a growth bound is broken.

Usage: scaling.py <qovrin> [--case align|macro|list|include|... ...] [--repeat N]
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


def include_sources(files):
    """The main source and the files it includes, by name."""
    sources = {f"part{index}.inc": f"nop\ndb({index & 255})\n" for index in range(files)}
    sources["main.qov"] = "".join(f'include("part{index}.inc")\n' for index in range(files))
    return sources


def store_source(stores):
    lines = [f"db({index & 255})" for index in range(stores)]
    for index in range(stores):
        lines += ["late_layout {", f"  store.u8({index}, 0xee)", "}"]
    return "\n".join(lines) + "\n"


def len_source(rounds):
    return (
        "let l = list.of()\n"
        f"for i in range(0, {rounds}) {{\n"
        "  l = list.push(l, i)\n"
        "}\n"
        "let total = 0\n"
        f"for i in range(0, {rounds}) {{\n"
        "  total = total + len(l)\n"
        "}\n"
        "db(total & 255)\n"
    )


def has_source(rounds):
    return (
        "let m = map.new()\n"
        f"for i in range(0, {rounds}) {{\n"
        "  m = map.set(m, to_string(i), i)\n"
        "}\n"
        "let found = 0\n"
        f"for i in range(0, {rounds}) {{\n"
        "  if map.has(m, to_string(i)) {\n"
        "    found = found + 1\n"
        "  }\n"
        "}\n"
        "db(found & 255)\n"
    )


def bytes_source(rounds):
    return (
        "let b = bytes.new()\n"
        f"for i in range(0, {rounds}) {{\n"
        "  b = bytes.push(b, i & 255)\n"
        "}\n"
        "db(len(b) & 255)\n"
    )


def join_source(rounds):
    return (
        'let s = ""\n'
        f"for i in range(0, {rounds}) {{\n"
        '  s = sym.join(s, "x")\n'
        "}\n"
        "db(len(s) & 255)\n"
    )


# name: (source generator, sizes, bound on the time ratio between steps,
# whether the bound is against the previous step, against the first, or
# against the previous step per unit of work (the time ratio divided by the
# size ratio), generator of the part whose time is taken off, if any). A
# generator gives a source's text, or the texts of several files by name,
# "main.qov" the one to assemble.
CASES = {
    "align": (align_source, [10_000, 20_000, 40_000, 80_000], 2.2, "previous", None),
    "macro": (macro_source, [1_000, 4_000, 16_000], 1.5, "first", macro_values),
    "list": (list_source, [10_000, 100_000, 1_000_000], 11.0, "previous", None),
    "include": (include_sources, [10_000, 20_000, 40_000], 1.125, "work", None),
    "store": (store_source, [10_000, 40_000, 80_000], 1.125, "work", None),
    "len": (len_source, [10_000, 20_000, 40_000], 1.125, "work", None),
    "has": (has_source, [10_000, 20_000, 40_000], 1.125, "work", None),
    "bytes": (bytes_source, [50_000, 100_000, 200_000], 1.125, "work", None),
    "join": (join_source, [50_000, 100_000, 200_000], 1.125, "work", None),
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
    if isinstance(text, dict):
        os.makedirs(stem, exist_ok=True)
        for name, content in text.items():
            with open(os.path.join(stem, name), "w") as handle:
                handle.write(content)
        source = os.path.join(stem, "main.qov")
    else:
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
    previous_size = None
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
        if against == "work" and reference:
            reference *= size / previous_size
        ratio = measured / reference if reference else None
        if ratio is not None and ratio > bound:
            within = False
        shown = f"{ratio:.2f}" if ratio is not None else "-"
        if generate_base is None:
            print(f"  {size:>10}  {seconds:>9.3f}  {shown:>6}")
        else:
            print(f"  {size:>10}  {seconds:>9.3f}  {base:>9.3f}  {measured:>9.3f}  {shown:>6}")
        previous = measured
        previous_size = size
    measure = "ratio to the previous step per unit of work" if against == "work" else f"ratio to the {against} step"
    print(f"  bound: {measure} at most {bound:g}: {'kept' if within else 'BROKEN'}")
    return within


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("qovrin")
    parser.add_argument("--case", action="append", choices=sorted(CASES))
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--timeout", type=float, default=120.0)
    parser.add_argument("--check", action="store_true")
    arguments = parser.parse_args()
    within = True
    with tempfile.TemporaryDirectory(prefix="qovrin-scaling-") as work:
        for name in arguments.case or list(CASES):
            rows = run_case(arguments.qovrin, name, work, arguments.repeat, arguments.timeout)
            within = report(name, rows, arguments.timeout) and within
            sys.stdout.flush()
    return 0 if within or not arguments.check else 1


if __name__ == "__main__":
    sys.exit(main())
