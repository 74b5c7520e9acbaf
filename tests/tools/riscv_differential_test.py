#!/usr/bin/env python3
"""Encodes one line per instruction-table row with qovrin and with
riscv64-linux-gnu-as and compares the bytes, for XLEN 32 and 64.

Each row gets candidate lines with literal operands, written in both syntaxes
where they differ (branch targets are distances for qovrin and ".+n" for the
GNU assembler, compressed stack-pointer forms name sp only there, ...). The
first candidate that the GNU assembler accepts is compared; rows it accepts in
no form are rows it does not know and are counted as skipped.

Usage: riscv_differential_test.py <riscv_encode_lines> <gen_riscv_tables.py> <riscv-opcodes folder>
Exits 77 (skipped) when the GNU assembler cannot be found, or fails then
when QOVRIN_REQUIRE_ORACLES=1.
"""

import importlib.util
import itertools
import os
import re
import shutil
import subprocess
import sys
import tempfile

import oracle

GNU_AS = "riscv64-linux-gnu-as"
GNU_OBJCOPY = "riscv64-linux-gnu-objcopy"
EXTENSIONS = "zba_zbb_zbc_zbs_zbkb_zbkc_zbkx_zknd_zkne_zknh_zksed_zksh_zfh_zicbom_zicbop_zicboz_zihintpause_zawrs_h_svinval"
MARCH = {32: f"rv32gcv_{EXTENSIONS}", 64: f"rv64gcvq_{EXTENSIONS}"}
SLOT = 8  # bytes per line in the GNU output, padded with zeros

# Register numbers: the first register operand, then the sources; 3-bit
# compressed fields need x8..x15.
FIRST, SOURCE1, SOURCE2, SOURCE3 = 10, 11, 12, 13
VD, VS1, VS2, VS3 = 8, 24, 16, 8
PRIME_FIRST, PRIME_SOURCE1, PRIME_SOURCE2 = 9, 12, 14

# Operand values: one set inside the ranges, one at the negative and one at
# the positive ends, so that every bit of a scattered immediate is exercised.
VALUE_SETS = [
    {"shamtw": 13, "shamtd": 45, "csr": 0x123, "uimm5": 21, "imm12": -1234, "imm20": 0xabcde, "bs": 2, "rnum": 10,
     "simm5": -11, "ror": 45, "branch": -2468, "jump": 370084, "cjump": -1018, "cbranch": -86, "cimm6": -13,
     "addi16sp": -208, "clui": -12288, "addi4spn": 564, "prefetch": -64,
     "coffsets": {"c_uimm1": 2, "c_uimm2": 1, "c_uimm7lo": 84, "c_uimm8lo": 104, "c_uimm8sphi": 180,
                  "c_uimm8sp_s": 200, "c_uimm9sphi": 296, "c_uimm9sp_s": 400}},
    {"shamtw": 31, "shamtd": 63, "csr": 0xfff, "uimm5": 31, "imm12": -2048, "imm20": 0xfffff, "bs": 3, "rnum": 0,
     "simm5": -16, "ror": 63, "branch": -4096, "jump": -1048576, "cjump": -2048, "cbranch": -256, "cimm6": -32,
     "addi16sp": -512, "clui": -131072, "addi4spn": 1020, "prefetch": -2048,
     "coffsets": {"c_uimm1": 0, "c_uimm2": 3, "c_uimm7lo": 124, "c_uimm8lo": 248, "c_uimm8sphi": 252,
                  "c_uimm8sp_s": 252, "c_uimm9sphi": 504, "c_uimm9sp_s": 504}},
    {"shamtw": 1, "shamtd": 32, "csr": 0, "uimm5": 0, "imm12": 2047, "imm20": 0, "bs": 0, "rnum": 1, "simm5": 15,
     "ror": 32, "branch": 4094, "jump": 1048574, "cjump": 2046, "cbranch": 254, "cimm6": 31, "addi16sp": 496,
     "clui": 126976, "addi4spn": 4, "prefetch": 2016,
     "coffsets": {"c_uimm1": 2, "c_uimm2": 2, "c_uimm7lo": 4, "c_uimm8lo": 8, "c_uimm8sphi": 4,
                  "c_uimm8sp_s": 4, "c_uimm9sphi": 8, "c_uimm9sp_s": 8}},
]


def target(distance):
    return f".{distance:+d}"


def templates(row, v):
    """(qovrin operands, GNU operands) candidates with the values v; {a} is the
    first register, {b} {c} {d} the sources, in the register class that the
    candidate tries."""
    kind = row["kind"]
    names = [name for name, _, _ in row["fields"]]
    shift = v["shamtd"] if "shamtd" in names else v["shamtw"]
    csr, uimm5, imm12, simm5 = v["csr"], v["uimm5"], v["imm12"], v["simm5"]
    plain = {
        1: "", 67: "", 2: "{a}", 3: "{a}", 5: "{a}, {b}", 6: "{a}, {c}", 7: "{a}, {b}, {c}", 10: f"{{a}}, {{b}}, {shift}",
        11: f"{{a}}, {csr}, {{b}}", 12: f"{{a}}, {csr}, {uimm5}", 13: f"{{a}}, {csr}", 14: f"{csr}, {{b}}",
        15: f"{csr}, {uimm5}", 16: f"{{a}}, {uimm5}", 17: "{a}, {b}, rtz", 18: "{a}, {b}, {c}, rtz",
        19: "{a}, {b}, {c}, {d}, rtz", 20: f"{{a}}, {{b}}, {{c}}, {v['bs']}", 21: f"{{a}}, {{b}}, {v['rnum']}",
        26: f"{{a}}, {imm12}({{b}})", 27: "{b}, {c}", 33: f"{{a}}, {v['imm20']}", 34: f"{v['imm20']}", 37: "rw, w",
        43: "{vd}, {vs2}", 46: "{vd}, {vs2}", 47: f"{{vd}}, {{vs2}}, {simm5}", 48: f"{{vd}}, {{vs2}}, {uimm5}",
        50: "{vd}, {vs2}, 7", 51: "{a}, {vs2}", 52: "{a}, {vs2}", 53: "{a}, {b}, e32, m2, ta, mu",
        54: f"{{a}}, {uimm5}, e32, m2, ta, mu", 55: "{vd}", 56: "{vd}, {vs1}", 57: f"{{vd}}, {simm5}",
        58: "{vd}, ({b})", 59: "{vs3}, ({b})", 60: "{vd}, ({b}), {vs2}", 61: "{vs3}, ({b}), {vs2}",
        62: "{vd}, ({b}), {c}", 63: "{vs3}, ({b}), {c}", 64: "{vs3}, ({b})", 66: f"{{vd}}, {{vs2}}, {v['ror']}",
        69: "{a}", 70: "{pa}", 71: "{a}, {c}", 72: "{pa}, {pc}", 73: f"{{pa}}, {v['cimm6']}",
        75: f"{{pa}}, {shift}", 86: "s1, s2", 87: "40", 97: f"{v['prefetch']}({{b}})",
    }
    if kind in plain:
        return [(plain[kind], plain[kind])]
    offset = next((value for field, value in v["coffsets"].items() if field in names), 0)
    # vector ops: qovrin names the operands in GNU order; a few take the v0
    # carry operand only in GNU syntax.
    vector_sources = {41: "{vd}, {vs2}, {vs1}", 42: "{vd}, {vs2}, {b}", 45: "{vd}, {vs2}, {vs1}",
                      49: f"{{vd}}, {{vs2}}, {simm5}", 65: "{vd}, {vs2}, {b}"}
    if row["multiply_add"]:
        vector_sources[41] = "{vd}, {vs1}, {vs2}"
        vector_sources[42] = "{vd}, {b}, {vs2}"
    if kind in vector_sources:
        text = vector_sources[kind]
        return [(text, text), (text, text + ", v0")]
    branch, jump, cjump, cbranch = v["branch"], v["jump"], v["cjump"], v["cbranch"]
    upper = (v["clui"] >> 12) & 0xfffff
    pairs = {
        4: [("{b}", "{b}"), ("{b}", "({b})")],
        8: [(f"{{a}}, {{b}}, {imm12}", f"{{a}}, {{b}}, {imm12}"), (f"{{a}}, {imm12}({{b}})", f"{{a}}, {imm12}({{b}})")],
        28: [(f"{{b}}, {{c}}, {branch}", f"{{b}}, {{c}}, {target(branch)}")],
        30: [(f"{{b}}, {{c}}, {branch}", f"{{b}}, {{c}}, {target(branch)}")],
        29: [(f"{{b}}, {branch}", f"{{b}}, {target(branch)}")],
        31: [(f"{{b}}, {branch}", f"{{b}}, {target(branch)}")],
        35: [(f"{{a}}, {jump}", f"{{a}}, {target(jump)}")],
        36: [(f"{jump}", target(jump))],
        38: [("{a}, {c}, ({b}), 0, 0", "{a}, {c}, ({b})")],
        40: [("{a}, {c}, ({b}), 0, 0", "{a}, {c}, ({b})")],
        39: [("{a}, ({b}), 0, 0", "{a}, ({b})")],
        44: [("{vd}, ({b})", "{vd}, ({b})"), ("{vd}, {b}", "{vd}, {b}")],
        76: [(f"{{pa}}, {offset}({{pb}})", f"{{pa}}, {offset}({{pb}})")],
        77: [(f"{{pc}}, {offset}({{pb}})", f"{{pc}}, {offset}({{pb}})")],
        78: [(f"{{a}}, {offset}", f"{{a}}, {offset}(sp)")],
        79: [(f"{{a}}, {offset}", f"{{a}}, {offset}(sp)")],
        80: [(f"{cjump}", target(cjump))],
        81: [(f"{{pa}}, {cbranch}", f"{{pa}}, {target(cbranch)}")],
        82: [(f"{v['addi16sp']}", f"sp, {v['addi16sp']}")],
        83: [(f"{{a}}, {v['clui']}", f"{{a}}, {upper:#x}")],
        84: [(f"{{pa}}, {v['addi4spn']}", f"{{pa}}, sp, {v['addi4spn']}")],
    }
    return pairs.get(kind, [])


MASKED_KINDS = {41, 42, 43, 47, 48, 51, 55, 58, 59, 60, 61, 62, 63, 66}
ORDERED_KINDS = {38, 39, 40}


def forms(row):
    """The spellings compared for a row: plain with each value set, with the
    vector mask written, and with the aq / rl ordering suffix."""
    for values in VALUE_SETS:
        yield "plain", values
    if row["kind"] in MASKED_KINDS:
        yield "masked", VALUE_SETS[0]
    if row["kind"] in ORDERED_KINDS:
        yield "ordered", VALUE_SETS[0]


def candidates(row, form, values):
    """Lines for each assignment of register classes: the first register
    operand in one class, the sources in another."""
    mnemonic = row["mnemonic"].replace("_", ".")
    lines = []
    for first, source in itertools.product("xf", repeat=2):
        registers = {
            "a": f"{first}{FIRST}", "b": f"{source}{SOURCE1}", "c": f"{source}{SOURCE2}", "d": f"{source}{SOURCE3}",
            "pa": f"{first}{PRIME_FIRST}", "pb": f"x{PRIME_SOURCE1}", "pc": f"{source}{PRIME_SOURCE2}",
            "vd": f"v{VD}", "vs1": f"v{VS1}", "vs2": f"v{VS2}", "vs3": f"v{VS3}",
        }
        for ours, gnu in templates(row, values):
            ours, gnu = ours.format(**registers), gnu.format(**registers)
            ours_mnemonic = gnu_mnemonic = mnemonic
            if form == "masked":
                ours, gnu = ours + ", v0.t", gnu + ", v0.t"
            elif form == "ordered":
                ours = ours.removesuffix(", 0, 0")
                ours_mnemonic = gnu_mnemonic = mnemonic + ".aqrl"
            pair = (f"{ours_mnemonic} {ours}".strip(), f"{gnu_mnemonic} {gnu}".strip())
            if pair not in lines:
                lines.append(pair)
    return lines


def gnu_source(lines):
    """Assembly text with each line in a zero-padded slot of its own, and the
    source line number of each instruction."""
    text = [".option norelax", ".option norvc"]
    numbers = []
    for line, compressed in lines:
        text.append(".balign 8, 0")
        if compressed:
            text.append(".option rvc")
        text.append(line)
        numbers.append(len(text))
        if compressed:
            text.append(".option norvc")
    return "\n".join(text) + "\n", numbers


def gnu_accepts(work, lines, xlen):
    """Indexes of the lines the GNU assembler accepts."""
    source, numbers = gnu_source(lines)
    path = os.path.join(work, f"probe{xlen}.s")
    with open(path, "w", encoding="ascii") as handle:
        handle.write(source)
    # Never -o /dev/null: the assembler deletes its output file when a line fails.
    result = subprocess.run([GNU_AS, f"-march={MARCH[xlen]}", "-o", path + ".o", path], capture_output=True,
                            text=True, check=False)
    refused = {int(m[1]) for m in re.finditer(rf"{re.escape(path)}:(\d+): Error", result.stderr)}
    return [index for index, number in enumerate(numbers) if number not in refused]


def gnu_bytes(work, lines, xlen):
    source, _ = gnu_source(lines)
    path = os.path.join(work, f"final{xlen}.s")
    with open(path, "w", encoding="ascii") as handle:
        handle.write(source)
    obj = path + ".o"
    binary = path + ".bin"
    subprocess.run([GNU_AS, f"-march={MARCH[xlen]}", "-o", obj, path], check=True, capture_output=True)
    subprocess.run([GNU_OBJCOPY, "-O", "binary", "-j", ".text", obj, binary], check=True)
    with open(binary, "rb") as handle:
        return handle.read()


def qovrin_words(encoder, requests):
    text = "".join(f"{xlen} {line}\n" for xlen, line in requests)
    result = subprocess.run([encoder], input=text, capture_output=True, text=True, check=True)
    return result.stdout.splitlines()


def main(argv):
    encoder, generator, data_dir = argv
    if shutil.which(GNU_AS) is None or shutil.which(GNU_OBJCOPY) is None:
        return oracle.missing(f"{GNU_AS} (binutils-riscv64-linux-gnu)")
    # The generator imports its helpers from its own folder, as when it runs as a script.
    sys.path.insert(0, os.path.dirname(os.path.abspath(generator)))
    module_spec = importlib.util.spec_from_file_location("gen_riscv_tables", generator)
    tables = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(tables)
    rows = tables.generate(data_dir)

    failures = []
    compared = skipped = 0
    work = tempfile.mkdtemp(prefix="riscv_differential_")
    try:
        for xlen in (32, 64):
            served = [(row, form) for row in rows if row["xlen"][0] <= xlen <= row["xlen"][1]
                      and not row["name"].endswith("_pseudo") for form in forms(row)]
            probes = []
            owners = []
            for entry, (row, (form, values)) in enumerate(served):
                for pair in candidates(row, form, values):
                    probes.append((pair[1], row["width"] == 16))
                    owners.append((entry, pair))
            chosen = {}
            for index in gnu_accepts(work, probes, xlen):
                chosen.setdefault(owners[index][0], owners[index][1])
            skipped += sum(1 for entry, (_, (form, values)) in enumerate(served)
                           if form == "plain" and values is VALUE_SETS[0] and entry not in chosen)
            picked = sorted(chosen.items())
            data = gnu_bytes(work, [(gnu, served[i][0]["width"] == 16) for i, (_, gnu) in picked], xlen)
            ours = qovrin_words(encoder, [(xlen, line) for _, (line, _) in picked])
            for slot, ((entry, (line, gnu)), answer) in enumerate(zip(picked, ours)):
                size = served[entry][0]["width"] // 8
                expected = int.from_bytes(data[slot * SLOT:slot * SLOT + size], "little")
                compared += 1
                if answer != f"{size} {expected:x}":
                    failures.append(f"RV{xlen} {line!r} (GNU {gnu!r}): qovrin {answer}, GNU {size} {expected:x}")
    finally:
        shutil.rmtree(work)
    for failure in failures:
        print(failure)
    print(f"compared {compared} encodings, {len(failures)} differ; "
          f"{skipped} rows (over both XLENs) unknown to {GNU_AS}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
