#!/usr/bin/env python3
"""Assembles a generated x86-64 source (1,000,000 instruction lines by
default) with qovrin, nasm -f bin and GNU as in the same run, and prints each
one's lines per second and peak memory, and qovrin's ratios against the others.

The three sources say the same thing in each assembler's syntax. Two mixes:
"labels" (the default) has a label every 16 instructions, jumps and calls to
labels near them, memory operands and immediates; "plain" has no labels, only
ten common instructions in turn with random registers and values, so that it
measures the instruction path alone. nasm optimises jumps over many passes
and is by far the slowest; --without nasm leaves it out.

Usage: x86_throughput.py <qovrin> [--lines N] [--mix labels|plain] [--without nasm|as]
"""

import argparse
import os
import random
import sys
import tempfile

from child_usage import usage_of

PATTERNS = [
    "mov eax, {imm}", "add rax, rbx", "sub rcx, {imm}", "lea rdx, [rax+rbx*4+{imm}]",
    "mov {qword} [rsp+{off}], rax", "xor esi, esi", "cmp rdi, {imm}", "jne {label}", "jmp {label}",
    "call {label}", "push rbx", "pop rbx", "ret", "nop", "inc {dword} [rax]", "shl rax, 3",
    "movzx eax, {byte} [rsi+{off}]", "test eax, eax", "je {label}", "imul rax, rcx",
]

# How each assembler spells a memory size.
SIZES = {
    "qovrin": {"qword": "qword", "dword": "dword", "byte": "byte"},
    "nasm": {"qword": "qword", "dword": "dword", "byte": "byte"},
    "as": {"qword": "QWORD PTR", "dword": "DWORD PTR", "byte": "BYTE PTR"},
}
HEADERS = {"qovrin": "", "nasm": "bits 64\n", "as": ".intel_syntax noprefix\n"}


REG64 = ["rax", "rbx", "rcx", "rdx", "rsi", "rdi", "rbp", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15"]
REG32 = ["eax", "ebx", "ecx", "edx", "esi", "edi", "ebp", "r8d", "r9d", "r10d", "r11d", "r12d", "r13d", "r14d", "r15d"]

# The plain mix: one line of each in turn. Memory operands take their size
# from the register, so every assembler reads the same text.
PLAIN = [
    lambda rng: f"mov {rng.choice(REG64)}, {rng.choice(REG64)}",
    lambda rng: f"add {rng.choice(REG64)}, {rng.randrange(1 << 16, 1 << 31)}",
    lambda rng: f"mov {rng.choice(REG32)}, [{rng.choice(REG64)}+{rng.choice(REG64)}*4+{rng.randrange(1 << 12)}]",
    lambda rng: f"lea {rng.choice(REG64)}, [{rng.choice(REG64)}+{rng.randrange(1 << 12)}]",
    lambda rng: f"xor {rng.choice(REG32)}, {rng.choice(REG32)}",
    lambda rng: f"cmp {rng.choice(REG64)}, {rng.randrange(-128, 128)}",
    lambda rng: f"push {rng.choice(REG64)}",
    lambda rng: f"pop {rng.choice(REG64)}",
    lambda rng: f"vaddps ymm{rng.randrange(16)}, ymm{rng.randrange(16)}, ymm{rng.randrange(16)}",
    lambda rng: f"shl {rng.choice(REG64)}, {rng.randrange(1, 64)}",
]


def generate_plain(count, files, start=1):
    rng = random.Random(start)
    for name, handle in files.items():
        handle.write(HEADERS[name])
    for index in range(count):
        line = PLAIN[index % len(PLAIN)](rng) + "\n"
        for handle in files.values():
            handle.write(line)


def generate(count, files, start=1):
    """Writes the same program for every assembler, line by line, so that this
    process stays small: the measured children start as copies of it."""
    rng = random.Random(start)
    last_label = (count - 1) // 16
    for name, handle in files.items():
        handle.write(HEADERS[name])
    for index in range(count):
        if index % 16 == 0:
            for handle in files.values():
                handle.write(f"L{index // 16}:\n")
        pattern = rng.choice(PATTERNS)
        label = f"L{min(last_label, max(0, index // 16 + rng.randrange(-8, 8)))}"
        imm, off = rng.randrange(1000), 8 * rng.randrange(64)
        for name, handle in files.items():
            handle.write(pattern.format(imm=imm, off=off, label=label, **SIZES[name]) + "\n")


def run(command):
    """Wall time and peak resident memory (KiB) of one child, or None when it fails."""
    usage = usage_of(command)
    return None if usage is None else (usage.elapsed, usage.peak_kib)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("qovrin")
    parser.add_argument("--lines", type=int, default=1_000_000)
    parser.add_argument("--mix", choices=["labels", "plain"], default="labels")
    parser.add_argument("--without", action="append", default=[], choices=["nasm", "as"])
    arguments = parser.parse_args()
    tools = [name for name in ("qovrin", "nasm", "as") if name not in arguments.without]

    with tempfile.TemporaryDirectory(prefix="qovrin-x86-bench-") as work:
        sources = {name: os.path.join(work, f"program.{name}") for name in tools}
        handles = {name: open(path, "w") for name, path in sources.items()}
        try:
            (generate_plain if arguments.mix == "plain" else generate)(arguments.lines, handles)
        finally:
            for handle in handles.values():
                handle.close()
        size = os.path.getsize(sources["qovrin"])
        output = os.path.join(work, "out.bin")
        commands = {
            "qovrin": [arguments.qovrin, sources["qovrin"], "--no-progress", "--target", "x86-64", "-o", output],
            "nasm": ["nasm", "-f", "bin", sources.get("nasm", ""), "-o", output],
            "as": ["as", "--64", sources.get("as", ""), "-o", output],
        }
        results = {name: run(commands[name]) for name in tools}

    print(f"{arguments.lines} instruction lines ({arguments.mix} mix), qovrin source {size / 2**20:.1f} MiB")
    for name in tools:
        if results[name] is None:
            print(f"{name:>7}: failed")
            continue
        elapsed, peak = results[name]
        print(f"{name:>7}: {arguments.lines / elapsed:12,.0f} lines/s  {elapsed:7.2f} s  peak {peak / 1024:8.1f} MiB")
    ours = results.get("qovrin")
    if ours is None:
        return 1
    print(f"qovrin peak memory / source size: {ours[1] * 1024 / size:.2f}")
    for name in tools[1:]:
        if results[name] is not None:
            print(f"qovrin vs {name}: throughput x{results[name][0] / ours[0]:.2f}, "
                  f"peak memory x{ours[1] / results[name][1]:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
