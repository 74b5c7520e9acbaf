#!/usr/bin/env python3
"""Every repeat word before every x86 form whose opcode carries F2 or F3,
takes no F2 or F3, or is VEX or EVEX, and bnd and nobnd before every far jump
and call of the instruction database: the encoder refuses each line with
UnsupportedPrefixes wherever it encodes the same line without the word.

The lines are rendered from the database as the nasm comparison renders them;
far branches, which it leaves out, are written here.

Usage: x86_prefix_sweep_test.py <x86_encode_lines> <templates.tsv>
"""

import csv
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))

from gen_x86_tables import program_codes  # noqa: E402
from x86_nasm_diff import Unrenderable, render_operand  # noqa: E402

REPEAT_WORDS = ["rep", "repe", "repz", "repne", "repnz", "xacquire", "xrelease", "bnd", "nobnd"]
# norep, f2, f3, np, 66: the opcode's own F2 or F3, or none allowed.
OPCODE_PREFIX_CODES = {0o331, 0o332, 0o333, 0o360, 0o361}
VEX_CODES = set(range(0o240, 0o244)) | {0o250} | set(range(0o260, 0o264)) | {0o270}
FAR_OPERANDS = {16: ["far [bx+si+2]", "0x10:0x20", "far 0x10:0x20"],
                32: ["far [ebx+8]", "0x10:0x2000", "far 0x10:0x2000"],
                64: ["far [rax]", "far [rbx+8]"]}


def modes_of(flags):
    if "NOLONG" in flags:
        return (16, 32)
    if "LONG" in flags or "X86_64" in flags:
        return (64,)
    return (16, 32, 64)


def sweep_lines(path):
    """(bits, plain line, template row or None for any, words that must each
    be refused before it)."""
    with open(path, newline="") as handle:
        for row in csv.DictReader(handle, delimiter="\t"):
            flags = set(row["text_flags"].split(","))
            codes = set(program_codes([int(code, 8) for code in row["program"].split()]))
            if "PSEUDO" in flags or not codes & (OPCODE_PREFIX_CODES | VEX_CODES):
                continue
            operands = row["text_operands"]
            tokens = [] if operands in ("void", "") else operands.split(",")
            for bits in modes_of(flags):
                try:
                    rendered = [render_operand(token, bits, int(row["row"]), "EVEX" in flags, position)
                                for position, token in enumerate(tokens)]
                except Unrenderable:
                    continue
                line = (row["text_mnemonic"].lower() + " " + ",".join(rendered)).strip()
                yield bits, line, row["row"], REPEAT_WORDS
    for bits, targets in FAR_OPERANDS.items():
        for mnemonic in ("jmp", "call"):
            for target in targets:
                yield bits, f"{mnemonic} {target}", None, ["bnd", "nobnd"]


def encode(encoder, requests):
    text = "".join(f"{bits}\t0\t{line}\n" for bits, line in requests)
    done = subprocess.run([encoder, "--templates"], input=text, capture_output=True, text=True, check=True)
    return done.stdout.splitlines()


def main():
    encoder, templates = sys.argv[1], sys.argv[2]
    cases = list(sweep_lines(templates))
    plain = encode(encoder, [(bits, line) for bits, line, _, _ in cases])
    # Only where the line without the word takes the form it was written for:
    # operands that another form takes first tell nothing about this one.
    requests = [(bits, f"{word} {line}") for (bits, line, row, words), answer in zip(cases, plain)
                if not answer.startswith("error") and row in (None, answer.split()[-1]) for word in words]
    answers = encode(encoder, requests)
    wrong = [(bits, line, answer) for (bits, line), answer in zip(requests, answers)
             if answer != "error: UnsupportedPrefixes"]
    # The far branches are written for the forms they take, so each must encode.
    wrong += [(bits, line, answer) for (bits, line, row, _), answer in zip(cases, plain)
              if row is None and answer.startswith("error")]
    for bits, line, answer in wrong[:40]:
        print(f"WRONG {bits}: {line}\n    {answer}")
    print(f"{len(requests)} prefixed lines: {len(wrong)} wrong")
    if len(requests) < 10000:
        print("too few lines swept")
        return 1
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
