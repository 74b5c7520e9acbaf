#!/usr/bin/env python3
"""Every size word and every prefix word before every x86 branch to a
relative target, in 16-, 32- and 64-bit code, at addresses low in the address
space, across its middle and at its top: whatever the assembler writes there
must decode (objdump) as one instruction of the kind the line names that
reaches the target the line names, with the processor's rule that a branch
cuts the instruction pointer to its operand size. Lines the assembler refuses
are not judged, but every plain branch must assemble. The same lines, laid
just below the top of each address space, branch to an address and to a
label above the top, which only a branch whose instruction pointer is wider
than the space reaches.

The lines are encoded by the encode pass's road with their targets patched
as the patch phase patches them; each is laid into a slot of its own, and the
slots of one address range are decoded by one objdump call.

Usage: x86_branch_sweep_test.py <x86_encode_lines> <templates.tsv>
"""

import collections
import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))

import oracle  # noqa: E402
from gen_x86_tables import program_codes  # noqa: E402
from x86_prefix_sweep_test import modes_of  # noqa: E402

# rel8, rel16, rel and rel32: the codes of a target relative to the instruction.
RELATIVE_CODES = set(range(0o50, 0o54)) | set(range(0o60, 0o74))
PREFIX_WORDS = ["", "rep", "repe", "repz", "repne", "repnz", "xacquire", "xrelease", "bnd", "nobnd", "lock",
                "o16", "o32", "o64", "a16", "a32", "a64", "cs", "ds", "es", "ss", "fs", "gs"]
SIZES = ["byte", "word", "dword", "qword"]
SIZE_WORDS = [""] + SIZES + ["short", "near"] + [f"{reach} {size}" for reach in ("short", "near") for size in SIZES]
CONDITIONS = {"o": 0, "no": 1, "b": 2, "c": 2, "nae": 2, "nb": 3, "nc": 3, "ae": 3, "e": 4, "z": 4, "ne": 5,
              "nz": 5, "be": 6, "na": 6, "nbe": 7, "a": 7, "s": 8, "ns": 9, "p": 10, "pe": 10, "np": 11,
              "po": 11, "l": 12, "nge": 12, "nl": 13, "ge": 13, "le": 14, "ng": 14, "nle": 15, "g": 15}
LEGACY_PREFIXES = {0xF0, 0xF2, 0xF3, 0x2E, 0x36, 0x3E, 0x26, 0x64, 0x65, 0x66, 0x67}
# Words objdump writes before a mnemonic.
OBJDUMP_PREFIXES = {"bnd", "notrack", "lock", "rep", "repz", "repnz", "repe", "repne", "xacquire", "xrelease",
                    "cs", "ds", "es", "ss", "fs", "gs", "addr16", "addr32", "data16", "data32"}
SLOT = 16
SLOTS_PER_RANGE = 4096
# Per mode, the addresses the ranges of slots start at, taken in turn: low,
# across the middle of the address space, and ending at its top.
RANGE_BASES = {16: [0x0], 32: [0x1000, 0x7FFF8000, 0xFFFF0000],
               64: [0x1000, 0x7FFFFFFFFFFF8000, 0xFFFFFFFFFFFF0000]}
OBJDUMP_MACHINES = {16: "i8086", 32: "i386", 64: "i386:x86-64"}


def branch_mnemonics(path):
    """mnemonic -> the modes some form of it with a relative target has."""
    modes = {}
    with open(path, newline="") as handle:
        for row in csv.DictReader(handle, delimiter="\t"):
            codes = set(program_codes([int(code, 8) for code in row["program"].split()]))
            if codes & RELATIVE_CODES and row["opcount"] == "1":
                flags = set(row["text_flags"].split(","))
                modes.setdefault(row["text_mnemonic"].lower(), set()).update(modes_of(flags))
    return modes


def kind(mnemonic, bits):
    """What a branch mnemonic does, told apart from its spelling: its family,
    condition and counter width."""
    name = mnemonic.lower()
    if name in ("jcxz", "jecxz", "jrcxz"):
        return ("jcxz", {"jcxz": 16, "jecxz": 32, "jrcxz": 64}[name])
    match = re.fullmatch(r"loop(n?[ez])?([wdq]?)", name)
    if match:
        condition = {None: "", "e": "e", "z": "e", "ne": "ne", "nz": "ne"}[match.group(1)]
        counter = {"w": 16, "d": 32, "q": 64}.get(match.group(2), bits)
        return ("loop" + condition, counter)
    if name in ("jmp", "call", "xbegin"):
        return (name, None)
    if name.startswith("j") and name[1:] in CONDITIONS:
        return ("jcc", CONDITIONS[name[1:]])
    return (name, None)


def widths(data, bits):
    """The operand and address bits of an encoded branch, read from its
    prefixes as the processor reads them: 66 toggles the operand size (a
    REX.W keeps 64 bits), 67 the address size, which sizes the counter of a
    loop."""
    at = 0
    while at < len(data) and data[at] in LEGACY_PREFIXES:
        at += 1
    prefixes = data[:at]
    rex_w = bits == 64 and at < len(data) and data[at] & 0xF8 == 0x48
    operand = bits
    if 0x66 in prefixes and not rex_w:
        operand = 32 if bits == 16 else 16
    address = bits
    if 0x67 in prefixes:
        address = 32 if bits in (16, 64) else 16
    return operand, address


def sweep_lines(modes):
    """(bits, mnemonic, prefix word, size words) for every line."""
    for bits in (16, 32, 64):
        for mnemonic in sorted(name for name, valid in modes.items() if bits in valid):
            for prefix in PREFIX_WORDS:
                for size in SIZE_WORDS:
                    yield bits, mnemonic, prefix, size


def slot_address(bits, index):
    bases = RANGE_BASES[bits]
    chunk = index // SLOTS_PER_RANGE
    return (bases[chunk % len(bases)] + SLOT * (index % SLOTS_PER_RANGE)) % (1 << bits), chunk


def target_of(bits, index, address):
    # Forward and backward in turn, both within reach of a short branch.
    offset = 0x30 if index % 2 == 0 else -0x20
    return (address + offset) % (1 << bits)


# Slots of the lines aimed above the top: the last ones below it, the nearest
# within reach of a short branch.
TOP_SLOTS = 64


def above_top_requests(modes):
    """The sweep's lines laid below the top of each space, to the top itself
    and a little above it, written as an address and, where a label can lie
    there, as the label 'L'."""
    per_mode = {16: 0, 32: 0, 64: 0}
    for bits, mnemonic, prefix, size in sweep_lines(modes):
        top = 1 << bits
        for label in (False, True) if bits < 64 else (False,):
            index = per_mode[bits]
            per_mode[bits] += 1
            address = top - SLOT * (TOP_SLOTS - index % TOP_SLOTS)
            target = top + (0x10 if index // 2 % 2 == 0 else 0)
            operand = "L" if label else f"{target:#x}"
            line = " ".join(word for word in (prefix, mnemonic, size, operand) if word)
            yield Request(bits, address, line, target, top - SLOT * TOP_SLOTS, SLOT * TOP_SLOTS, False,
                          target if label else None)


def encode(encoder, requests):
    text = "".join(f"{r.bits}\t{r.address:x}\t{r.line}" + ("" if r.label is None else f"\t{r.label:x}") + "\n"
                   for r in requests)
    done = subprocess.run([encoder, "--patched"], input=text, capture_output=True, text=True, check=True)
    return done.stdout.splitlines()


def decode(bits, base, image, work):
    """objdump's lines of the image laid at base: address -> (byte count, words)."""
    path = os.path.join(work, "slots.bin")
    with open(path, "wb") as handle:
        handle.write(image)
    done = subprocess.run(["objdump", "-D", "-b", "binary", "-m", OBJDUMP_MACHINES[bits], "-M", "intel",
                           f"--adjust-vma={base:#x}", "--insn-width=16", "-w", path],
                          capture_output=True, text=True, check=True)
    lines = {}
    for line in done.stdout.splitlines():
        match = re.match(r"\s*([0-9a-f]+):\t((?:[0-9a-f]{2} )+)\s*\t(.*)$", line)
        if match:
            lines[int(match.group(1), 16)] = (len(match.group(2).split()), match.group(3).split())
    return lines


def judge(bits, line, address, target, data, decoded):
    """None when the bytes are one instruction of the named kind that reaches
    the named target, else what is wrong."""
    count, words = decoded.get(address, (0, []))
    if count != len(data):
        return f"not one instruction: {' '.join(words)} ({count} of {len(data)} bytes)"
    operand = words[-1] if len(words) >= 2 and re.fullmatch(r"0x[0-9a-f]+", words[-1]) else None
    named = [word for word in words[:-1] if word not in OBJDUMP_PREFIXES and not word.startswith("rex")]
    if operand is None or len(named) != 1:
        return f"not a branch to an address: {' '.join(words)}"
    operand_bits, address_bits = widths(data, bits)
    got = kind(re.sub(r"^(jmp|call|xbegin)[wdq]$", r"\1", named[0]), bits)
    if got[0].startswith("loop"):
        got = (got[0], address_bits)
    written = line.split()
    wanted = kind(written[1] if written[0] in PREFIX_WORDS[1:] else written[0], bits)
    if got != wanted:
        return f"another instruction: {' '.join(words)}"
    reached = int(operand, 16) % (1 << operand_bits)
    if reached != target:
        return f"reaches {reached:#x}: {' '.join(words)}"
    return None


# One line of the sweep: where it is laid, the target it names, the image of
# addresses it is decoded in, whether it must assemble, and the address of the
# label it names, if any.
Request = collections.namedtuple("Request", "bits address line target base size plain label")


def low_requests(modes):
    per_mode = {16: 0, 32: 0, 64: 0}
    for bits, mnemonic, prefix, size in sweep_lines(modes):
        index = per_mode[bits]
        per_mode[bits] += 1
        address, chunk = slot_address(bits, index)
        base = slot_address(bits, chunk * SLOTS_PER_RANGE)[0]
        target = target_of(bits, index, address)
        line = " ".join(word for word in (prefix, mnemonic, size, f"{target:#x}") if word)
        yield Request(bits, address, line, target, base, SLOT * SLOTS_PER_RANGE, prefix == "" and size == "", None)


def main():
    encoder, templates = sys.argv[1], sys.argv[2]
    if shutil.which("objdump") is None:
        return oracle.missing("objdump")
    modes = branch_mnemonics(templates)
    requests = list(low_requests(modes)) + list(above_top_requests(modes))
    answers = encode(encoder, requests)

    wrong, written = [], []
    images = {}
    # Lines laid at one address go into images of their own, one per line.
    taken = collections.Counter()
    for request, answer in zip(requests, answers):
        bits, address, line = request.bits, request.address, request.line
        if answer.startswith("error") or answer == "fixup":
            if request.plain:
                wrong.append((bits, address, line, f"a plain branch is refused: {answer}"))
            continue
        data = bytes.fromhex(answer)
        if len(data) > SLOT:
            wrong.append((bits, address, line, f"{answer}: {len(data)} bytes"))
            continue
        key = (bits, request.base, taken[(bits, request.base, address)])
        taken[(bits, request.base, address)] += 1
        image = images.setdefault(key, bytearray(b"\x90" * request.size))
        offset = (address - request.base) % (1 << bits)
        image[offset:offset + len(data)] = data
        written.append((request, key, data))
    with tempfile.TemporaryDirectory(prefix="qovrin-branch-sweep-") as work:
        decoded = {key: decode(key[0], key[1], bytes(image), work) for key, image in images.items()}
    above = 0
    for request, key, data in written:
        above += request.target >> request.bits != 0
        fault = judge(request.bits, request.line, request.address, request.target, data, decoded[key])
        if fault:
            wrong.append((request.bits, request.address, request.line, f"{data.hex()}: {fault}"))
    for bits, address, line, what in wrong[:40]:
        print(f"WRONG {bits} at {address:#x}: {line}\n    {what}")
    print(f"{len(requests)} branch lines, {len(written)} assembled ({above} above the top of their space): "
          f"{len(wrong)} wrong")
    if len(written) < 5000:
        print("too few lines assembled")
        return 1
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
