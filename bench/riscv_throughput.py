#!/usr/bin/env python3
"""Encodes a generated RV64 source of 1,000,000 instruction lines (base, M, A,
C, F/D, branches and jumps to labels) with qovrin's RISC-V encoder and with
riscv64-linux-gnu-as in the same run, and prints the lines per second and the
peak memory of each.

qovrin's encoder runs alone (tests/tools/riscv_encode_lines with the
first-pass stand-in for labels), reading and printing one line per
instruction; with --qovrin the whole program also assembles the same source
(labels patched) into a flat file. The GNU side assembles the whole file into
an object.

Usage: riscv_throughput.py <riscv_encode_lines> [line count] [--qovrin <qovrin>]
"""

import os
import random
import subprocess
import sys
import tempfile
import time

GNU_AS = "riscv64-linux-gnu-as"

PRIME = ["s0", "s1", "a0", "a1", "a2", "a3", "a4", "a5"]  # the registers of 3-bit compressed fields
PATTERNS = [
    "add a{0}, a{1}, a{2}", "addi a{0}, a{1}, {imm}", "sub s{0}, s{1}, s{2}", "slli s{0}, s{1}, {shift}",
    "lw a{0}, {off}(sp)", "sd s{0}, {off8}(sp)", "ld a{0}, {off8}(s0)", "lui a{0}, {upper}",
    "mul a{0}, a{1}, a{2}", "divu a{0}, a{1}, a{2}", "amoadd.w.aqrl a{0}, a{1}, (a{2})",
    "fadd.d fa{0}, fa{1}, fa{2}, dyn", "fmul.s ft{0}, ft{1}, ft{2}, rne", "fld fa{0}, {off8}(sp)",
    "c.addi s{0}, {cimm}", "c.mv a{0}, a{1}", "c.lw {p0}, {coff}({p1})", "c.li a{0}, {cimm}",
    "beq a{0}, a{1}, {label}", "bnez a{0}, {label}", "jal ra, {label}", "c.j {clabel}",
]


def generate(count, gnu, ours, program, start=1):
    """Writes the GNU source and qovrin's input lines: labels every 16
    instructions, branches to labels near them so every offset fits. Written
    line by line so that this process stays small: the measured children
    start as copies of it."""
    rng = random.Random(start)
    gnu.write(".option norelax\n")
    program.write("riscv.use64()\norigin(0)\n")
    for index in range(count):
        if index % 16 == 0:
            gnu.write(f"L{index // 16}:\n")
            program.write(f"L{index // 16}:\n")
        here = index // 16
        line = rng.choice(PATTERNS).format(
            rng.randrange(8), rng.randrange(8), rng.randrange(8), imm=rng.randrange(-2048, 2048),
            shift=rng.randrange(64), off=4 * rng.randrange(-512, 512), off8=8 * rng.randrange(-256, 256),
            upper=rng.randrange(1 << 20), cimm=rng.randrange(-32, 32) or 1, coff=4 * rng.randrange(32),
            label=f"L{max(0, here + rng.randrange(-8, 8))}", clabel=f"L{max(0, here + rng.randrange(-2, 2))}",
            p0=rng.choice(PRIME), p1=rng.choice(PRIME))
        gnu.write(line + "\n")
        program.write(line + "\n")
        ours.write(f"64 {line}\n")
    # Branches near the end may name labels past the last instruction; a flat
    # output has no external symbols, so define them all.
    for label in range((count - 1) // 16 + 1, (count - 1) // 16 + 9):
        program.write(f"L{label}:\n")


def run(command, stdin_path):
    """Wall time and peak resident memory (KiB) of one child process."""
    with open(stdin_path, "rb") as stdin, open(os.devnull, "wb") as devnull:
        start = time.monotonic()
        process = subprocess.Popen(command, stdin=stdin, stdout=devnull, stderr=subprocess.PIPE)
        errors = process.stderr.read()
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"{command[0]} failed: {errors[:400].decode(errors='replace')}")
    return elapsed, usage.ru_maxrss


def main(argv):
    qovrin = None
    if "--qovrin" in argv:
        at = argv.index("--qovrin")
        qovrin = argv[at + 1]
        argv = argv[:at] + argv[at + 2:]
    encoder = argv[0]
    count = int(argv[1]) if len(argv) > 1 else 1_000_000
    with tempfile.TemporaryDirectory(prefix="riscv_throughput_") as work:
        source = os.path.join(work, "bench.s")
        lines = os.path.join(work, "bench.lines")
        program = os.path.join(work, "bench.qov")
        with open(source, "w", encoding="ascii") as gnu, open(lines, "w", encoding="ascii") as ours, \
                open(program, "w", encoding="ascii") as whole:
            generate(count, gnu, ours, whole)
        ours_time, ours_memory = run([encoder, "--stand-in"], lines)
        if qovrin is not None:
            whole_time, whole_memory = run([qovrin, program, "-o", os.path.join(work, "bench.bin"), "--no-progress"],
                                           os.devnull)
        gnu_time, gnu_memory = run([GNU_AS, "-march=rv64gc", "-o", os.path.join(work, "bench.o"), source], os.devnull)
    print(f"{count} lines")
    print(f"qovrin encoder : {count / ours_time:12,.0f} lines/s  peak {ours_memory / 1024:8.1f} MiB")
    if qovrin is not None:
        print(f"qovrin program : {count / whole_time:12,.0f} lines/s  peak {whole_memory / 1024:8.1f} MiB"
              f"  ({gnu_time / whole_time:.2f}x)")
    print(f"{GNU_AS:15s}: {count / gnu_time:12,.0f} lines/s  peak {gnu_memory / 1024:8.1f} MiB")
    print(f"ratio          : {gnu_time / ours_time:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
