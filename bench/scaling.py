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
  text   a text of 2N characters read by `len(s)` in N rounds (10,000 to
         40,000): a builtin that reads a text must not copy it; bound as the
         six above.
  struct_push, operand_push, fn_argument, let_parameter, concat,
  bytes_concat, bytes_insert, grouping, frozen, operand_call,
  let_parameter_map, operand_call_map
         a list, map or byte string built step by step while every step
         copies it as the language's values are copied: a struct literal
         pushed, an operand's value pushed in a macro, the list passed to a
         value function, to a `let` parameter that pushes onto it, grown by
         `list.concat`, `bytes.concat` and `bytes.insert` at the end, lists
         grouped in a map through `map.get` and `map.set`, `defer` blocks
         frozen in a function's loop reading a list, macro operands that
         call a value function while a module list grows, and a module map
         set through a `let` parameter and from a macro whose operand calls
         a value function. The copies must share what they copy: each
         doubling (from 20,000 rounds, 40,000 for the calls on lists and
         concat, 160,000 for bytes, and 12,000 expansions for the macros,
         whose 8 times stays below the expansion limit) may cost at most 2.3
         times the time.
  helper_map, helper_layers, helper_after, helper_list, helper_macro
         a module map or list changed through helpers that call other
         functions: a `let` parameter helper whose value goes through a
         value function, one that hands its parameter to another helper,
         one that calls a statement function after the change, `list.set`
         of a value through a value function, and a macro whose operand calls
         a function that calls another, beside as many module values as
         expansions. Only a function that can name the binding may make the
         change copy it: each doubling (from 20,000 rounds, 12,000 expansions)
         may cost at most 2.3 times the time.
  branch_call, branch_argument, branch_operand
         100,000 calls of a `let` parameter function, 100,000 builtin calls
         whose later argument calls a value function, and 20,000 macro
         operands calling a value function, where the function called holds
         an untaken branch of N lines (5 to 800): a call must not pay for
         the text of the function it calls, so the time may be at most 1.3
         times that with 5 lines.
  chain_operand, chain_let, random_graph
         N functions (2,000 to 16,000) that each call the one before in a
         branch their calls never take, each used once from a macro operand;
         the same with `let` parameter statement functions, each called once;
         and statement and value functions that call up to three earlier ones
         chosen at random: what a call may reach must be found from what its
         callees reach, each body read once; each doubling may cost at most
         2.2 times the time.
  definitions_between
         N units (4,000 and 16,000) of a small value function defined and
         then a call of a `let` parameter helper with a 200-line untaken
         branch, against the same definitions placed before all the calls:
         a definition must not make the helper's body be read again, so the
         time may be at most 1.3 times that of the other form.
  blocks 1,000,000 `nop` lines with an `if` block every 200 lines against
         the same lines without blocks: a block's statements must go with
         their parse batch, so the peak memory may be at most 1.3 times that
         of the source without blocks.
  defer_capture  N `defer` blocks frozen in a function's loop, each reading
         a list of N items, against the same blocks reading an integer
         (20,000 and 40,000): every block must share the list it captures,
         so each may add at most 1 KiB to the peak memory. A block adds about
         240 bytes; a copy of the list would add 16 bytes per item, 320 KB at
         the smaller size.

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

Usage: scaling.py <qovrin> [--case align|macro|list|labels|defer|include|...|blocks ...]
                  [--repeat N] [--least S] [--timeout S] [--check]
"""

import argparse
import os
import random
import resource
import subprocess
import sys
import tempfile

from child_usage import Child


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


def struct_push_source(rounds):
    return (
        "struct S {\n  n: u64\n}\n"
        "let l = list.of()\n"
        f"for i in range(0, {rounds}) {{\n"
        "  l = list.push(l, S{ n: i })\n"
        "}\n"
        "db(len(l) & 255)\n"
    )


def operand_push_source(expansions):
    lines = ["let reg = list.of()", "macro m(a) {", "  reg = list.push(reg, operand.eval(a))", "}"]
    lines += [f"m {index}" for index in range(expansions)]
    return "\n".join(lines) + "\ndb(len(reg) & 255)\n"


def fn_argument_source(calls):
    return (
        "fn size_of(x: list) -> u64 {\n  return len(x)\n}\n"
        "let l = list.of()\n"
        "let total = 0\n"
        f"for i in range(0, {calls}) {{\n"
        "  l = list.push(l, i)\n"
        "  total = total + size_of(l)\n"
        "}\n"
        "db(total & 255)\n"
    )


def let_parameter_source(calls):
    return (
        "fn add(let l, v) {\n  l = list.push(l, v)\n}\n"
        "let registry = list.of()\n"
        f"for i in range(0, {calls}) {{\n"
        "  add(registry, i)\n"
        "}\n"
        "db(len(registry) & 255)\n"
    )


def concat_source(rounds):
    return (
        "let l = list.of()\n"
        f"for i in range(0, {rounds}) {{\n"
        "  l = list.concat(l, list.of(i))\n"
        "}\n"
        "db(len(l) & 255)\n"
    )


def thousands(rounds, body):
    """body repeated rounds times (a multiple of 1,000), in two nested loops
    so that no loop comes near the round limit; i counts the rounds."""
    return (
        f"for j in range(0, {rounds // 1000}) {{\n"
        "  for k in range(0, 1000) {\n"
        "    let i = j * 1000 + k\n"
        f"    {body}\n"
        "  }\n"
        "}\n"
    )


def bytes_concat_source(rounds):
    return "let b = bytes.new()\n" + thousands(rounds, "b = bytes.concat(b, bytes.le(i, 4))") + "db(len(b) & 255)\n"


def bytes_insert_source(rounds):
    return "let b = bytes.new()\n" + thousands(rounds, "b = bytes.insert(b, len(b), bytes.le(i, 4))") + (
        "db(len(b) & 255)\n")


def grouping_source(rounds):
    return (
        "let m = map.new()\n"
        "for k in range(0, 16) {\n"
        "  m = map.set(m, to_string(k), list.of())\n"
        "}\n"
        f"for i in range(0, {rounds}) {{\n"
        "  let k = to_string(i & 15)\n"
        "  m = map.set(m, k, list.push(map.get(m, k), i))\n"
        "}\n"
        "db(len(m) & 255)\n"
    )


def frozen_source(blocks, reads="len(l)"):
    """blocks defer blocks frozen in a loop of a function, each reading
    `reads`, after a list of as many items was built."""
    return (
        "fn go(count) {\n"
        "  let l = list.of()\n"
        "  for i in range(0, count) {\n"
        "    l = list.push(l, i)\n"
        "  }\n"
        "  for i in range(0, count) {\n"
        "    defer {\n"
        f"      let s = {reads}\n"
        "    }\n"
        "  }\n"
        "}\n"
        f"go({blocks})\n"
    )


def operand_call_source(expansions):
    lines = ["let reg = list.of()", "fn ident(x) -> integer {", "  return x", "}", "macro m(a) {",
             "  db(operand.eval(a) & 255)", "  reg = list.push(reg, 1)", "}"]
    lines += [f"m ident({index})" for index in range(expansions)]
    return "\n".join(lines) + "\n"


def let_parameter_map_source(calls):
    return (
        "fn add(let m, k, v) {\n  m = map.set(m, k, v)\n}\n"
        "let registry = map.new()\n"
        f"for i in range(0, {calls}) {{\n"
        "  add(registry, to_string(i), i)\n"
        "}\n"
        "db(len(registry) & 255)\n"
    )


def operand_call_map_source(expansions):
    lines = ["let reg = map.new()", "fn ident(x) -> integer {", "  return x", "}", "macro m(a) {",
             "  reg = map.set(reg, to_string(operand.eval(a)), 1)", "}"]
    lines += [f"m ident({index})" for index in range(expansions)]
    return "\n".join(lines) + "\ndb(len(reg) & 255)\n"


def untaken_branch(lines):
    """An `if` whose condition never holds, holding lines that name the
    parameter v: a body whose length a call must not pay for."""
    held = "".join(f"    let t{line} = v + {line}\n" for line in range(lines))
    return "  if v == 1099511627776 {\n" + held + "  }\n"


def branch_call_source(lines):
    return (
        "fn add(let l, v) {\n" + untaken_branch(lines) + "  l = list.push(l, v)\n}\n"
        "let registry = list.of()\n" + thousands(BRANCH_ROUNDS, "add(registry, i)") + "db(len(registry) & 255)\n"
    )


def branch_function(lines):
    return "fn norm(v) -> integer {\n" + untaken_branch(lines) + "  return v & 255\n}\n"


def branch_argument_source(lines):
    return (
        branch_function(lines) + 'let s = "x"\nlet total = 0\n'
        + thousands(BRANCH_ROUNDS, "total = total + len(sym.join(s, norm(i)))") + "db(total & 255)\n"
    )


def branch_operand_source(lines):
    source = [branch_function(lines) + "let reg = list.of()", "macro m(a) {",
              "  reg = list.push(reg, operand.eval(a))", "}"]
    source += [f"m norm({index})" for index in range(BRANCH_EXPANSIONS)]
    return "\n".join(source) + "\ndb(len(reg) & 255)\n"


NORM = "fn norm(x) -> integer {\n  return x & 255\n}\n"


def helper_source(helpers, calls, call="add(registry, to_string(i), i)", registry="map.new()", before=""):
    """calls rounds of a registry change made through helpers, a list of
    function definitions."""
    return (
        "".join(helpers) + f"let registry = {registry}\n" + (thousands(calls, before) if before else "")
        + thousands(calls, call) + "db(len(registry) & 255)\n"
    )


def helper_map_source(calls):
    return helper_source([NORM, "fn add(let m, k, v) {\n  m = map.set(m, k, norm(v))\n}\n"], calls)


def helper_layers_source(calls):
    return helper_source(["fn put(let m, k, v) {\n  m = map.set(m, k, v)\n}\n",
                          "fn add(let m, k, v) {\n  put(m, k, v)\n}\n"], calls)


def helper_after_source(calls):
    return helper_source(["fn note(k) {\n  let seen = k\n}\n",
                          "fn add(let m, k, v) {\n  m = map.set(m, k, v)\n  note(k)\n}\n"], calls)


def helper_list_source(calls):
    return helper_source([NORM, "fn put(let l, i, v) {\n  l = list.set(l, i, norm(v))\n}\n"], calls,
                         "put(registry, i, i)", "list.of()", "registry = list.push(registry, 0)")


def helper_macro_source(expansions):
    lines = [macro_values(expansions) + NORM + "let reg = map.new()", "fn ident(x) -> integer {",
             "  return norm(x)", "}", "macro m(a) {", "  reg = map.set(reg, to_string(operand.eval(a)), 1)", "}"]
    lines += [f"m ident({index})" for index in range(expansions)]
    return "\n".join(lines) + "\ndb(len(reg) & 255)\n"


def chain_function(index, callee):
    """A value function that calls the one before it in a branch its calls
    never take, so that every body is short to run and the chain long to
    follow."""
    return (
        f"fn c{index}(x) -> integer {{\n"
        "  if x > 1099511627776 {\n"
        f"    return {callee}(x - 1)\n"
        "  }\n"
        "  return x + 1\n"
        "}\n"
    )


def chain_operand_source(functions):
    lines = ["fn c0(x) -> integer {\n  return x\n}"]
    lines += [chain_function(index, f"c{index - 1}").rstrip("\n") for index in range(1, functions)]
    lines += ["macro m(a) {", "  db(operand.eval(a) & 255)", "}"]
    lines += [f"m c{index}({index & 255})" for index in range(functions)]
    return "\n".join(lines) + "\n"


def chain_let_function(index, callees):
    calls = "".join(f"    {callee}(l, v)\n" for callee in callees)
    return (
        f"fn s{index}(let l, v) {{\n"
        "  if v > 1099511627776 {\n" + calls + "  }\n"
        "  l = list.push(l, v)\n"
        "}\n"
    )


def chain_let_source(functions):
    source = "".join(chain_let_function(index, [f"s{index - 1}"] if index else []) for index in range(functions))
    source += "let registry = list.of()\n"
    source += "".join(f"s{index}(registry, {index})\n" for index in range(functions))
    return source + "db(len(registry) & 255)\n"


def random_graph_source(functions):
    """Statement functions that each call up to three earlier ones, chosen at
    random the same way on every run, and a value function each that calls earlier
    value functions the same way; every statement function is called once,
    with a `let` parameter."""
    chooser = random.Random(functions)
    source = []
    for index in range(functions):
        callees = sorted({chooser.randrange(index) for _ in range(3)}) if index else []
        value_calls = " + ".join(f"r{callee}(x - 1)" for callee in callees) or "0"
        source.append(f"fn r{index}(x) -> integer {{\n  if x > 1099511627776 {{\n"
                      f"    return {value_calls}\n  }}\n  return x\n}}\n")
        statement_calls = "".join(f"    g{callee}(l, v)\n" for callee in callees)
        source.append(f"fn g{index}(let l, v) {{\n  if v > 1099511627776 {{\n{statement_calls}"
                      f"    l = list.push(l, r{index}(v))\n  }}\n  l = list.push(l, v)\n}}\n")
    source.append("let registry = list.of()\n")
    source += [f"g{index}(registry, {index})\n" for index in range(functions)]
    return "".join(source) + "db(len(registry) & 255)\n"


def definitions_source(units, between):
    """units small value functions and as many calls of a `let` parameter
    helper whose body holds a long untaken branch; with between, each call
    follows the definition before it, else every definition comes first."""
    helper = "fn add(let l, v) {\n" + untaken_branch(DEFINITIONS_BRANCH) + "  l = list.push(l, v)\n}\n"
    definitions = [f"fn small{index}(x) -> integer {{\n  return x + {index}\n}}\n" for index in range(units)]
    calls = [f"add(registry, {index})\n" for index in range(units)]
    if between:
        body = "".join(definition + call for definition, call in zip(definitions, calls))
    else:
        body = "".join(definitions) + "".join(calls)
    return helper + "let registry = list.of()\n" + body + "db(len(registry) & 255)\n"


def definitions_between_source(units):
    return definitions_source(units, True)


def definitions_first_source(units):
    return definitions_source(units, False)


def text_source(rounds):
    return (
        f'let s = bytes.hex(bytes.repeat({rounds}, 7))\n'
        "let total = 0\n"
        f"for i in range(0, {rounds}) {{\n"
        "  total = total + len(s)\n"
        "}\n"
        "db(total & 255)\n"
    )


def defer_capture_source(blocks, variant):
    return frozen_source(blocks, "len(l)" if variant == "reading" else "i")


def blocks_source(lines, every):
    """nop lines; with every set, every such line is an `if` block holding the nop."""
    if every is None:
        return "nop\n" * lines
    block = "if 1 == 1 {\n  nop\n}\n"
    return (block + "nop\n" * (every - 1)) * (lines // every)


# name: (source generator, sizes, bound on the time ratio between steps,
# whether the bound is against the previous step, against the first, against
# the previous step per unit of work (the time ratio divided by the size
# ratio), or against the other form of the same size ("base"), generator of
# the part whose time is taken off, if any, or of that other form). A
# generator gives a source's text, or the texts of several files by name,
# "main.qov" the one to assemble.
# Calls and expansions of the cases whose size is the length of a function's
# untaken branch.
BRANCH_ROUNDS = 100_000
BRANCH_EXPANSIONS = 20_000
# Lines of the helper's untaken branch in the cases of definitions between calls.
DEFINITIONS_BRANCH = 200

CASES = {
    "align": (align_source, [10_000, 20_000, 40_000, 80_000], 2.2, "previous", None),
    "macro": (macro_source, [1_000, 4_000, 16_000], 1.5, "first", macro_values),
    "list": (list_source, [10_000, 100_000, 1_000_000], 11.0, "previous", None),
    "labels": (labels_source, [50_000, 100_000, 200_000], 2.2, "previous", None),
    "defer": (defer_source, [10_000, 40_000, 160_000], 4.5, "previous", None),
    "include": (include_sources, [10_000, 20_000, 40_000], 1.125, "work", None),
    "store": (store_source, [10_000, 40_000, 80_000], 1.125, "work", None),
    "len": (len_source, [10_000, 20_000, 40_000], 1.125, "work", None),
    "has": (has_source, [10_000, 20_000, 40_000], 1.125, "work", None),
    "bytes": (bytes_source, [50_000, 100_000, 200_000], 1.125, "work", None),
    "join": (join_source, [50_000, 100_000, 200_000], 1.125, "work", None),
    "text": (text_source, [10_000, 20_000, 40_000], 1.125, "work", None),
    "struct_push": (struct_push_source, [20_000, 40_000, 80_000, 160_000], 2.3, "previous", None),
    "operand_push": (operand_push_source, [12_000, 24_000, 48_000, 96_000], 2.3, "previous", None),
    "fn_argument": (fn_argument_source, [40_000, 80_000, 160_000, 320_000], 2.3, "previous", None),
    "let_parameter": (let_parameter_source, [40_000, 80_000, 160_000, 320_000], 2.3, "previous", None),
    "concat": (concat_source, [40_000, 80_000, 160_000, 320_000], 2.3, "previous", None),
    "bytes_concat": (bytes_concat_source, [160_000, 320_000, 640_000, 1_280_000], 2.3, "previous", None),
    "bytes_insert": (bytes_insert_source, [160_000, 320_000, 640_000, 1_280_000], 2.3, "previous", None),
    "grouping": (grouping_source, [20_000, 40_000, 80_000, 160_000], 2.3, "previous", None),
    "frozen": (frozen_source, [20_000, 40_000, 80_000, 160_000], 2.3, "previous", None),
    "operand_call": (operand_call_source, [12_000, 24_000, 48_000, 96_000], 2.3, "previous", None),
    "let_parameter_map": (let_parameter_map_source, [20_000, 40_000, 80_000, 160_000], 2.3, "previous", None),
    "operand_call_map": (operand_call_map_source, [12_000, 24_000, 48_000, 96_000], 2.3, "previous", None),
    "branch_call": (branch_call_source, [5, 50, 200, 800], 1.3, "first", None),
    "branch_argument": (branch_argument_source, [5, 50, 200, 800], 1.3, "first", None),
    "branch_operand": (branch_operand_source, [5, 50, 200, 800], 1.3, "first", None),
    "helper_map": (helper_map_source, [20_000, 40_000, 80_000, 160_000], 2.3, "previous", None),
    "helper_layers": (helper_layers_source, [20_000, 40_000, 80_000, 160_000], 2.3, "previous", None),
    "helper_after": (helper_after_source, [20_000, 40_000, 80_000, 160_000], 2.3, "previous", None),
    "helper_list": (helper_list_source, [20_000, 40_000, 80_000, 160_000], 2.3, "previous", None),
    "helper_macro": (helper_macro_source, [12_000, 24_000, 48_000, 96_000], 2.3, "previous", None),
    "chain_operand": (chain_operand_source, [2_000, 4_000, 8_000], 2.2, "previous", None),
    "chain_let": (chain_let_source, [2_000, 4_000, 8_000], 2.2, "previous", None),
    "random_graph": (random_graph_source, [2_000, 4_000, 8_000], 2.2, "previous", None),
    "definitions_between": (definitions_between_source, [4_000, 16_000], 1.3, "base", definitions_first_source),
}


# name: (source generator taking the size and the variant, variant measured,
# variant it is measured against, sizes, bound, what is bound: "ratio", the
# ratio of the two peaks, or "extra", the measured peak's bytes above the
# other's per unit of size)
MEMORY_CASES = {
    "blocks": (blocks_source, 200, None, [1_000_000], 1.3, "ratio"),
    "defer_capture": (defer_capture_source, "reading", None, [20_000, 40_000], 1024, "extra"),
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
    """Writes a generated source; a dict of texts by name becomes a folder of
    files, its "main.qov" the one to assemble."""
    if isinstance(text, dict):
        os.makedirs(stem, exist_ok=True)
        for name, content in text.items():
            with open(os.path.join(stem, name), "w") as handle:
                handle.write(content)
        return os.path.join(stem, "main.qov")
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
    elif against == "base":
        print(f"  {'size':>10}  {'seconds':>9}  {'other form':>10}  {'ratio':>6}")
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
        measured = seconds - base if base is not None and against != "base" else seconds
        if first is None:
            first = measured
        reference = {"first": first, "base": base}.get(against, previous)
        if against == "work" and reference:
            reference *= size / previous_size
        ratio = measured / reference if reference else None
        if ratio is not None and ratio > bound:
            within = False
        shown = f"{ratio:.2f}" if ratio is not None else "-"
        if generate_base is None:
            print(f"  {size:>10}  {seconds:>9.3f}  {shown:>6}")
        elif against == "base":
            print(f"  {size:>10}  {seconds:>9.3f}  {base:>10.3f}  {shown:>6}")
        else:
            print(f"  {size:>10}  {seconds:>9.3f}  {base:>9.3f}  {measured:>9.3f}  {shown:>6}")
        previous = measured
        previous_size = size
    measure = {"work": "ratio to the previous step per unit of work",
               "base": "ratio to the other form of the same size"}.get(against, f"ratio to the {against} step")
    print(f"  bound: {measure} at most {bound:g}: {'kept' if within else 'BROKEN'}")
    return within


def peak_memory(qovrin, text, stem, timeout):
    """Peak resident memory of one run in bytes, or None when it timed out."""
    source = write_source(stem, text)
    child = Child([qovrin, source, "-o", f"{stem}.bin", "--no-progress"], stdout=subprocess.DEVNULL,
                  stderr=subprocess.DEVNULL)
    try:
        child.process.wait(timeout)
    except subprocess.TimeoutExpired:
        child.stop()
        return None
    code, usage = child.finish()
    if code != 0:
        raise RuntimeError(f"qovrin failed on {source}")
    return usage.peak_kib * 1024


def run_memory_case(qovrin, name, work, timeout):
    """Prints the peak memory of both variants at each size; returns False
    when the bound is broken at any."""
    generate, measured, against, sizes, bound, kind = MEMORY_CASES[name]
    print(f"{name}:")
    print(f"  {'size':>10}  {'source':>16}  {'peak MiB':>9}")
    within = True
    for size in sizes:
        peaks = []
        for variant in (measured, against):
            stem = os.path.join(work, f"{name}-{variant}-{size}")
            peaks.append(peak_memory(qovrin, generate(size, variant), stem, timeout))
        for label, peak in zip((f"every {measured}", "without"), peaks):
            shown = f"{peak / 2**20:.1f}" if peak is not None else ">" + format(timeout, "g") + " s"
            print(f"  {size:>10}  {label:>16}  {shown:>9}")
        if None in peaks:
            within = False
            continue
        if kind == "ratio":
            value = peaks[0] / peaks[1]
            print(f"  {'':>10}  peak ratio {value:.2f} at most {bound:g}")
        else:
            value = (peaks[0] - peaks[1]) / size
            print(f"  {'':>10}  {value:.0f} bytes more per unit, at most {bound:g}")
        within = within and value <= bound
    print(f"  bound: {'kept' if within else 'BROKEN'}")
    return within


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("qovrin")
    parser.add_argument("--case", action="append", choices=sorted(CASES) + sorted(MEMORY_CASES))
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--least", type=float, default=2.0)
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
