#!/usr/bin/env python3
"""Compares the x86 encoder with nasm, an independent assembler.

Writes one instruction line with literal operands for every template of the
instruction database that it can render, in each mode the template is valid
in, assembles the lines with nasm (reading the bytes per line from its
listing) and with the encoder, and compares the bytes. The leading run of
legacy prefixes is compared as a set, since their order carries no meaning.
Lines nasm refuses are left out; lines whose fields the encoder leaves for the
patcher (branch targets) are not compared. Exit status 77 marks the test as
skipped when nasm is not installed, unless QOVRIN_REQUIRE_ORACLES=1 asks
for a failure then.

Every template that takes memory is also written once with that memory
operand unsized: the encoder must refuse it with AmbiguousMemorySize exactly
where nasm reports that the operation size is not specified, and encode the
same bytes where nasm accepts it.
"""

import argparse
import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile

import oracle

LEGACY_PREFIXES = {0xF0, 0xF2, 0xF3, 0x2E, 0x36, 0x3E, 0x26, 0x64, 0x65, 0x66, 0x67, 0x9B}

# Byte codes left out: short branches (whose literal target would have to lie
# near every line), far segments, jlen and reserve. Near branches are
# compared: their targets are patched against each line's address.
UNCOMPARED_CODES = set(range(0o50, 0o54)) | set(range(0o74, 0o100)) | {0o373, 0o340}
BRANCH_TARGET = "0x4000"

# Differences that are intended, with the reason; matched against
# "<bits>: <line>".
KNOWN_DIFFERENCES = [
    (r"^\d+: kmov ", "the generic kmov of the newer database; nasm 2.16 reads it as kmovb"),
    (r"^\d+: (vf(madd|msub)(132|213|231)ph|vgetmantph|vrcpph|vcvtneps2bf16|v\w+sh) ",
     "nasm 2.16 gets these FP16/BF16 forms wrong (opcode, pp, vvvv or disp8 scale against the Intel manual)"),
    (r"^\d+: (v\w*(ph|sh|bf16)\w*|vmovw) .*\[",
     "nasm 2.16 scales a half-precision displacement by the 4- or 8-byte element of the row's tuple; the "
     "llvm-mc comparison checks these forms"),
    (r"^\d+: movsxd? ", "the database's optimising forms (movsx ax,al is cbw) are newer than nasm 2.16"),
    (r"^\d+: (str|pextrw|pinsrw|invpcid) ",
     "the database drops a REX.W or 66 that cannot change the result; nasm 2.16 keeps it"),
    (r"^\d+: monitorx? ", "the database takes the address size from the register named (67); nasm 2.16 does not"),
    (r"^\d+: ptwrite ", "nasm 2.16 leaves out the mandatory F3"),
    (r"^16: wrussd ", "nasm 2.16 writes the 66 twice"),
    (r"^\d+: xbts ", "the database swapped the operand order (rm16,reg16)"),
    (r"^\d+: umov ", "np in the database suppresses the 66 the operand size would ask for"),
    (r"^\d+: (bnd )?retw ", "a 16-bit return needs 66 outside 16-bit mode; nasm 2.16 leaves it out"),
    (r"^\d+: x(acquire|release) lock bt[crs] ",
     "the database gives btc, btr and bts no lock-elision class, so xacquire and xrelease are refused on them; "
     "nasm 2.16 accepts them"),
    (r"^\d+: (x(acquire|release) )?lock xchg ", "lock on xchg is refused on purpose (xchg with memory locks by itself); nasm accepts it"),
    (r"^\d+: rep movsd xmm",
     "rep would put F3 in place of the F2 that the SSE movsd carries, which makes it movss, so it is refused; "
     "nasm writes both"),
    # Unsized memory: the database leaves these sizes open where nasm 2.16's
    # older database fixed them.
    (r"^\d+: movzx (dx|si|bp|r10w|r13w),\[",
     "the database has movzx reg16,rm16 (0F B7), which nasm 2.16 lacks, so an unsized source is byte or word"),
    (r"^64: movd (mm\d,\[|\[[^]]*\],mm\d)",
     "the database offers movd mm,rm64 in 64-bit mode without refusing unsized operands, so an unsized "
     "operand is dword or qword; nasm 2.16 marks that form as sized only"),
    (r"^\d+: jmpe \[",
     "the database sizes a jmpe target by the operand size, as for jmp and call; nasm 2.16 does not"),
    (r"^\d+: (vcvt(u?dq|u?qq|pd)2ph \w+(\{k\d\})?(\{z\})?|vcmpph k\d),\[",
     "no vector register ties the length of the memory operand (128, 256 or 512 bits); nasm 2.16 takes the "
     "first form, and for a ymm destination the 256-bit source that cannot convert into it"),
    (r"^(16|32): vcvtu?si2s[hsd] \w+,(\w+,)?qword ",
     "a 64-bit integer source outside 64-bit code, where the processor ignores W and reads 32 bits: the encoder "
     "refuses the line; nasm writes W1 there"),
    (r"^(16|32): vp(insr|extr)q ",
     "a qword element in memory outside 64-bit code, where the processor ignores W and moves 32 bits: the "
     "encoder refuses the line; nasm writes the EVEX W1 form there"),
    (r"^\d+: vp?(gather|scatter)\w* (?!.*\{k[1-7]\})[^,]*(,[^,]*)?$",
     "an EVEX gather, scatter or their prefetch without a mask register k1-k7, which the processor refuses: the "
     "encoder refuses the line; nasm writes it with no mask"),
    (r"^\d+: vfc?(madd|mul)c[ps]h [^,]+,[^,]+(,\{r.-sae\})?$",
     "the two-operand form of a complex half-precision multiply reads its destination as a source, which the "
     "processor refuses: the encoder refuses the line; nasm writes it"),
    (r"^\d+: (enqcmds?|movdir64b) ",
     "nasm 2.16 ties the address size to the destination register and re-reads the address registers to fit; "
     "the encoder takes it from the address and refuses a mismatch; nasm also adds a needless REX.W"),
]

SIZE_WORDS = {8: "byte", 16: "word", 32: "dword", 64: "qword", 80: "tword", 128: "oword", 256: "yword",
              512: "zword"}

MEMORY = {
    16: ["[bx+si+0x12]", "[bp+0x1234]", "[di]"],
    32: ["[ebx+ecx*4+0x12]", "[ebp+0x12345]", "[esp+8]"],
    64: ["[rbx+r9*4+0x12]", "[r13+0x12345]", "[rsp+8]", "[r12]"],
}
VSIB = {32: "[eax+{reg}5*4+0x10]", 64: "[rax+{reg}13*4+0x10]"}
# Template operands that take memory, written unsized in the unsized lines.
MEMORY_OPERAND = re.compile(r"(rm|mem)(8|16|32|64)?|(xmm|ymm|zmm)rm\d*|mem(80|128|256|512)|mmxrm(64)?|krm(8|16|32|64)")


class Unrenderable(Exception):
    pass


def gpr(size, bits, variant):
    low = {8: ["bl", "cl", "dh"], 16: ["dx", "si", "bp"], 32: ["edx", "esi", "ebp"], 64: ["rdx", "rsi", "rbp"]}
    high = {8: ["r9b", "r10b", "sil"], 16: ["r10w", "r13w", "dx"], 32: ["r11d", "r8d", "edi"],
            64: ["r12", "r9", "r15"]}
    if size == 64 and bits != 64:
        raise Unrenderable()
    table = high if bits == 64 and variant % 2 else low
    return table[size][variant % 3]


def vector(kind, bits, variant, evex):
    if bits != 64:
        return f"{kind}{variant % 8}"
    top = 32 if evex else 16
    return f"{kind}{(variant * 7 + 3) % top}"


def memory(bits, variant, size=None):
    address = MEMORY[bits][variant % len(MEMORY[bits])]
    return f"{SIZE_WORDS[size]} {address}" if size else address


def broadcast(base, modifiers, bits, variant):
    """A broadcast memory operand for a b32/b64 template operand, or None."""
    element = 32 if "b32" in modifiers else 64 if "b64" in modifiers else 16 if "b16" in modifiers else 0
    match = re.fullmatch(r"(xmm|ymm|zmm)rm(\d*)", base)
    if not element or not match or variant % 3 != 0:
        return None
    width = int(match.group(2) or {"xmm": 128, "ymm": 256, "zmm": 512}[match.group(1)])
    return memory(bits, variant) + "{1to%d}" % (width // element)


def render_operand(token, bits, variant, evex, position, registers_only=False, unsized=False, masking=None):
    """One operand; with unsized, every operand that may be memory is an
    unsized memory operand. masking, when given, replaces the mask decorators
    the variant would choose ("", "{k1}" or "{k1}{z}"; {z} only where the
    template allows it)."""
    parts = token.split("|")
    base = parts[0].rstrip("?*")
    modifiers = set(parts[1:]) - {"er", "sae", "b32*", "b64*"}
    if modifiers == {"near"} and base in ("imm", "imm16", "imm32", "imm64"):
        return "near " + BRANCH_TARGET
    if modifiers & {"near", "short", "far", "abs", "to", "rs2", "rs4"} or ":" in base:
        raise Unrenderable()
    if unsized:
        if MEMORY_OPERAND.fullmatch(base):
            return memory(bits, variant)
        if re.fullmatch(r"([xyz])mem(32|64)", base) and bits != 16:
            return VSIB[bits].format(reg=base[0] + "mm")
    spread = None if registers_only or unsized else broadcast(base, modifiers, bits, variant)
    if spread:
        return spread
    decorate = ""
    if "mask" in modifiers and masking is not None:
        decorate = masking if "z" in modifiers else masking.replace("{z}", "")
    elif "mask" in modifiers and variant % 2 == 0:
        decorate = "{k%d}" % (variant % 7 + 1)
        if "z" in modifiers and variant % 4 == 0:
            decorate += "{z}"
    match = re.fullmatch(r"(reg|rm|mem)(8|16|32|64)", base)
    if match:
        kind, size = match.group(1), int(match.group(2))
        if kind == "reg" or (kind == "rm" and variant % 3 == 2):
            return gpr(size, bits, variant + position) + decorate
        return memory(bits, variant, size) + decorate
    match = re.fullmatch(r"(xmm|ymm|zmm)(reg|rm(\d*))", base)
    if match:
        if match.group(2) == "reg" or variant % 2 or registers_only:
            return vector(match.group(1), bits, variant + position, evex) + decorate
        size = int(match.group(3) or {"xmm": 128, "ymm": 256, "zmm": 512}[match.group(1)])
        return memory(bits, variant, size) + decorate
    match = re.fullmatch(r"mem(80|128|256|512)?", base)
    if match:
        return memory(bits, variant, int(match.group(1)) if match.group(1) else None) + decorate
    match = re.fullmatch(r"([xyz])mem(32|64)", base)
    if match:
        if bits == 16:
            raise Unrenderable()
        return VSIB[bits].format(reg=match.group(1) + "mm") + decorate
    fixed = {
        "imm8": "0x12", "imm16": "0x1234", "imm32": "0x12345678", "imm64": "0x123456789abcdef0", "imm": "0x12",
        "sbyteword16": "-5", "sbytedword32": "-5", "sbytedword64": "-5", "sdword64": "-0x12345",
        "udword64": "0x87654321", "unity": "1", "imm_known8": "3", "fpu0": "st0", "xmm0": "xmm0",
        "reg_al": "al", "reg_ax": "ax", "reg_eax": "eax", "reg_rax": "rax", "reg_cl": "cl", "reg_cx": "cx",
        "reg_ecx": "ecx", "reg_rcx": "rcx", "reg_dx": "dx", "reg_edx": "edx", "reg_bx": "bx",
        "reg_es": "es", "reg_cs": "cs", "reg_ss": "ss", "reg_ds": "ds", "reg_fs": "fs", "reg_gs": "gs",
        "reg_sreg": "fs", "reg_creg": "cr3", "reg_dreg": "dr2", "fpureg": "st3", "mmxreg": "mm3",
        "kreg": "k3", "kreg8": "k4", "kreg16": "k5", "kreg32": "k6", "kreg64": "k2",
        "krm8": "k1", "krm16": "k1", "krm32": "k1", "krm64": "k1", "tmmreg": f"tmm{(variant + position) % 8}",
        "bndreg": "bnd1",
    }
    if base in fixed:
        if base in ("reg_rax", "reg_rcx", "imm64", "sdword64", "udword64") and bits != 64:
            raise Unrenderable()
        return fixed[base] + decorate
    if base in ("mmxrm", "mmxrm64"):
        return "mm5" if variant % 2 else memory(bits, variant, 64)
    raise Unrenderable()


def template_lines(path):
    with open(path, newline="") as handle:
        reader = csv.DictReader(handle, delimiter="\t")
        for row in reader:
            flags = set(row["text_flags"].split(","))
            codes = [int(code, 8) for code in row["program"].split()]
            if UNCOMPARED_CODES & set(codes) or "PSEUDO" in flags:
                continue
            if "NOLONG" in flags:
                modes = (16, 32)
            elif "LONG" in flags or "X86_64" in flags:
                modes = (64,)
            else:
                modes = (16, 32, 64)
            operands = row["text_operands"]
            tokens = [] if operands in ("void", "") else operands.split(",")
            evex = "EVEX" in flags
            variant = int(row["row"])
            mnemonic = row["text_mnemonic"].lower()
            for bits in modes:
                # Rounding and {sae} go with register operands only; every
                # other such template is rendered with its memory forms.
                rounding = variant % 4 == 0 and any(re.search(r"\|(er|sae)\b", token) for token in tokens)
                try:
                    rendered = [render_operand(token, bits, variant, evex, position, rounding)
                                for position, token in enumerate(tokens)]
                except Unrenderable:
                    continue
                if rounding:
                    # The decorator goes before a trailing immediate.
                    place = len(rendered) - 1 if tokens[-1].startswith("imm") else len(rendered)
                    rendered.insert(place, "{rd-sae}" if any("|er" in token for token in tokens) else "{sae}")
                prefix = ""
                if "LOCK" in flags and rendered and "[" in rendered[0] and variant % 2 == 0:
                    prefix = ("lock ", "xacquire lock ", "lock ", "xrelease lock ")[variant % 8 // 2]
                elif "BND" in flags and variant % 2 == 1:
                    prefix = "bnd "
                elif mnemonic in ("bsf", "bsr") and variant % 2 == 0:
                    prefix = "rep "
                elif re.fullmatch(r"(movs|stos|lods|ins|outs)[bwdq]", mnemonic) and variant % 2 == 0:
                    prefix = "rep "
                elif re.fullmatch(r"(cmps|scas)[bwdq]", mnemonic) and variant % 2 == 0:
                    prefix = "repne "
                yield bits, (prefix + mnemonic + " " + ",".join(rendered)).strip(), False
                if any("|mask" in token for token in tokens):
                    # The same operands plain, masked and zero-masked, one
                    # after the other: each must miss the search the line
                    # before left in the encoder's memo.
                    for masking in ("", "{k1}", "{k1}{z}"):
                        try:
                            decorated = [render_operand(token, bits, variant, evex, position, rounding, masking=masking)
                                         for position, token in enumerate(tokens)]
                        except Unrenderable:
                            break
                        if rounding:
                            decorated.insert(place, rendered[place])
                        yield bits, mnemonic + " " + ",".join(decorated), True
                try:
                    unsized = [render_operand(token, bits, variant, evex, position, unsized=True)
                               for position, token in enumerate(tokens)]
                except Unrenderable:
                    continue
                if any("[" in operand for operand in unsized):
                    yield bits, mnemonic + " " + ",".join(unsized), False


def nasm_bytes(nasm, bits, lines, workdir):
    """Bytes per line for the lines nasm accepts (None for refused ones), and
    nasm's first error message per refused line."""
    keep = list(range(len(lines)))
    messages = {}
    for _ in range(8):
        source = os.path.join(workdir, f"lines{bits}.asm")
        listing = os.path.join(workdir, f"lines{bits}.lst")
        # A scratch output, never the null device: nasm deletes its output
        # file when a line fails, and as root that would remove the device.
        output = os.path.join(workdir, f"lines{bits}.bin")
        with open(source, "w") as handle:
            handle.write(f"bits {bits}\n")
            for index in keep:
                handle.write(lines[index] + "\n")
        done = subprocess.run([nasm, "-f", "bin", "-w-all", "-o", output, "-l", listing, source],
                              capture_output=True, text=True)
        refused = set()
        for number, message in re.findall(r":(\d+): error: (.*)", done.stderr):
            refused.add(int(number) - 2)
            if 0 <= int(number) - 2 < len(keep):
                messages.setdefault(keep[int(number) - 2], message.strip())
        if done.returncode == 0 and not refused:
            break
        if not refused:
            raise RuntimeError("nasm failed without naming a line:\n" + done.stderr[:2000])
        keep = [index for position, index in enumerate(keep) if position not in refused]
    else:
        raise RuntimeError("nasm kept refusing lines")
    per_line = {}
    addresses = {}
    pattern = re.compile(r"^\s*(\d+) ([0-9A-F]{8}) ([0-9A-F()]+)-?")
    with open(listing) as handle:
        for text in handle:
            found = pattern.match(text)
            if found:
                line = int(found.group(1)) - 2
                addresses.setdefault(line, found.group(2))
                per_line.setdefault(line, []).append(found.group(3))
    answers = [None] * len(lines)
    for position, index in enumerate(keep):
        address = addresses.get(position, "0")
        answers[index] = (relative_fields("".join(per_line.get(position, [])), int(address, 16)), address)
    return answers, messages


def relative_fields(text, address):
    """nasm lists a branch target "(...)" as the address it names; turn it
    into the displacement from the end of the instruction."""
    end = address + len(re.sub(r"[()]", "", text)) // 2

    def displacement(found):
        field = bytes.fromhex(found.group(1))
        value = (int.from_bytes(field, "little") - end) % (1 << (8 * len(field)))
        return value.to_bytes(len(field), "little").hex().upper()

    return re.sub(r"\(([0-9A-F]+)\)", displacement, text)


def normalise(hex_text):
    data = bytes.fromhex(hex_text)
    start = 0
    while start < len(data) and data[start] in LEGACY_PREFIXES:
        start += 1
    return bytes(sorted(data[:start])) + data[start:]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--encoder", required=True)
    parser.add_argument("--templates", required=True)
    parser.add_argument("--show", type=int, default=40, help="mismatches to print")
    args = parser.parse_args()
    nasm = shutil.which("nasm")
    if nasm is None:
        return oracle.missing("nasm")

    by_mode = {16: [], 32: [], 64: []}
    seen = set()
    for bits, line, in_sequence in template_lines(args.templates):
        # A line of a decorator sequence is kept even when written before, so
        # that the sequence stays whole.
        if in_sequence or (bits, line) not in seen:
            seen.add((bits, line))
            by_mode[bits].append(line)

    compared = 0
    unsized_refused = 0
    mismatches = []
    unexplained = 0

    def mismatch(label, theirs, mine):
        nonlocal unexplained
        known = next((reason for pattern, reason in KNOWN_DIFFERENCES if re.search(pattern, label)), None)
        mismatches.append((label, theirs, mine, known))
        if known is None:
            unexplained += 1

    with tempfile.TemporaryDirectory() as workdir:
        for bits, lines in by_mode.items():
            expected, messages = nasm_bytes(nasm, bits, lines, workdir)
            request = "".join(f"{bits}\t{answer[1] if answer else '0'}\t{line}\n"
                              for line, answer in zip(lines, expected))
            done = subprocess.run([args.encoder], input=request, capture_output=True, text=True, check=True)
            ours = done.stdout.splitlines()
            for index, (line, answer, mine) in enumerate(zip(lines, expected, ours)):
                label = f"{bits}: {line}"
                refusal = messages.get(index)
                unspecified = refusal == "operation size not specified"
                # A line nasm refuses for another reason tells nothing about
                # the size, as nasm does not know the form.
                if unspecified or (mine == "error: AmbiguousMemorySize" and refusal is None):
                    unsized_refused += 1
                    if not unspecified or mine != "error: AmbiguousMemorySize":
                        mismatch(label, f"error: {refusal}" if refusal else answer[0], mine)
                    continue
                theirs = answer[0] if answer else ""
                if theirs == "" or mine == "fixup":
                    continue
                compared += 1
                if not mine.startswith("error") and normalise(mine) == normalise(theirs):
                    continue
                mismatch(label, theirs, mine)
    for label, theirs, mine, known in [m for m in mismatches if m[3] is None][: args.show]:
        print(f"MISMATCH {label}\n    nasm    {theirs}\n    qovrin  {mine}")
    explained = len(mismatches) - unexplained
    print(f"compared {compared} encoded lines and {unsized_refused} refused for their unsized memory with nasm: "
          f"{compared + unsized_refused - len(mismatches)} equal, {explained} known differences, "
          f"{unexplained} unexplained")
    if compared < 3000 or unsized_refused < 1000:
        print("too few lines compared")
        return 1
    return 1 if unexplained else 0


if __name__ == "__main__":
    sys.exit(main())
