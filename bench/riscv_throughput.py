#!/usr/bin/env python3
"""Encodes a generated RV64 source of 1,000,000 instruction lines (base, M, A,
C, F/D, branches and jumps to labels) with qovrin's RISC-V encoder and with
riscv64-linux-gnu-as in the same run, and prints the lines per second and the
peak memory of each, once per register spelling.

The spellings: "abi" writes ABI names (a0, sp, fa1), "x" writes the numbered
names (x10, x2, f11), "mix" picks one of the two for every register. The
instructions are the same for every spelling.

qovrin's encoder runs alone (tests/tools/riscv_encode_lines with the
first-pass stand-in for labels), reading and printing one line per
instruction; with --qovrin the whole program also assembles the same source
(labels patched) into a flat file, whose bytes must equal the .text section
that the GNU assembler makes of it. The GNU side assembles the whole file into
an object, timed on the plain source, where it may compress instructions by
itself; the bytes are compared with a second, untimed run on a source that
switches compression on only around the explicit c. lines.

Usage: riscv_throughput.py <riscv_encode_lines> [line count] [--registers abi,x,mix] [--qovrin <qovrin>]
"""

import argparse
import os
import random
import re
import subprocess
import sys
import tempfile

GNU_AS = "riscv64-linux-gnu-as"
GNU_OBJCOPY = "riscv64-linux-gnu-objcopy"
SPELLINGS = ("abi", "x", "mix")

PRIME = ["s0", "s1", "a0", "a1", "a2", "a3", "a4", "a5"]  # the registers of 3-bit compressed fields
PATTERNS = [
    "add a{0}, a{1}, a{2}", "addi a{0}, a{1}, {imm}", "sub s{0}, s{1}, s{2}", "slli s{0}, s{1}, {shift}",
    "lw a{0}, {off}(sp)", "sd s{0}, {off8}(sp)", "ld a{0}, {off8}(s0)", "lui a{0}, {upper}",
    "mul a{0}, a{1}, a{2}", "divu a{0}, a{1}, a{2}", "amoadd.w.aqrl a{0}, a{1}, (a{2})",
    "fadd.d fa{0}, fa{1}, fa{2}, dyn", "fmul.s ft{0}, ft{1}, ft{2}, rne", "fld fa{0}, {off8}(sp)",
    "c.addi s{0}, {cimm}", "c.mv a{0}, a{1}", "c.lw {p0}, {coff}({p1})", "c.li a{0}, {cimm}",
    "beq a{0}, a{1}, {label}", "bnez a{0}, {label}", "jal ra, {label}", "c.j {clabel}",
]

INTEGER_ABI = ["zero", "ra", "sp", "gp", "tp", "t0", "t1", "t2", "s0", "s1"] + [f"a{n}" for n in range(8)] + \
    [f"s{n}" for n in range(2, 12)] + [f"t{n}" for n in range(3, 7)]
FLOAT_ABI = [f"ft{n}" for n in range(8)] + ["fs0", "fs1"] + [f"fa{n}" for n in range(8)] + \
    [f"fs{n}" for n in range(2, 12)] + [f"ft{n}" for n in range(8, 12)]
NUMBERED = {name: f"x{number}" for number, name in enumerate(INTEGER_ABI)}
NUMBERED.update({name: f"f{number}" for number, name in enumerate(FLOAT_ABI)})
ABI_NAME = re.compile(r"\b(" + "|".join(sorted(NUMBERED, key=len, reverse=True)) + r")\b")


class Discard:
    """A writer that keeps nothing."""

    def write(self, text):
        return len(text)


def respell(line, spelling, rng):
    """The line with its register names in the given spelling; the mnemonic
    is left alone."""
    if spelling == "abi":
        return line
    mnemonic, _, operands = line.partition(" ")
    if spelling == "x":
        rename = lambda match: NUMBERED[match[1]]
    else:
        rename = lambda match: NUMBERED[match[1]] if rng.random() < 0.5 else match[1]
    return mnemonic + " " + ABI_NAME.sub(rename, operands)


def generate(count, gnu, ours, program, start=1, spelling="abi", exact=None):
    """Writes the GNU source and qovrin's input lines: labels every 16
    instructions, branches to labels near them so every offset fits. Written
    line by line so that this process stays small: the measured children
    start as copies of it. `exact`, when given, receives the GNU source that
    compresses only the explicit c. lines."""
    exact = exact if exact is not None else Discard()
    rng = random.Random(start)
    spell_rng = random.Random(start + 1)
    gnu.write(".option norelax\n")
    exact.write(".option norelax\n.option norvc\n")
    program.write("riscv.use64()\norigin(0)\n")
    for index in range(count):
        if index % 16 == 0:
            gnu.write(f"L{index // 16}:\n")
            exact.write(f"L{index // 16}:\n")
            program.write(f"L{index // 16}:\n")
        here = index // 16
        line = rng.choice(PATTERNS).format(
            rng.randrange(8), rng.randrange(8), rng.randrange(8), imm=rng.randrange(-2048, 2048),
            shift=rng.randrange(64), off=4 * rng.randrange(-512, 512), off8=8 * rng.randrange(-256, 256),
            upper=rng.randrange(1 << 20), cimm=rng.randrange(-32, 32) or 1, coff=4 * rng.randrange(32),
            label=f"L{max(0, here + rng.randrange(-8, 8))}", clabel=f"L{max(0, here + rng.randrange(-2, 2))}",
            p0=rng.choice(PRIME), p1=rng.choice(PRIME))
        line = respell(line, spelling, spell_rng)
        gnu.write(line + "\n")
        exact.write(f".option rvc\n{line}\n.option norvc\n" if line.startswith("c.") else line + "\n")
        program.write(line + "\n")
        ours.write(f"64 {line}\n")
    # Branches near the end may name labels past the last instruction; a flat
    # output has no external symbols, so define them all.
    for label in range((count - 1) // 16 + 1, (count - 1) // 16 + 9):
        exact.write(f"L{label}:\n")
        program.write(f"L{label}:\n")


def run(command, stdin_path):
    """Wall time, processor time (user and system) and peak resident memory
    (KiB) of one child process. On a busy machine the processor time is the
    steadier measure."""
    # Imported here: a test loads this file from elsewhere for its generator alone.
    from child_usage import Child

    with open(stdin_path, "rb") as stdin:
        child = Child(command, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        errors = child.process.stderr.read()
        code, usage = child.finish()
    if code != 0 or usage is None:
        raise SystemExit(f"{command[0]} failed: {errors[:400].decode(errors='replace')}")
    return usage


def same_bytes(ours_path, gnu_source, work):
    """Whether qovrin's flat output equals the .text section that the GNU
    assembler makes of the source."""
    gnu_object = os.path.join(work, "exact.o")
    text = os.path.join(work, "gnu.bin")
    subprocess.run([GNU_AS, "-march=rv64gc", "-o", gnu_object, gnu_source], check=True)
    subprocess.run([GNU_OBJCOPY, "-O", "binary", "-j", ".text", gnu_object, text], check=True)
    with open(ours_path, "rb") as mine, open(text, "rb") as theirs:
        return mine.read() == theirs.read()


def measure(encoder, qovrin, count, spelling):
    """One spelling: the rates and peaks of each program, and whether the bytes agree."""
    with tempfile.TemporaryDirectory(prefix="riscv_throughput_") as work:
        path = lambda name: os.path.join(work, name)
        with open(path("bench.s"), "w", encoding="ascii") as gnu, \
                open(path("bench.lines"), "w", encoding="ascii") as ours, \
                open(path("bench.qov"), "w", encoding="ascii") as whole, \
                open(path("exact.s"), "w", encoding="ascii") as exact:
            generate(count, gnu, ours, whole, spelling=spelling, exact=exact)
        result = {"encoder": run([encoder, "--stand-in"], path("bench.lines"))}
        if qovrin is not None:
            result["program"] = run([qovrin, path("bench.qov"), "-o", path("bench.bin"), "--no-progress"],
                                    os.devnull)
        result["gnu"] = run([GNU_AS, "-march=rv64gc", "-o", path("bench.o"), path("bench.s")], os.devnull)
        if qovrin is not None:
            result["same"] = same_bytes(path("bench.bin"), path("exact.s"), work)
    return result


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("encoder", help="tests/tools/riscv_encode_lines")
    parser.add_argument("count", nargs="?", type=int, default=1_000_000)
    parser.add_argument("--registers", default=",".join(SPELLINGS), help="of abi, x, mix, joined by commas")
    parser.add_argument("--qovrin")
    arguments = parser.parse_args(argv)
    spellings = arguments.registers.split(",")
    if any(spelling not in SPELLINGS for spelling in spellings):
        parser.error(f"--registers takes {', '.join(SPELLINGS)}, joined by commas")
    qovrin = arguments.qovrin
    encoder = arguments.encoder
    count = arguments.count
    print(f"{count} lines")
    summary = []
    for spelling in spellings:
        result = measure(encoder, qovrin, count, spelling)
        rate = lambda name: count / result[name][0]
        peak = lambda name: result[name][2] / 1024
        # Against GNU as: wall time, then processor time.
        ratios = lambda name: (f"({result['gnu'][0] / result[name][0]:.2f}x, "
                               f"processor {result['gnu'][1] / result[name][1]:.2f}x)")
        print(f"[{spelling} register names]")
        print(f"  qovrin encoder : {rate('encoder'):12,.0f} lines/s  peak {peak('encoder'):8.1f} MiB  "
              + ratios("encoder"))
        if qovrin is not None:
            print(f"  qovrin program : {rate('program'):12,.0f} lines/s  peak {peak('program'):8.1f} MiB  "
                  + ratios("program") + f"  bytes {'same' if result['same'] else 'DIFFER'}")
        print(f"  {GNU_AS:15s}: {rate('gnu'):12,.0f} lines/s  peak {peak('gnu'):8.1f} MiB")
        summary.append((spelling, result))
    if qovrin is not None:
        print("qovrin program against GNU as: " + ", ".join(
            f"{spelling} {result['gnu'][0] / result['program'][0]:.2f}x "
            f"(processor {result['gnu'][1] / result['program'][1]:.2f}x)" for spelling, result in summary))
        if not all(result["same"] for _, result in summary):
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
