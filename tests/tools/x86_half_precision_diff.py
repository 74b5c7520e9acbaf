#!/usr/bin/env python3
"""Compares the x86 encoder with llvm-mc on every EVEX form of the instruction
database whose memory operand holds half-precision or BF16 values.

Each form is written in every mode it is valid in, with its memory operand at
displacements that an EVEX compressed displacement can and cannot hold for
each scale from 2 to 64 bytes, plain and, where the form allows it, as a
broadcast. llvm-mc reads the lines in a few batches; the lines it does not
know are left out. In 16-bit code, where llvm-mc 14 leaves EVEX displacements
unscaled, objdump reads the encoder's bytes instead. Exit status 77 marks
the test as skipped when llvm-mc or objdump is not installed, unless
QOVRIN_REQUIRE_ORACLES=1 asks for a failure then.

Usage: x86_half_precision_diff.py <x86_encode_lines> <templates.tsv>
"""

import csv
import re
import shutil
import subprocess
import sys
import tempfile

import oracle
from x86_nasm_diff import Unrenderable, normalise, render_operand

DISPLACEMENTS = [2, 6, 64, 254, 256, -258, 2032, 4096]
BASES = {16: "bx+si", 32: "ebx", 64: "rbx"}
TRIPLES = {16: ("i386", ".code16\n"), 32: ("i386", ""), 64: ("x86_64", "")}
OURS = {16: "word", 32: "dword", 64: "qword", 128: "oword", 256: "yword", 512: "zword"}
THEIRS = {16: "word", 32: "dword", 64: "qword", 128: "xmmword", 256: "ymmword", 512: "zmmword"}
HALF_FLAGS = re.compile(r"FP16|BF16")
HALF_NAMES = re.compile(r"(PH|SH|BF16|BF8|HF8)(X|S)?\b|PH2|SH2|BF162|2PH|2SH|2BF16|^VMOVW$")
MEMORY_TOKEN = re.compile(r"(?:xmm|ymm|zmm)?(rm|mem)(\d+)")

# Lines where llvm-mc and the encoder choose different encodings on purpose,
# with the reason; matched against "<bits>: <line>".
EXPECTED_DIFFERENCES = [
    (r"^(16|32): vcvtu?si2sh \w+, \w+, qword ",
     "a 64-bit integer source outside 64-bit code, where the processor ignores W and reads 32 bits: the encoder "
     "refuses the line; llvm-mc writes W1 there"),
]
# llvm-mc 14 writes the displacement of a 16-bit address unscaled in EVEX
# forms, which the processor multiplies by N all the same. Such a line is
# checked by objdump instead: it must read the encoder's bytes as one
# instruction with the address written, and the bytes up to the ModRM must
# be llvm-mc's.
UNSCALED_16_BIT = "llvm-mc 14 does not compress 16-bit EVEX displacements"


def memory_slot(tokens):
    """(position, memory size in bits, broadcast element in bits or 0) of the
    operand that may be memory, or None."""
    found = [(position, MEMORY_TOKEN.fullmatch(token.split("|")[0].rstrip("?*")), token)
             for position, token in enumerate(tokens)]
    found = [(position, match, token) for position, match, token in found if match]
    if len(found) != 1:
        return None
    position, match, token = found[0]
    element = next((int(m) for m in re.findall(r"\|b(16|32|64)\b", token)), 0)
    return position, int(match.group(2)), element


def forms(path):
    """(bits, our line, llvm-mc's line) for every half-precision memory form."""
    with open(path, newline="") as handle:
        for row in csv.DictReader(handle, delimiter="\t"):
            flags = set(row["text_flags"].split(","))
            mnemonic = row["text_mnemonic"]
            half = HALF_FLAGS.search(row["text_flags"]) or HALF_NAMES.search(mnemonic)
            if "evex." not in row["text_code"] or not half:
                continue
            tokens = row["text_operands"].split(",")
            slot = memory_slot(tokens)
            if slot is None:
                continue
            position, size, element = slot
            modes = (64,) if "LONG" in flags or "X86_64" in flags else (16, 32, 64)
            for bits in modes:
                try:
                    others = [render_operand(token, bits, int(row["row"]), True, index, registers_only=True)
                              for index, token in enumerate(tokens)]
                except Unrenderable:
                    continue
                shapes = [(OURS[size], THEIRS[size], "")] if size in OURS else []
                if element:
                    shapes.append(("", THEIRS[element], "{1to%d}" % (size // element)))
                for ours_size, their_size, spread in shapes:
                    for displacement in DISPLACEMENTS:
                        address = f"[{BASES[bits]}{displacement:+d}]"
                        ours = others[:position] + [f"{ours_size} {address}{spread}".strip()] + others[position + 1:]
                        theirs = others[:position] + [f"{their_size} ptr {address}{spread}"] + others[position + 1:]
                        yield (bits, f"{mnemonic.lower()} {', '.join(ours)}", f"{mnemonic.lower()} {', '.join(theirs)}",
                               displacement)


def llvm_bytes(llvm_mc, bits, lines):
    """Hex bytes per line, None for the lines llvm-mc refuses."""
    triple, header = TRIPLES[bits]
    source = header + "".join(line + "\n" for line in lines)
    done = subprocess.run([llvm_mc, f"-triple={triple}", "-x86-asm-syntax=intel", "-show-encoding"],
                          input=source, capture_output=True, text=True)
    offset = header.count("\n") + 1
    refused = {int(number) - offset for number in re.findall(r"^<stdin>:(\d+):\d+: error", done.stderr, re.M)}
    encodings = iter(re.findall(r"encoding: \[([^\]]*)\]", done.stdout))
    answers = []
    for index in range(len(lines)):
        if index in refused:
            answers.append(None)
            continue
        answers.append("".join(byte[2:].upper().zfill(2) for byte in next(encodings).split(",")))
    return answers


def objdump_addresses(objdump, workdir, hex_lines):
    """The displacement from bx+si that objdump reads in each line's bytes,
    or None where it reads another address or another length."""
    data = bytes.fromhex("".join(hex_lines))
    path = f"{workdir}/lines16.bin"
    with open(path, "wb") as handle:
        handle.write(data)
    done = subprocess.run([objdump, "-D", "-b", "binary", "-m", "i8086", "-M", "intel", "--insn-width=16", path],
                          capture_output=True, text=True, check=True)
    decoded = {int(offset, 16): text
               for offset, text in re.findall(r"^\s*([0-9a-f]+):\t[0-9a-f ]+\t(.*)$", done.stdout, re.M)}
    addresses, offset = [], 0
    for line in hex_lines:
        end = offset + len(line) // 2
        found = re.search(r"\[bx\+si(?:([+-])0x([0-9a-f]+))?\]", decoded.get(offset, ""))
        whole = end in decoded or end == len(data)
        addresses.append(int((found.group(1) or "+") + (found.group(2) or "0"), 16) if found and whole else None)
        offset = end
    return addresses


def main():
    encoder, templates = sys.argv[1], sys.argv[2]
    for tool in ("llvm-mc", "objdump"):
        if shutil.which(tool) is None:
            return oracle.missing(tool)
    by_mode = {16: [], 32: [], 64: []}
    for bits, ours, theirs, displacement in forms(templates):
        by_mode[bits].append((ours, theirs, displacement))
    compared, equal, known, wrong, unscaled = 0, 0, 0, [], []
    for bits, lines in by_mode.items():
        expected = llvm_bytes(shutil.which("llvm-mc"), bits, [theirs for _, theirs, _ in lines])
        request = "".join(f"{bits}\t0\t{ours}\n" for ours, _, _ in lines)
        mine = subprocess.run([encoder], input=request, capture_output=True, text=True, check=True).stdout.split("\n")
        for (ours, _, displacement), answer, got in zip(lines, expected, mine):
            if answer is None:
                continue
            compared += 1
            label = f"{bits}: {ours}"
            if not got.startswith("error") and normalise(got) == normalise(answer):
                equal += 1
            elif any(re.search(pattern, label) for pattern, _ in EXPECTED_DIFFERENCES):
                known += 1
            elif bits == 16 and not got.startswith("error") and got[:10] == answer[:10]:
                unscaled.append((label, answer, got, displacement))
            else:
                wrong.append((label, answer, got))
    with tempfile.TemporaryDirectory() as workdir:
        read = objdump_addresses(shutil.which("objdump"), workdir, [got for _, _, got, _ in unscaled])
    for (label, answer, got, displacement), address in zip(unscaled, read):
        if address != displacement:
            wrong.append((label, answer, f"{got} (objdump reads the displacement {address})"))
    for label, answer, got in wrong[:40]:
        print(f"MISMATCH {label}\n    llvm-mc {answer}\n    qovrin  {got}")
    print(f"compared {compared} half-precision memory lines with llvm-mc: "
          f"{equal} equal, "
          f"{known} expected differences, {len(unscaled)} read by objdump ({UNSCALED_16_BIT}), {len(wrong)} wrong")
    if compared < 5000:
        print("too few lines compared")
        return 1
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
