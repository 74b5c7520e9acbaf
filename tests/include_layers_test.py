#!/usr/bin/env python3
"""Reads every #include "..." under the source folder and fails, naming the
file and the include, when a folder of the stack below includes one above it,
when an encoder includes the front end, when folders include each other in
a cycle, or when a note on a failed statement includes a header of lowering
that leads back to the notes.

Usage: include_layers_test.py <src>"""
import os
import re
import sys

# Bottom to top: each folder may include only those before it.
STACK = [
    "frontend/syntax",    # source text, statements, expression trees
    "frontend/values",    # meta values, types, the target description
    "frontend/meta_std",  # the builtin library on values
    "frontend/module",    # sections, fragments, symbols, frozen bodies
    "frontend/output",    # the laid-out image, result and listing rows
    "frontend/evaluate",  # expressions against the module and the library
    "frontend/encode",    # encoders driven over the module, layout
    "frontend/lower/notes",  # what is told beside a failed statement
    "frontend/lower",     # statements into the module
    "assembly",
    "main",
]
ENCODERS = ["x86_encoder", "riscv_encoder", "spirv_encoder"]

# The notes ask lowering what a failed statement held, so they may include
# its headers, but only those that do not lead back to the notes: what they
# read of its core is declared in frontend/lower/reading.hpp.
NOTES = "frontend/lower/notes"
NOTES_READ = "frontend/lower"

INCLUDE = re.compile(r'\s*#\s*include\s*"([^"]+)"')


def layer_of(folder):
    """The folder of the stack that holds `folder`: a subfolder not named in
    the stack belongs to the nearest one above it that is."""
    held = [entry for entry in STACK if folder == entry or folder.startswith(entry + "/")]
    return max(held, key=len) if held else folder


def file_includes(src):
    """(file, included file, as written), both relative to src."""
    found = []
    for directory, _, files in sorted(os.walk(src)):
        for name in sorted(files):
            with open(os.path.join(directory, name), errors="replace") as text:
                for line in text:
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = os.path.join(directory, match.group(1))
                    if not os.path.exists(target):
                        target = os.path.join(src, match.group(1))
                    found.append((os.path.relpath(os.path.join(directory, name), src),
                                  os.path.relpath(os.path.normpath(target), src), match.group(1)))
    return found


def folder_edges(includes):
    """(from folder, to folder) -> first 'file -> include' seen."""
    edges = {}
    for source, target, written in includes:
        folder = layer_of(os.path.dirname(source))
        to = layer_of(os.path.dirname(target))
        # Checked header by header below.
        if (folder, to) == (NOTES, NOTES_READ):
            continue
        if to != folder:
            edges.setdefault((folder, to), f"{folder}/{os.path.basename(source)} includes {written}")
    return edges


def notes_faults(includes):
    """The notes' includes of lowering headers whose header or source leads
    back to a note through includes; a header and its source count as one."""
    def stem(path):
        return os.path.splitext(path)[0]

    graph = {}
    for source, target, _ in includes:
        graph.setdefault(stem(source), set()).add(stem(target))

    def leads_to_notes(start):
        seen, stack = set(), [start]
        while stack:
            node = stack.pop()
            if os.path.dirname(node) == NOTES:
                return True
            if node not in seen:
                seen.add(node)
                stack.extend(graph.get(node, ()))
        return False

    return [f"{source} includes {written}, which leads back to the notes: read lowering through "
            "frontend/lower/reading.hpp"
            for source, target, written in includes
            if os.path.dirname(source) == NOTES and os.path.dirname(target) == NOTES_READ
            and leads_to_notes(stem(target))]


def layer_faults(edges):
    rank = {folder: index for index, folder in enumerate(STACK)}
    faults = []
    for (source, to), example in sorted(edges.items()):
        if source.startswith("frontend/") and source not in rank:
            faults.append(f"{example}: folder {source} has no place in the stack")
        elif source in rank and rank.get(to, -1) > rank[source]:
            faults.append(f"{example}: {to} stands above {source}")
        elif source in ENCODERS and to.startswith("frontend"):
            faults.append(f"{example}: an encoder includes the front end")
    return faults


def cycle(edges):
    """One cycle of folders as a list of edges, or none."""
    graph = {}
    for source, to in edges:
        graph.setdefault(source, []).append(to)
    state = {}

    def visit(folder, path):
        state[folder] = "open"
        for to in sorted(graph.get(folder, [])):
            if state.get(to) == "open":
                start = [edge[0] for edge in path].index(to)
                return path[start:] + [(folder, to)]
            if to not in state:
                found = visit(to, path + [(folder, to)])
                if found:
                    return found
        state[folder] = "done"
        return None

    for folder in sorted(graph):
        if folder not in state:
            found = visit(folder, [])
            if found:
                return found
    return None


def main():
    if len(sys.argv) == 2 and sys.argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    includes = file_includes(sys.argv[1])
    edges = folder_edges(includes)
    faults = layer_faults(edges) + notes_faults(includes)
    loop = cycle(edges)
    if loop:
        faults.append("folders in a cycle: " + "; ".join(edges[edge] for edge in loop))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
