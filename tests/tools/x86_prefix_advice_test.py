#!/usr/bin/env python3
"""A size or address word written before an x86 instruction on its line is
refused with a note that says what to write instead. Whatever the note
advises must assemble to the instruction with the word's prefix: one
instruction (objdump) over all of its bytes, opening with the word's 66 or 67
byte, of the shape the line means. Where no line writes it, the note says so.

Usage: x86_prefix_advice_test.py <qovrin>
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import oracle  # noqa: E402
from x86_branch_sweep_test import decode  # noqa: E402

ORIGIN = 0x1000
PREFIX_BYTES = {("o16", 32): 0x66, ("o16", 64): 0x66, ("o32", 16): 0x66,
                ("a16", 32): 0x67, ("a32", 16): 0x67, ("a32", 64): 0x67}
LEGACY = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3}

# (bits, line, objdump's text of the instruction the line means; None where
# no line writes it)
CASES = [
    # The prefix on the line before is right where no field changes width.
    (64, "o16 push 1", r"pushw\s+0x1"),
    (16, "o32 push 1", r"pushd\s+0x1"),
    (16, "a32 loop 0x1010", r"addr32 loop\s+0x1010"),
    (16, "a32 lodsb", r"lods\s+al,BYTE PTR ds:\[esi\]"),
    # The operand size decides the width of a target, immediate or pointer.
    (32, "o16 jmp 0x1234", r"jmpw\s+0x1234"),
    (32, "o16 call near 0x1234", r"callw\s+0x1234"),
    (32, "o16 jz 0x1234", r"je\s+0x1234"),
    (16, "o32 push 0x12345", r"pushd\s+0x12345"),
    (32, "o16 jmp 0x1234:0x5678", r"jmp\s+0x1234:0x5678"),
    # The address size decides how the address is read.
    (16, "a32 mov ax, [bx + si + 4]", r"mov\s+ax,WORD PTR \[ebx\+esi\*1\+0x4\]"),
    (32, "a16 mov al, [0x1234]", r"addr16 mov\s+al,ds:0x1234"),
    (32, "a16 inc dword [ebx + 8]", r"inc\s+DWORD PTR \[bx\+0x8\]"),
    (64, "a32 mov eax, [rbx + r8*2]", r"mov\s+eax,DWORD PTR \[ebx\+r8d\*2\]"),
    # No line writes these.
    (32, "o16 mov eax, 5", None),
    (32, "o16 addps xmm0, xmm1", None),
    (32, "a16 mov eax, [eax]", None),
    (64, "o16 jmp 0x1234", None),
]


def assemble(qovrin, work, bits, body):
    source = os.path.join(work, "main.qov")
    with open(source, "w") as handle:
        handle.write(f"x86.use{bits}()\norigin({ORIGIN:#x})\n{body}\n")
    output = os.path.join(work, "main.bin")
    if os.path.exists(output):
        os.remove(output)
    run = subprocess.run([qovrin, "main.qov", "--no-progress"], cwd=work, capture_output=True, text=True)
    data = None
    if run.returncode == 0:
        with open(output, "rb") as handle:
            data = handle.read()
    return run, data


def opens_with(data, prefix):
    for byte in data:
        if byte == prefix:
            return True
        if byte not in LEGACY:
            return False
    return False


def judge(qovrin, work, bits, line, meant):
    run, _ = assemble(qovrin, work, bits, line)
    notes = [text.split("note: ", 1)[1] for text in run.stderr.splitlines() if "note: " in text]
    if run.returncode == 0 or not notes:
        return f"not refused with a note: {run.stderr.strip()}"
    note = notes[0]
    if meant is None:
        return None if "cannot be written" in note else f"advises a line: {note}"
    word, rest = line.split(" ", 1)
    instead = re.search(r"instead, '(.*)';", note)
    before = re.search(r"the line before '(.*)'$", note)
    if instead:
        body = instead.group(1)
    elif before and before.group(1) == rest:
        body = f"{word}\n{rest}"
    else:
        return f"advises nothing: {note}"
    advised, data = assemble(qovrin, work, bits, body)
    if data is None:
        return f"the advice {body!r} is refused: {advised.stderr.strip()}"
    decoded = [(count, " ".join(words)) for _, (count, words) in sorted(decode(bits, ORIGIN, data, work).items())]
    if len(decoded) != 1 or decoded[0][0] != len(data):
        return f"the advice {body!r} writes {data.hex()}, read as {'; '.join(text for _, text in decoded)}"
    prefix = PREFIX_BYTES.get((word, bits))
    if prefix is not None and not opens_with(data, prefix):
        return f"the advice {body!r} writes {data.hex()}, without {prefix:02x}"
    if not re.fullmatch(meant, decoded[0][1]):
        return f"the advice {body!r} writes {decoded[0][1]}"
    return None


def main():
    qovrin = os.path.abspath(sys.argv[1])
    if shutil.which("objdump") is None:
        return oracle.missing("objdump")
    wrong = 0
    with tempfile.TemporaryDirectory(prefix="qovrin-prefix-advice-") as work:
        for bits, line, meant in CASES:
            fault = judge(qovrin, work, bits, line, meant)
            if fault:
                wrong += 1
                print(f"WRONG {bits}-bit '{line}': {fault}")
    print(f"{len(CASES)} lines, {wrong} wrong")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
