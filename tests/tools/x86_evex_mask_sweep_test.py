#!/usr/bin/env python3
"""Writes every EVEX form of the instruction database that takes a mask with
{z} alone and with no mask at all, in each mode the form is valid in, and
reads the EVEX prefix of whatever the encoder assembles: none may be one the
processor refuses (#UD). Refused are zeroing without a mask register, a
gather, scatter or their prefetch without one, and a complex half-precision
multiply whose destination register is also a source.

Usage: x86_evex_mask_sweep_test.py <x86_encode_lines> <templates.tsv>
"""

import csv
import re
import subprocess
import sys

from x86_nasm_diff import Unrenderable, render_operand

LEGACY_PREFIXES = {0x66, 0x67, 0xF2, 0xF3, 0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65}
VECTOR_INDEX = re.compile(r"[xyz]mm\d+\*")
COMPLEX_MULTIPLIES = {"vfmaddcph", "vfcmaddcph", "vfmulcph", "vfcmulcph",
                      "vfmaddcsh", "vfcmaddcsh", "vfmulcsh", "vfcmulcsh"}


def lines(path):
    """(bits, line) for each EVEX form with a mask, written with {z} alone
    and without a mask."""
    with open(path, newline="") as handle:
        for row in csv.DictReader(handle, delimiter="\t"):
            tokens = row["text_operands"].split(",")
            if "evex." not in row["text_code"] or not any("|mask" in token for token in tokens):
                continue
            flags = set(row["text_flags"].split(","))
            modes = (16, 32) if "NOLONG" in flags else (64,) if flags & {"LONG", "X86_64"} else (16, 32, 64)
            for bits in modes:
                for masking in ("{z}", ""):
                    try:
                        operands = [render_operand(token, bits, int(row["row"]), True, position, masking=masking)
                                    for position, token in enumerate(tokens)]
                    except Unrenderable:
                        continue
                    yield bits, f"{row['text_mnemonic'].lower()} {', '.join(operands)}"


def refusal(line, code):
    """Why the processor would refuse these bytes, or None."""
    data = bytes.fromhex(code)
    at = 0
    while at < len(data) and data[at] in LEGACY_PREFIXES:
        at += 1
    if at + 5 >= len(data) or data[at] != 0x62:
        return None
    p0, p1, p2, modrm = data[at + 1], data[at + 2], data[at + 3], data[at + 5]
    masked = p2 & 7 != 0
    if p2 & 0x80 and not masked:
        return "zeroing without a mask"
    if VECTOR_INDEX.search(line) and not masked:
        return "a vector-index address without a mask"
    if line.split()[0] in COMPLEX_MULTIPLIES:
        reg = (modrm >> 3 & 7) | (~p0 >> 7 & 1) << 3 | (~p0 >> 4 & 1) << 4
        vvvv = (~p1 >> 3 & 15) | (~p2 >> 3 & 1) << 4
        rm = (modrm & 7) | (~p0 >> 5 & 1) << 3 | (~p0 >> 6 & 1) << 4
        if reg == vvvv or (modrm >> 6 == 3 and reg == rm):
            return "a complex multiply whose destination is a source"
    return None


def main():
    encoder, templates = sys.argv[1], sys.argv[2]
    written = list(lines(templates))
    request = "".join(f"{bits}\t0\t{line}\n" for bits, line in written)
    answers = subprocess.run([encoder], input=request, capture_output=True, text=True, check=True).stdout.split("\n")
    assembled, wrong, reasons = 0, [], {}
    for (bits, line), answer in zip(written, answers):
        if answer.startswith("error") or answer == "fixup":
            continue
        assembled += 1
        why = refusal(line, answer)
        if why:
            wrong.append(f"{bits}: {line} -> {answer}: {why}")
            reasons[why] = reasons.get(why, 0) + 1
    for entry in wrong[:40]:
        print("UNDEFINED", entry)
    for why, count in sorted(reasons.items()):
        print(f"{count} lines: {why}")
    print(f"wrote {len(written)} masked EVEX forms with {{z}} alone and with no mask: {assembled} assembled, "
          f"{len(wrong)} of them forms the processor refuses")
    if assembled < 3000:
        print("too few lines assembled")
    return 1 if wrong or assembled < 3000 else 0


if __name__ == "__main__":
    sys.exit(main())
