"""Helpers the table generators share: data checks that fail the build with a
message, open-addressed name slots, and writing the generated C++ files."""

import argparse
import os
import sys


class DataError(Exception):
    pass


def require(condition, message):
    if not condition:
        raise DataError(message)


def build_hash_slots(hashes, slot_count):
    """Open-addressed slots holding row + 1 (0 = empty) for rows with the given
    name hashes; rows are inserted in order so that probing meets the first of
    equal names first."""
    require(2 * len(hashes) <= slot_count, f"{len(hashes)} names are too many for {slot_count} hash slots")
    slots = [0] * slot_count
    for row, value in enumerate(hashes):
        slot = value & (slot_count - 1)
        while slots[slot]:
            slot = (slot + 1) & (slot_count - 1)
        slots[slot] = row + 1
    return slots


def join_lines(items, per_line, indent="    "):
    lines = []
    for start in range(0, len(items), per_line):
        lines.append(indent + ", ".join(items[start:start + per_line]) + ",")
    return "\n".join(lines)


def write_file(path, lines):
    text = "\n".join(lines) + "\n"
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="ascii", newline="\n") as handle:
        handle.write(text)
    os.replace(temporary, path)


def run(argv, name, description, data_help, generate, emit_source, emit_header):
    """Reads the data, then writes generated_tables.cpp and .hpp; a DataError
    writes nothing and exits 1 with the generator's name before the message.
    The source is emitted first, so that it may fill what the header sizes."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--data-dir", required=True, help=data_help)
    parser.add_argument("--out-dir", required=True, help="folder that receives the generated C++ files")
    args = parser.parse_args(argv)
    try:
        ctx = generate(args.data_dir)
    except DataError as error:
        print(f"{name}: {error}", file=sys.stderr)
        return 1
    source = []
    emit_source(source, ctx)
    header = []
    emit_header(header, ctx)
    os.makedirs(args.out_dir, exist_ok=True)
    write_file(os.path.join(args.out_dir, "generated_tables.hpp"), header)
    write_file(os.path.join(args.out_dir, "generated_tables.cpp"), source)
    return 0
