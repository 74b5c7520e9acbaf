#!/usr/bin/env python3
"""Seeded random programs that copy, pass, change and compare lists, maps and
byte strings (assignments, `let` parameters, value functions, macros, frozen
`defer` blocks, loops, lists pushed into each other, calls whose later
argument runs a value function that writes the binding an earlier one
reads, helpers that do their work through other functions), each assembled by qovrin and its printed lines compared with what a
small model of the value rules expects: a value is never changed through
another binding, whatever the two share.

Usage: value_semantics_differential_test.py <qovrin> [--programs N] [--first N]"""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

LISTS = ["l0", "l1", "l2"]
MAPS = ["m0", "m1"]
BYTES = ["b0", "b1"]
# Lists of strings and lists, pushed into each other and into themselves.
TREES = ["n0", "n1", "n2"]
GROUP_KEYS = ["g0", "g1", "g2"]

PRELUDE = """fn addp(let l, v) {
  l = list.push(l, v)
}
fn setp(let l, i, v) {
  l = list.set(l, i, v)
}
fn same(v) -> string {
  return v
}
fn relay(let l, v) {
  addp(l, same(v))
}
fn setn(let l, i, v) {
  l = list.set(l, i, same(v))
}
fn grow(x: list, v) -> list {
  return list.push(x, v)
}
fn size_of(x: list) -> u64 {
  return len(x)
}
fn freeze(l, tag, count) {
  let k = l
  for i in range(0, count) {
    defer {
      print(sym.join(tag, join(k, ",")))
    }
    k = list.push(k, tag)
  }
}
fn freeze_bytes(b, tag) {
  let k = b
  defer {
    print(sym.join(tag, bytes.hex(k)))
  }
  k = bytes.push(k, 255)
}
fn tick() -> string {
  w = list.push(w, "late")
  return "on"
}
fn lset(let w, i) {
  w = list.set(w, i, tick())
}
fn relay_tick() -> string {
  return same(tick())
}
fn lset2(let w, i) {
  w = list.set(w, i, relay_tick())
}
fn mtick() -> string {
  w = map.set(w, "late", "x")
  return "on"
}
fn mset(let w, k) {
  w = map.set(w, k, mtick())
}
fn ttick() -> string {
  w = "late"
  return "on"
}
fn tshow(l) {
  let w = join(l, ",")
  print(sym.join(w, ttick()))
  w = join(l, ",")
  w = sym.join(w, ttick(), w)
  print(w)
}
macro add0(a) {
  l0 = list.push(l0, operand.text(a))
}
let nest = list.of()
"""


class Model:
    """The expected state: plain Python values, copied on every assignment."""

    def __init__(self):
        self.lists = {name: [] for name in LISTS}
        self.maps = {name: {} for name in MAPS}
        self.bytes = {name: b"" for name in BYTES}
        self.group = {key: [] for key in GROUP_KEYS}
        self.nest = []
        self.trees = {name: () for name in TREES}
        self.printed = []
        self.deferred = []


def show_list(items):
    return ",".join(items)


def print_line(expression):
    return f"print({expression})"


def literal(tree):
    """The expression that builds the tree (a string or a tuple of trees)."""
    if isinstance(tree, str):
        return f'"{tree}"'
    return "list.of(" + ", ".join(map(literal, tree)) + ")"


def tree_depth(tree):
    return 0 if isinstance(tree, str) else 1 + max(map(tree_depth, tree), default=0)


def tree_size(tree, known):
    """How many strings and lists the tree's literal writes. A tree pushed
    into itself repeats, so sizes are remembered by identity (along with the
    tree, so that no other takes its identity)."""
    if isinstance(tree, str):
        return 1
    if id(tree) not in known:
        known[id(tree)] = (tree, 1 + sum(tree_size(item, known) for item in tree))
    return known[id(tree)][1]


class Generator:
    """Writes one program and runs the model along with it."""

    def __init__(self, rng):
        self.rng = rng
        self.model = Model()
        self.tags = 0
        self.values = 0
        self.sizes = {}

    def value(self):
        self.values += 1
        return f"v{self.values}"

    def helper(self, direct, relayed):
        """One of two helpers that do the same, the second through calls of
        other functions, told by the values written so far rather than by a
        draw, so that the programs stay as they were but for the name, and a
        loop's rounds write the same text."""
        return relayed if self.values % 2 == 0 else direct

    def tag(self):
        self.tags += 1
        return f"t{self.tags}:"

    def statement(self):
        """One statement's text, applied to the model."""
        rng, model = self.rng, self.model
        lists = model.lists
        a, b = rng.choice(LISTS), rng.choice(LISTS)
        kind = rng.randrange(47)
        if kind >= 44:
            return self.caller_write(kind)
        if kind == 0:
            lists[a] = list(lists[b])
            return f"{a} = {b}"
        if kind in (1, 9):
            v = self.value()
            lists[a] = lists[b] + [v]
            return f'{a} = list.push({b}, "{v}")' if kind == 1 else f'{a} = grow({b}, "{v}")'
        if kind in (2, 7):
            v = self.value()
            lists[a].append(v)
            return f'list.push_mut({a}, "{v}")' if kind == 2 else f'{self.helper("addp", "relay")}({a}, "{v}")'
        if kind in (3, 4, 8) and lists[a]:
            # The model's lists are never shared, so a change in place is a
            # change of that one binding.
            index, v = rng.randrange(len(lists[a])), self.value()
            lists[a][index] = v
            forms = {3: f'{a} = list.set({a}, {index}, "{v}")', 4: f'list.set_mut({a}, {index}, "{v}")',
                     8: f'{self.helper("setp", "setn")}({a}, {index}, "{v}")'}
            return forms[kind]
        if kind == 5:
            lists[a] = lists[a] + lists[b]
            return f"{a} = list.concat({a}, {b})"
        if kind == 6 and lists[b]:
            start = rng.randrange(len(lists[b]))
            count = rng.randrange(len(lists[b]) - start + 1)
            lists[a] = lists[b][start:start + count]
            return f"{a} = list.slice({b}, {start}, {count})"
        if kind == 10:
            model.printed.append(str(len(lists[a])))
            return print_line(f"to_string(size_of({a}))")
        if kind == 11:
            tag, count = self.tag(), rng.randrange(1, 3)
            for round_ in range(count):
                model.deferred.append(tag + show_list(lists[a] + [tag] * round_))
            return f'freeze({a}, "{tag}", {count})'
        if kind == 12:
            key, v, m, n = f"k{rng.randrange(3)}", self.value(), rng.choice(MAPS), rng.choice(MAPS)
            model.maps[m] = dict(model.maps[n])
            model.maps[m][key] = v
            return f'{m} = map.set({n}, "{key}", "{v}")'
        if kind == 13:
            key, v, m = f"k{rng.randrange(3)}", self.value(), rng.choice(MAPS)
            model.maps[m][key] = v
            return f'map.set_mut({m}, "{key}", "{v}")'
        if kind == 14:
            m, n = rng.choice(MAPS), rng.choice(MAPS)
            model.maps[m] = dict(model.maps[n])
            return f"{m} = {n}"
        if kind == 15:
            key, v = rng.choice(GROUP_KEYS), self.value()
            model.group = dict(model.group)
            model.group[key] = model.group[key] + [v]
            return f'group = map.set(group, "{key}", list.push(map.get(group, "{key}"), "{v}"))'
        if kind == 16:
            key = rng.choice(GROUP_KEYS)
            if rng.randrange(2):
                lists[a] = list(model.group[key])
                return f'{a} = map.get(group, "{key}")'
            model.group = dict(model.group)
            model.group[key] = list(lists[a])
            return f'group = map.set(group, "{key}", {a})'
        if kind == 17:
            x, y, byte = rng.choice(BYTES), rng.choice(BYTES), rng.randrange(256)
            model.bytes[x] = model.bytes[y] + bytes([byte])
            return f"{x} = bytes.push({y}, {byte})"
        if kind == 18:
            x, y = rng.choice(BYTES), rng.choice(BYTES)
            if rng.randrange(2):
                model.bytes[x] = model.bytes[x] + model.bytes[y]
                return f"{x} = bytes.concat({x}, {y})"
            offset = rng.randrange(len(model.bytes[x]) + 1)
            model.bytes[x] = model.bytes[x][:offset] + model.bytes[y] + model.bytes[x][offset:]
            return f"{x} = bytes.insert({x}, {offset}, {y})"
        if kind == 19:
            x, y = rng.choice(BYTES), rng.choice(BYTES)
            model.bytes[x] = model.bytes[y]
            return f"{x} = {y}"
        if kind == 20:
            x, tag = rng.choice(BYTES), self.tag()
            model.deferred.append(tag + model.bytes[x].hex())
            return f'freeze_bytes({x}, "{tag}")'
        if kind == 21:
            v = self.value()
            lists["l0"] = lists["l0"] + [v]
            return f"add0 {v}"
        if kind == 22:
            model.nest = model.nest + [list(lists[a])]
            return f"nest = list.push(nest, {a})"
        if kind == 23:
            model.nest = model.nest + [list(model.nest)]
            return "nest = list.push(nest, nest)"
        if kind >= 24:
            # Trees get many draws: what breaks them takes several tree
            # statements in a row.
            return self.tree_statement(kind % 5)
        return self.observation()

    def caller_write(self, kind):
        """A call whose later argument runs a value function that writes the
        binding an earlier argument names: the earlier one keeps what it
        read."""
        rng, model = self.rng, self.model
        if kind == 44 and model.lists[a := rng.choice(LISTS)]:
            index = rng.randrange(len(model.lists[a]))
            model.lists[a][index] = "on"
            return f'{self.helper("lset", "lset2")}({a}, {index})'
        if kind == 45:
            key, m = f"k{rng.randrange(3)}", rng.choice(MAPS)
            model.maps[m][key] = "on"
            return f'mset({m}, "{key}")'
        a = rng.choice(LISTS)
        shown = show_list(model.lists[a])
        model.printed += [shown + "on", shown + "on" + "late"]
        return f"tshow({a})"

    def tree_statement(self, kind):
        rng, trees = self.rng, self.model.trees
        x, y, z = rng.choice(TREES), rng.choice(TREES), rng.choice(TREES)
        if kind == 0:
            trees[x] = trees[y]
            return f"{x} = {y}"
        if kind == 1:
            v = self.value()
            trees[x] = trees[x] + (v,)
            return f'list.push_mut({x}, "{v}")'
        # Every push of a tree keeps it well inside the nesting limit, and
        # its literal short.
        if max(tree_depth(trees[y]), tree_depth(trees[z])) > 40 or sum(
                tree_size(trees[name], self.sizes) for name in (x, y, z)) > 400:
            return self.observation()
        if kind == 2:
            trees[x] = trees[x] + (trees[y],)
            return f"list.push_mut({x}, {y})"
        if kind == 3:
            trees[x] = trees[y] + (trees[z],)
            return f"{x} = list.push({y}, {z})"
        a = rng.choice(LISTS)
        trees[x] = trees[y] + (tuple(self.model.lists[a]),)
        return f"{x} = list.push({y}, {a})"

    def list_equality(self, names, values):
        a, b = self.rng.choice(names), self.rng.choice(names)
        self.model.printed.append("true" if values[a] == values[b] else "false")
        return print_line(f"to_string(list.eq({a}, {b}))")

    def observation(self):
        rng, model = self.rng, self.model
        kind = rng.randrange(7)
        if kind == 6:
            return self.list_equality(TREES, model.trees)
        if kind == 0:
            a = rng.choice(LISTS)
            model.printed.append(show_list(model.lists[a]))
            return print_line(f'join({a}, ",")')
        if kind == 1:
            return self.list_equality(LISTS, model.lists)
        if kind == 2:
            m = rng.choice(MAPS)
            model.printed.append(show_list(model.maps[m].keys()) + "=" + show_list(model.maps[m].values()))
            return print_line(f'sym.join(join(map.keys({m}), ","), sym.join("=", join(map.values({m}), ",")))')
        if kind == 3:
            x = rng.choice(BYTES)
            model.printed.append(model.bytes[x].hex())
            return print_line(f"bytes.hex({x})")
        if kind == 4:
            key = rng.choice(GROUP_KEYS)
            model.printed.append(show_list(model.group[key]))
            return print_line(f'join(map.get(group, "{key}"), ",")')
        model.printed.append(str(len(model.nest)))
        return print_line("to_string(len(nest))")

    def program(self):
        lines = [PRELUDE.rstrip("\n")]
        lines += [f"let {name} = list.of()" for name in LISTS]
        lines += [f"let {name} = map.new()" for name in MAPS]
        lines += [f"let {name} = bytes.new()" for name in BYTES]
        lines += [f"let {name} = list.of()" for name in TREES]
        lines.append("let group = map.new()")
        lines += [f'group = map.set(group, "{key}", list.of())' for key in GROUP_KEYS]
        for _ in range(self.rng.randrange(8, 24)):
            if self.rng.randrange(5) == 0:
                # A loop runs its body's statements again on what they made.
                rounds = self.rng.randrange(2, 4)
                body = [self.rng.randrange(1 << 30) for _ in range(self.rng.randrange(1, 4))]
                start, texts = (self.values, self.tags), None
                for _ in range(rounds):
                    self.values, self.tags = start
                    written = []
                    for key in body:
                        saved, self.rng = self.rng, random.Random(key)
                        written.append(self.statement())
                        self.rng = saved
                    # A statement whose text follows the state (an index, an
                    # offset) cannot stand in a loop.
                    if texts is not None and written != texts:
                        raise _Skip()
                    texts = written
                if any(text.startswith("add0 ") or "freeze" in text for text in texts):
                    raise _Skip()
                lines.append(f"for i in range(0, {rounds}) {{")
                lines += ["  " + text for text in texts]
                lines.append("}")
            else:
                lines.append(self.statement())
        model = self.model
        for name in LISTS:
            lines.append(print_line(f'join({name}, ",")'))
            model.printed.append(show_list(model.lists[name]))
        for name in MAPS:
            lines.append(print_line(f'sym.join(join(map.keys({name}), ","), join(map.values({name}), ","))'))
            model.printed.append(show_list(model.maps[name].keys()) + show_list(model.maps[name].values()))
        for name in BYTES:
            lines.append(print_line(f"bytes.hex({name})"))
            model.printed.append(model.bytes[name].hex())
        for key in GROUP_KEYS:
            lines.append(print_line(f'join(map.get(group, "{key}"), ",")'))
            model.printed.append(show_list(model.group[key]))
        for name in TREES:
            lines.append(print_line(f"to_string(list.eq({name}, {literal(model.trees[name])}))"))
            model.printed.append("true")
        return "\n".join(lines) + "\n"


class _Skip(Exception):
    pass


def generate(number):
    """A program with its expected printed lines, the same for the same number."""
    attempt = 0
    while True:
        generator = Generator(random.Random(number * 1000 + attempt))
        try:
            source = generator.program()
        except _Skip:
            attempt += 1
            continue
        return source, generator.model.printed + generator.model.deferred


NOTE = re.compile(r"^[^:]+:\d+:\d+: note: (.*)$")


def run(qovrin, work, number):
    """None when qovrin printed what the model expects, else a report."""
    source, expected = generate(number)
    path = os.path.join(work, f"program{number}.qov")
    with open(path, "w") as handle:
        handle.write(source)
    completed = subprocess.run([qovrin, path, "-o", path + ".bin", "--no-progress"], capture_output=True, text=True,
                               timeout=60)
    printed = [match.group(1) for match in map(NOTE.match, completed.stderr.splitlines()) if match]
    if completed.returncode == 0 and printed == expected:
        return None
    return (f"program {number}: status {completed.returncode}\n--- source\n{source}--- expected\n" + "\n".join(expected) +
            "\n--- printed\n" + "\n".join(printed) + "\n--- stderr\n" + completed.stderr[-2000:])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("qovrin")
    parser.add_argument("--programs", type=int, default=500)
    parser.add_argument("--first", type=int, default=44)
    arguments = parser.parse_args()
    numbers = range(arguments.first, arguments.first + arguments.programs)
    with tempfile.TemporaryDirectory(prefix="qovrin-values-") as work, ThreadPoolExecutor(4) as pool:
        failures = [report for report in pool.map(lambda number: run(arguments.qovrin, work, number), numbers) if report]
    for report in failures[:3]:
        print(report)
    print(f"{arguments.programs - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
