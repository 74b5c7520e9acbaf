#!/usr/bin/env python3
"""Assembles a generated RV64 program (base, M, A, C, F/D, branches and jumps
to labels before and after them) with the qovrin command and with
riscv64-linux-gnu-as, and compares the bytes: every branch is patched at its
real distance, every label follows the encoded sizes. Once with ABI register
names, once with numbered ones and once with both mixed.

The GNU assembler compresses instructions by itself unless told not to, so
its source switches compression on only around the explicit c. lines.

Usage: riscv_road_differential_test.py <qovrin> <bench/riscv_throughput.py> [lines]
Exits 77 (skipped) when the GNU assembler cannot be found, or fails then
when QOVRIN_REQUIRE_ORACLES=1.
"""

import importlib.util
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile

import oracle

GNU_AS = "riscv64-linux-gnu-as"
GNU_OBJCOPY = "riscv64-linux-gnu-objcopy"
# Register spellings of the generator: ABI names, numbered names, both mixed.
SPELLINGS = ("abi", "x", "mix")


def program(generator_path, count, spelling):
    """The generator's GNU source with registers in the given spelling, with
    label references past the last label pointed at the last one, as
    instruction lines and labels."""
    module_spec = importlib.util.spec_from_file_location("riscv_throughput", generator_path)
    generator = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(generator)
    gnu = io.StringIO()
    generator.generate(count, gnu, io.StringIO(), io.StringIO(), spelling=spelling)
    last = (count - 1) // 16
    lines = [line for line in gnu.getvalue().splitlines() if not line.startswith(".option")]
    return [re.sub(r"\bL(\d+)\b(?!:)", lambda match: f"L{min(int(match.group(1)), last)}", line) for line in lines]


def compare(qovrin, lines, work):
    """Assembles the lines both ways in the folder; the two outputs' bytes."""
    gnu = [".option norelax", ".option norvc"]
    for line in lines:
        gnu += [".option rvc", line, ".option norvc"] if line.startswith("c.") else [line]
    paths = {name: os.path.join(work, name) for name in ("main.qov", "main.s", "main.o", "gnu.bin", "main.bin")}
    with open(paths["main.qov"], "w") as handle:
        handle.write("riscv.use64()\n" + "\n".join(lines) + "\n")
    with open(paths["main.s"], "w") as handle:
        handle.write("\n".join(gnu) + "\n")
    ours = subprocess.run([qovrin, paths["main.qov"], "--no-progress", "-o", paths["main.bin"]],
                          capture_output=True, text=True)
    if ours.returncode != 0:
        return None, ours.stderr
    subprocess.run([GNU_AS, "-march=rv64gc", paths["main.s"], "-o", paths["main.o"]], check=True)
    subprocess.run([GNU_OBJCOPY, "-O", "binary", "-j", ".text", paths["main.o"], paths["gnu.bin"]], check=True)
    with open(paths["main.bin"], "rb") as mine, open(paths["gnu.bin"], "rb") as theirs:
        return mine.read(), theirs.read()


def main():
    if shutil.which(GNU_AS) is None or shutil.which(GNU_OBJCOPY) is None:
        return oracle.missing(f"{GNU_AS} (binutils-riscv64-linux-gnu)")
    qovrin, generator_path = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 20000
    failed = False
    for spelling in SPELLINGS:
        with tempfile.TemporaryDirectory(prefix="qovrin-riscv-road-") as work:
            mine, theirs = compare(qovrin, program(generator_path, count, spelling), work)
        if mine is None:
            print(f"{spelling} register names: qovrin failed: {theirs[:2000]}")
            failed = True
        elif mine == theirs:
            print(f"{spelling} register names, {count} lines: the same {len(mine)} bytes")
        else:
            first = next((index for index, (a, b) in enumerate(zip(mine, theirs)) if a != b),
                         min(len(mine), len(theirs)))
            print(f"{spelling} register names, {count} lines: {len(mine)} bytes against {len(theirs)}; "
                  f"first difference at offset {first:#x}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
