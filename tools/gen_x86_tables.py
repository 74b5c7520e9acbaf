#!/usr/bin/env python3
"""Compiles the x86 instruction and register dumps into C++ tables.

Reads mnemonics.tsv, templates.tsv, iflags.tsv and registers.tsv from the data
folder and writes generated_tables.hpp / generated_tables.cpp into the output
folder. Every count and every row that the encoder names by number is checked
here, so a data set that drifted fails the build instead of mis-encoding.
"""

import csv
import itertools
import os
import re
import sys

from table_codegen import DataError, build_hash_slots, join_lines, require, run
from x86_program import program_codes
from x86_row_corrections import (TUPLE_COUNT, correct_broadcast_sizes, correct_opcode_copies, correct_tuples,
                                 keep_register_sizes)

MNEMONIC_COUNT = 2639
TEMPLATE_COUNT = 12319
IFLAG_ROW_COUNT = 654
IFLAG_WORDS = 7
OPERAND_POOL_SIZE = 174
DECORATOR_POOL_SIZE = 14
REGISTER_COUNT = 344
BYTECODE_BYTES = 73483
MAX_PROGRAM_LENGTH = 12
OPERAND_SLOTS = 5

# Mnemonic hashing shared with the C++ lookup (FNV-1a over the bytes with bit 5
# set, folded, then linear probing); the parameters are emitted so both sides
# use the same numbers.
HASH_BASIS = 2166136261
HASH_PRIME = 16777619
MNEMONIC_SLOTS = 8192
REGISTER_SLOTS = 2048

# Register names are short enough to be looked up as one 64-bit key: the
# lower-cased bytes little-endian, the length in the top byte; the slot is
# the top bits of the key times an odd constant.
REGISTER_KEY_MULTIPLIER = 0x9E3779B97F4A7C15
REGISTER_KEY_MAX_LENGTH = 7
# Mnemonics as short as register names (nearly every one a program uses) are
# found the same way, by key; longer ones only through the name hash.
MNEMONIC_KEY_SLOTS = 4096

QUALIFIERS = [
    ("strict", 1 << 6),
    ("byte", 1 << 32),
    ("word", 1 << 33),
    ("dword", 1 << 34),
    ("qword", 1 << 35),
    ("tword", 1 << 36),
    ("oword", 1 << 37),
    ("xword", 1 << 37),
    ("yword", 1 << 38),
    ("zword", 1 << 39),
    ("near", 1 << 41),
    ("far", 1 << 40),
    ("short", 1 << 42),
    ("abs", 1 << 43),
]

# Instruction-flag bits whose positions the matching, sizing and generation
# code relies on; a data set that moved one of them cannot be used.
IFLAG_POSITIONS = {
    "SM0": 0, "AR0": 5, "SB": 10, "NWSIZE": 18, "OSIZE": 19, "ANYSIZE": 21, "SX": 22,
    "SDWORD": 23, "JMP_RELAX": 25, "JCC_HINT": 26, "OPT": 27, "LATEVEX": 28, "NOREX": 29,
    "NOAPX": 30, "NF": 31, "NF_R": 32, "ZU": 35, "WW": 40, "SIB": 41, "LOCK": 42,
    "LOCK1": 43, "NOLONG": 44, "LONG": 45, "NOHLE": 46, "MIB": 47, "BND": 48, "REX2": 49,
    "FL": 51, "VEX": 64, "EVEX": 65,
}

# Mnemonics that the encoder treats specially, by C++ constant name.
NAMED_MNEMONICS = [
    "mov", "add", "jmp", "call", "cmp", "xchg", "aadd", "aand", "aor", "axor", "dec", "div",
    "inc", "mul", "neg", "not", "imul", "idiv",
    "vfmaddcph", "vfcmaddcph", "vfmulcph", "vfcmulcph", "vfmaddcsh", "vfcmaddcsh", "vfmulcsh", "vfcmulcsh",
    "vcvtsi2sh", "vcvtsi2ss", "vcvtsi2sd", "vcvtusi2sh", "vcvtusi2ss", "vcvtusi2sd", "vpinsrq", "vpextrq",
]
RESERVE_MNEMONICS = ["resb", "resw", "resd", "resq", "rest", "reso", "resy", "resz"]
NO_TEMPLATE_MNEMONICS = ["db", "dw", "dd", "dq", "dt", "do", "dy", "dz", "incbin"]
SEGMENT_REGISTERS = {"cs": 47, "ds": 85, "es": 93, "fs": 96, "gs": 97, "ss": 224}
# Every segment register: its register number and the subclass bits (18-23)
# that tell the segment registers apart; the class bit 9 marks them all.
SEGMENT_CLASS = 1 << 9
SEGMENT_SUBCLASS_MASK = 0x3F << 18
SEGMENT_SUBCLASSES = {
    "es": (0, 1 << 18 | 1 << 20), "cs": (1, 1 << 19 | 1 << 20), "ss": (2, 1 << 18 | 1 << 21),
    "ds": (3, 1 << 19 | 1 << 21), "fs": (4, 1 << 18 | 1 << 22), "gs": (5, 1 << 19 | 1 << 22),
    "segr6": (6, 1 << 23), "segr7": (7, 1 << 23),
}

# Extra word per flag row: which EVEX bits the two marker prefixes may flip.
EXTRA_NF_FLIP = 1 << 5
EXTRA_ZU_FLIP = 1 << 9

DECORATOR_BROADCAST = 1 << 5
REGISTER_SET_BITS = 0x1F << 48

# Operand-class bits that decide whether a template slot only ever takes one
# operand size (see template_traits).
CLASS_IMMEDIATE = 1 << 1
NEAR_OR_SHORT = 1 << 41 | 1 << 42
SIZE_BITS = 0xF0FF_0000_0000
FIRST_SIZE_BIT = 32


def read_tsv(data_dir, name, columns):
    path = os.path.join(data_dir, name)
    try:
        with open(path, newline="", encoding="ascii") as handle:
            reader = csv.DictReader(handle, delimiter="\t", quoting=csv.QUOTE_NONE)
            missing = [c for c in columns if c not in (reader.fieldnames or [])]
            require(not missing, f"{name}: missing columns {', '.join(missing)}")
            rows = list(reader)
    except OSError as error:
        raise DataError(f"cannot read {path}: {error.strerror}") from error
    except UnicodeDecodeError as error:
        raise DataError(f"{name}: not ASCII text ({error.reason})") from error
    for position, row in enumerate(rows):
        require(row["row"] == str(position), f"{name}: line {position + 2} has row {row['row']!r}, "
                f"expected {position}")
        require(None not in row and None not in row.values(), f"{name}: row {position} has the wrong column count")
    return rows


def parse_int(text, base, what, bits=None):
    try:
        value = int(text, base)
    except ValueError as error:
        raise DataError(f"{what}: {text!r} is not a number") from error
    require(bits is None or 0 <= value < 1 << bits, f"{what}: {text!r} does not fit {bits} bits")
    return value


def natural_key(name):
    """Orders names as the register table does: digit runs by their value, so
    cr9 comes before cr10."""
    return [(0, int(part), "") if part.isdigit() else (1, 0, part) for part in re.findall(r"\d+|\D+", name)]


def name_hash(name):
    value = HASH_BASIS
    for char in name.lower().encode("ascii"):
        value = ((value ^ (char | 0x20)) * HASH_PRIME) & 0xFFFFFFFF
    return value ^ (value >> 16)


def register_key(name):
    require(len(name) <= REGISTER_KEY_MAX_LENGTH, f"register name {name!r} is too long for a key")
    key = len(name) << 56
    for position, char in enumerate(name.lower().encode("ascii")):
        key |= char << (8 * position)
    return key


def register_key_slot(key, slot_count=REGISTER_SLOTS):
    slot_bits = slot_count.bit_length() - 1
    return ((key * REGISTER_KEY_MULTIPLIER) & 0xFFFFFFFFFFFFFFFF) >> (64 - slot_bits)


def mnemonic_key(name):
    """The register-style key of a short mnemonic; 0, which no text's key
    equals, for a longer one."""
    return register_key(name) if len(name) <= REGISTER_KEY_MAX_LENGTH else 0


# --- registers ----------------------------------------------------------------

def load_registers(data_dir):
    rows = read_tsv(data_dir, "registers.tsv", ["row", "tag", "name", "flags", "number", "id"])
    require(len(rows) == REGISTER_COUNT, f"registers.tsv: {len(rows)} registers, expected {REGISTER_COUNT}")
    registers = []
    for position, row in enumerate(rows):
        number = parse_int(row["number"], 10, "registers.tsv number")
        ident = parse_int(row["id"], 10, "registers.tsv id")
        require(0 <= number <= 31, f"registers.tsv: {row['name']} has register number {number}")
        require(ident == position + 1, f"registers.tsv: {row['name']} has id {ident}, expected {position + 1}")
        require(row["name"] == row["name"].lower() and row["name"].isidentifier(),
                f"registers.tsv: bad register name {row['name']!r}")
        require(row["tag"].isidentifier(), f"registers.tsv: bad register tag {row['tag']!r}")
        registers.append({
            "tag": row["tag"], "name": row["name"],
            "flags": parse_int(row["flags"], 16, "registers.tsv flags", 64),
            "number": number, "id": ident,
        })
    by_name = {}
    for register in registers:
        # A second row of one name could never be found: lookups stop at the first.
        require(register["name"] not in by_name, f"registers.tsv: register name {register['name']} appears twice")
        by_name[register["name"]] = register
    k1 = by_name.get("k1")
    require(k1 is not None and k1["id"] == 99 and k1["number"] == 1, "registers.tsv: k1 must have id 99, number 1")
    last = registers[-1]["name"]
    require(last == "zmm31", f"registers.tsv: last register is {last}, expected zmm31")
    for name, ident in SEGMENT_REGISTERS.items():
        found = by_name.get(name)
        require(found is not None and found["id"] == ident, f"registers.tsv: {name} must have id {ident}")
    for name, (number, subclass) in SEGMENT_SUBCLASSES.items():
        found = by_name.get(name)
        require(found is not None, f"registers.tsv: segment register {name} is missing")
        require(found["flags"] & SEGMENT_CLASS, f"registers.tsv: {name} lacks the segment register class")
        require(found["flags"] & SEGMENT_SUBCLASS_MASK == subclass and found["number"] == number,
                f"registers.tsv: {name} must be segment register {number} with subclass bits {subclass:#x}")
    opmask = [r for r in registers if r["name"] in {f"k{n}" for n in range(8)}]
    require([r["id"] - 1 for r in opmask] == list(range(97, 105)), "registers.tsv: k0-k7 must be rows 97-104")
    for before, after in zip(registers, registers[1:]):
        require(natural_key(before["name"]) < natural_key(after["name"]),
                f"registers.tsv: rows are not sorted by name: {after['name']} (id {after['id']}) "
                f"follows {before['name']}")
    return registers


# --- mnemonics and templates --------------------------------------------------

def load_mnemonics(data_dir):
    rows = read_tsv(data_dir, "mnemonics.tsv", ["row", "name", "first_template", "template_count"])
    require(len(rows) == MNEMONIC_COUNT, f"mnemonics.tsv: {len(rows)} mnemonics, expected {MNEMONIC_COUNT}")
    mnemonics = []
    for row in rows:
        require(row["name"] and row["name"] == row["name"].lower() and row["name"].isidentifier(),
                f"mnemonics.tsv: bad mnemonic name {row['name']!r}")
        mnemonics.append({
            "name": row["name"],
            "first": parse_int(row["first_template"], 10, "mnemonics.tsv first_template"),
            "count": parse_int(row["template_count"], 10, "mnemonics.tsv template_count", 16),
        })
    require(mnemonics[0]["name"] == "db", "mnemonics.tsv: row 0 must be db")
    require(mnemonics[-1]["name"] == "hint_nop63", f"mnemonics.tsv: row {MNEMONIC_COUNT - 1} must be hint_nop63")
    without = [m["name"] for m in mnemonics if m["count"] == 0]
    require(without == NO_TEMPLATE_MNEMONICS,
            f"mnemonics.tsv: mnemonics without templates are {' '.join(without)}, "
            f"expected {' '.join(NO_TEMPLATE_MNEMONICS)}")
    return mnemonics


def parse_program(text, row):
    codes = [parse_int(code, 8, f"templates.tsv row {row} program") for code in text.split()]
    require(1 <= len(codes) <= MAX_PROGRAM_LENGTH, f"templates.tsv row {row}: program of {len(codes)} bytes")
    for code in codes:
        require(0 <= code <= 0o377, f"templates.tsv row {row}: program byte {code} is outside 0-0377")
    require(codes[-1] == 0, f"templates.tsv row {row}: malformed program")
    return codes


def load_templates(data_dir, mnemonics, iflag_row_count):
    columns = (["row", "mnemonic", "opcount", "iflags", "pool_offset", "program", "op_exprs", "deco_exprs", "xda_line"]
               + [f"op{i}" for i in range(OPERAND_SLOTS)] + [f"deco{i}" for i in range(OPERAND_SLOTS)])
    rows = read_tsv(data_dir, "templates.tsv", columns)
    require(len(rows) == TEMPLATE_COUNT, f"templates.tsv: {len(rows)} templates, expected {TEMPLATE_COUNT}")

    operand_pool = {}  # expression text -> (row, value), rows by first appearance
    decorator_pool = {}
    templates = []
    for position, row in enumerate(rows):
        where = f"templates.tsv row {position}"
        opcount = parse_int(row["opcount"], 10, where)
        require(0 <= opcount <= 4, f"{where}: operand count {opcount}")
        op_exprs = row["op_exprs"].split(",")
        deco_exprs = row["deco_exprs"].split(",")
        require(len(op_exprs) == OPERAND_SLOTS and len(deco_exprs) == OPERAND_SLOTS,
                f"{where}: expected {OPERAND_SLOTS} operand and decorator expressions")
        operand_rows = []
        decorator_rows = []
        for slot in range(OPERAND_SLOTS):
            for pool, exprs, column, rows_out in ((operand_pool, op_exprs, "op", operand_rows),
                                                  (decorator_pool, deco_exprs, "deco", decorator_rows)):
                value = parse_int(row[f"{column}{slot}"], 16, where, 64 if column == "op" else 16)
                entry = pool.setdefault(exprs[slot], (len(pool), value))
                require(entry[1] == value, f"{where}: expression {exprs[slot]} has two values")
                rows_out.append(entry[0])
            if slot >= opcount:
                require(op_exprs[slot] == "0", f"{where}: operand slot {slot} is beyond the operand count")
        program = parse_program(row["program"], position)
        iflags = parse_int(row["iflags"], 10, where)
        require(0 <= iflags < iflag_row_count, f"{where}: flag row {iflags} out of range")
        mnemonic = parse_int(row["mnemonic"], 10, where)
        require(0 <= mnemonic < len(mnemonics), f"{where}: mnemonic {mnemonic} out of range")
        templates.append({
            "mnemonic": mnemonic, "opcount": opcount, "operands": operand_rows, "decorators": decorator_rows,
            "iflags": iflags, "offset": parse_int(row["pool_offset"], 10, where, 32), "program": program,
            "family": parse_int(row["xda_line"], 10, where),
        })

    require(len(operand_pool) == OPERAND_POOL_SIZE,
            f"templates.tsv: {len(operand_pool)} operand-class expressions, expected {OPERAND_POOL_SIZE}")
    require(len(decorator_pool) == DECORATOR_POOL_SIZE,
            f"templates.tsv: {len(decorator_pool)} decorator expressions, expected {DECORATOR_POOL_SIZE}")
    zero_row = operand_pool.get("0", (None, None))[0]
    require(zero_row == 1, f"templates.tsv: the all-zero operand word is row {zero_row}, expected 1")
    for position, template in enumerate(templates):
        require(all(r == zero_row for r in template["operands"][template["opcount"]:]),
                f"templates.tsv row {position}: unused operand slot is not the all-zero row")
    operand_words = [value for _, value in sorted(operand_pool.values())]
    decorator_words = [value for _, value in sorted(decorator_pool.values())]
    return templates, operand_words, decorator_words


def check_template_runs(mnemonics, templates):
    """Each mnemonic's templates are one contiguous run in mnemonic order."""
    next_first = 0
    for opcode, mnemonic in enumerate(mnemonics):
        if mnemonic["count"] == 0:
            require(mnemonic["first"] == -1, f"mnemonics.tsv: {mnemonic['name']} has no templates but a first one")
            continue
        require(mnemonic["first"] == next_first,
                f"mnemonics.tsv: {mnemonic['name']} starts at template {mnemonic['first']}, expected {next_first}")
        for row in range(mnemonic["first"], mnemonic["first"] + mnemonic["count"]):
            require(row < len(templates) and templates[row]["mnemonic"] == opcode,
                    f"templates.tsv row {row}: does not belong to {mnemonic['name']}")
        next_first += mnemonic["count"]
    require(next_first == len(templates), "mnemonics.tsv: the template runs do not cover every template")
    expected = {"mov": (20, 84, 19), "add": (24, 80, 129), "jmp": (116, 31, 2232), "call": (171, 23, 2719)}
    for name, (opcode, count, first) in expected.items():
        mnemonic = mnemonics[opcode]
        require((mnemonic["name"], mnemonic["count"], mnemonic["first"]) == (name, count, first),
                f"mnemonics.tsv: {name} must be opcode {opcode} with {count} templates from {first}")


def build_bytecode_pool(templates):
    pool = [None] * BYTECODE_BYTES
    for position, template in enumerate(templates):
        offset = template["offset"]
        program = template["program"]
        require(0 <= offset and offset + len(program) <= BYTECODE_BYTES,
                f"templates.tsv row {position}: program at {offset} leaves the {BYTECODE_BYTES}-byte pool")
        for index, code in enumerate(program):
            require(pool[offset + index] in (None, code),
                    f"templates.tsv row {position}: program disagrees with a shared pool byte at {offset + index}")
            pool[offset + index] = code
    require(None not in pool, f"templates.tsv: the programs leave byte {pool.index(None) if None in pool else 0} "
            "of the pool unset")
    for position, template in enumerate(templates):
        require(pool[template["offset"]] == template["program"][0],
                f"templates.tsv row {position}: jump class differs from the program's first byte")
    return pool


# --- instruction flags --------------------------------------------------------

def load_iflags(data_dir):
    columns = ["row", "flags"] + [f"w{i}" for i in range(IFLAG_WORDS)]
    rows = read_tsv(data_dir, "iflags.tsv", columns)
    require(len(rows) == IFLAG_ROW_COUNT, f"iflags.tsv: {len(rows)} flag rows, expected {IFLAG_ROW_COUNT}")
    words_by_row = []
    bit_of = {}
    for position, row in enumerate(rows):
        words = [parse_int(row[f"w{i}"], 16, f"iflags.tsv row {position}", 32) for i in range(IFLAG_WORDS)]
        bits = [n for n in range(32 * IFLAG_WORDS) if words[n // 32] >> (n % 32) & 1]
        names = [name for name in row["flags"].split(",") if name]
        require(len(bits) == len(names), f"iflags.tsv row {position}: {len(names)} names for {len(bits)} set bits")
        for name, bit in zip(names, bits):
            require(bit_of.setdefault(name, bit) == bit, f"iflags.tsv: flag {name} at bits {bit_of[name]} and {bit}")
        words_by_row.append(words)
    require(len(set(map(tuple, words_by_row))) == len(words_by_row), "iflags.tsv: two flag rows are equal")
    require(len(set(bit_of.values())) == len(bit_of), "iflags.tsv: two flag names share a bit")
    for name, bit in IFLAG_POSITIONS.items():
        require(bit_of.get(name) == bit, f"iflags.tsv: flag {name} is at bit {bit_of.get(name)}, expected {bit}")
    return words_by_row, bit_of


def rows_with_flag(iflag_words, bit):
    return [row for row, words in enumerate(iflag_words) if words[bit // 32] >> (bit % 32) & 1]


def single_run(rows, what, expected):
    require(rows and rows == list(range(rows[0], rows[-1] + 1)) and (rows[0], rows[-1]) == expected,
            f"{what}: rows {rows[:3]}..., expected the run {expected[0]}-{expected[1]}")
    return rows[0], rows[-1]


def derive_row_constants(mnemonics, templates, iflag_words, bit_of, operand_words, decorator_words):
    flag = lambda name: rows_with_flag(iflag_words, bit_of[name])
    constants = {}
    constants["kLock1IflagRows"] = single_run(flag("LOCK1"), "LOCK1 flag rows", (181, 183))
    lock1_owners = {mnemonics[t["mnemonic"]]["name"] for t in templates if t["iflags"] in flag("LOCK1")}
    require(lock1_owners == {"xchg"}, f"LOCK1 flag rows are used by {sorted(lock1_owners)}, expected xchg only")
    constants["kJccHintIflagRows"] = single_run(flag("JCC_HINT"), "JCC_HINT flag rows", (206, 212))
    constants["kLateVexIflagRows"] = single_run(flag("LATEVEX"), "LATEVEX flag rows", (488, 497))

    sdword_rows = flag("SDWORD")
    require(sdword_rows == [16], f"SDWORD flag rows are {sdword_rows}, expected [16]")
    sdword_templates = [row for row, t in enumerate(templates) if t["iflags"] in sdword_rows]
    require(len(sdword_templates) == 1, f"templates with the SDWORD flag: {sdword_templates}, expected one")
    mov_template = sdword_templates[0]
    require(mnemonics[templates[mov_template]["mnemonic"]]["name"] == "mov"
            and templates[mov_template]["program"] == [0o324, 0o1, 0o307, 0o200, 0o255, 0],
            f"template {mov_template} with SDWORD is not the sign-extended 32-bit immediate mov")
    constants["kMovSdwordTemplate"] = mov_template
    constants["kSdwordIflagRow"] = sdword_rows[0]

    late_vex = set(range(constants["kLateVexIflagRows"][0], constants["kLateVexIflagRows"][1] + 1))
    late_vex_templates = [t for t in templates if t["iflags"] in late_vex]
    require(len(late_vex_templates) == 38, f"{len(late_vex_templates)} templates in LATEVEX rows, expected 38")

    set_rows = [row for row, word in enumerate(operand_words) if word & REGISTER_SET_BITS]
    constants["kRegisterSetOperandRows"] = single_run(set_rows, "register-set operand words", (169, 171))

    mask = sum(1 << row for row, word in enumerate(decorator_words) if not word & DECORATOR_BROADCAST)
    require(mask == 0x4C3, f"decorator rows without broadcast form mask {mask:#x}, expected 0x4c3")
    constants["kDecoratorRowsWithoutBroadcast"] = mask
    return constants


def extra_words(iflag_words, bit_of):
    # Without either marker flag every extra word would silently be 0.
    for name in ("NF_E", "ZU_E"):
        require(name in bit_of and rows_with_flag(iflag_words, bit_of[name]),
                f"iflags.tsv: no flag row has {name}")
    result = []
    for words in iflag_words:
        has = lambda name: name in bit_of and words[bit_of[name] // 32] >> (bit_of[name] % 32) & 1
        result.append((EXTRA_NF_FLIP if has("NF_E") else 0) | (EXTRA_ZU_FLIP if has("ZU_E") else 0))
    return result


def mnemonic_constants(mnemonics):
    opcode_of = {}
    for opcode, mnemonic in enumerate(mnemonics):
        opcode_of.setdefault(mnemonic["name"], opcode)
    for name in NAMED_MNEMONICS + RESERVE_MNEMONICS:
        require(name in opcode_of, f"mnemonics.tsv: {name} is missing")
    reserve = [opcode_of[name] for name in RESERVE_MNEMONICS]
    require(reserve == list(range(8, 16)), f"mnemonics.tsv: resb ... resz are rows {reserve}, expected 8-15")
    require(opcode_of["xchg"] == 113, f"mnemonics.tsv: xchg is row {opcode_of['xchg']}, expected 113")
    return {name: opcode_of[name] for name in NAMED_MNEMONICS}, reserve


# --- per-template matching traits ---------------------------------------------

def exact_size_code(word, any_size_slot):
    """4-bit code n of the one size bit (FIRST_SIZE_BIT + n - 1) that a slot
    demands of every sized register or memory operand; 0 when the slot takes
    other sizes too: no size or several, an immediate or jump slot (whose size
    matching widens), or a slot that accepts any size."""
    size = word & SIZE_BITS
    if size == 0 or size & (size - 1) or word & (CLASS_IMMEDIATE | NEAR_OR_SHORT) or any_size_slot:
        return 0
    code = size.bit_length() - FIRST_SIZE_BIT
    return code if code < 16 else 0


# The jlen code and the count of templates that carry it: one conditional
# jump over a near jmp for each condition name.
JUMP_LENGTH_CODE = 0o373
SUPERSEDED_TEMPLATES = 30


def template_traits(templates, iflag_words, bit_of, operand_words):
    fixed_bits = {0o310: 16, 0o311: 32, 0o313: 64}
    has = lambda words, name: words[bit_of[name] // 32] >> (bit_of[name] % 32) & 1
    traits = []
    for t in templates:
        words = iflag_words[t["iflags"]]
        codes = program_codes(t["program"])
        exact = 0
        for slot in range(t["opcount"]):
            any_size_slot = has(words, "ANYSIZE") and words[0] >> (bit_of["AR0"] + slot) & 1
            exact |= exact_size_code(operand_words[t["operands"][slot]], any_size_slot) << (4 * slot)
        fixed = next((fixed_bits[c] for c in codes if c in fixed_bits), 0)
        classes = [operand_words[row] for row in t["operands"]]
        qword_reg_byte_rm = (t["opcount"] == 2 and classes[0] & 0xFFFF00000001 == 0x800000001
                             and classes[1] & 0xFFFF00000004 == 0x100000004)
        overridable = bool(has(words, "OPT")) and qword_reg_byte_rm and 0o324 not in codes
        # The jump over a near jmp (its jlen code) stands in for a conditional
        # near jump on processors before the 386. Where the 386 forms refuse
        # the operands or the prefixes, it would write two instructions for
        # one and land elsewhere, so it is never chosen.
        superseded = JUMP_LENGTH_CODE in codes
        traits.append({"exact_sizes": exact, "fixed_address_bits": fixed, "overridable": overridable,
                       "superseded": superseded})
    superseded_count = sum(trait["superseded"] for trait in traits)
    require(superseded_count == SUPERSEDED_TEMPLATES,
            f"{superseded_count} templates jump over a near jmp, expected {SUPERSEDED_TEMPLATES}")
    return traits


# --- candidate filters for matching --------------------------------------------

# Operand-class bits matching never compares: sizes and register-set sizes.
CLASS_IGNORED = 0x1F_F0FF_0000_0000
FILTER_SLOTS = 4
FILTER_SLOT_BITS = 16


def template_filters(templates, operand_words, traits):
    """Per template, the class bits each operand slot demands (0 past the
    operand count) and, 16 bits per slot, the one bit of the slot's exact
    size code (bit 0 when any size will do), so that a search turns a
    template away with a few masks and no lookups."""
    filters = []
    for row, t in enumerate(templates):
        demands = [0] * FILTER_SLOTS
        sizes = 0
        for slot in range(FILTER_SLOTS):
            if slot < t["opcount"]:
                demands[slot] = operand_words[t["operands"][slot]] & ~CLASS_IGNORED
            code = (traits[row]["exact_sizes"] >> (4 * slot)) & 15
            sizes |= 1 << (code + FILTER_SLOT_BITS * slot)
        filters.append({"demands": demands, "sizes": sizes, "count": t["opcount"]})
    return filters


# --- operand-shape index -------------------------------------------------------

# The class bits that tell operands apart by shape: register, register-or-
# memory, memory and the register classes. Grading never adds any of them,
# so an operand whose bits under this mask are a shape's can only meet a
# template slot whose demands under the mask lie within them.
SHAPE_MASK = 0x3FF8D
# Memory operands, with registers or absolute, share these bits under the mask.
MEMORY_SHAPE = 0x1F90C
SHAPE_BITS = 5
NO_SHAPE = (1 << SHAPE_BITS) - 1
SHAPE_SLOTS = 2
# Mnemonics with fewer templates are scanned whole: the filter is as quick.
SHAPE_INDEX_MIN_TEMPLATES = 8


def size_code(size):
    """The filter's exact size code of one size bit (0 for none or several)."""
    if size == 0 or size & (size - 1):
        return 0
    code = size.bit_length() - FIRST_SIZE_BIT
    return code if code < 16 else 0


def operand_shapes(registers):
    """Shape words, sorted: class bits under SHAPE_MASK plus, for a register or
    memory operand, its one size bit. Immediates and slots past the operand
    count have the word 0 (their sizes may still change, so they are never
    sized here); memory comes unsized and in every size of a byte to a zword;
    every register class in the sizes its registers have. Code NO_SHAPE
    stands for any other operand, which a search meets with a plain scan."""
    words = {0, MEMORY_SHAPE} | {MEMORY_SHAPE | 1 << bit for bit in range(FIRST_SIZE_BIT, FIRST_SIZE_BIT + 8)}
    words |= {r["flags"] & (SHAPE_MASK | SIZE_BITS) for r in registers}
    require(len(words) < NO_SHAPE, f"{len(words)} operand shapes do not fit {SHAPE_BITS} bits")
    return sorted(words)


SHAPE_HASH_BITS = 6


def shape_slot(word, multiplier):
    return ((word * multiplier) & 0xFFFFFFFFFFFFFFFF) >> (64 - SHAPE_HASH_BITS)


def shape_hash(shapes):
    """An odd multiplier that gives every shape word its own slot, and the
    slots: shape code + 1, 0 when empty. A search finds an operand's shape
    with one multiplication and one comparison."""
    for step in range(1, 1 << 16):
        multiplier = (REGISTER_KEY_MULTIPLIER * step) & 0xFFFFFFFFFFFFFFFF | 1
        slots = [0] * (1 << SHAPE_HASH_BITS)
        for code, word in enumerate(shapes):
            if slots[shape_slot(word, multiplier)]:
                break
            slots[shape_slot(word, multiplier)] = code + 1
        else:
            return multiplier, slots
    raise DataError("no multiplier places every operand shape in its own slot")


def shape_key(count, shape_codes):
    key = count
    for code in shape_codes:
        key = (key << SHAPE_BITS) | code
    return key


def accepts(f, slot, shape):
    """Whether the candidate filter lets an operand of this shape word through
    in this slot: its class demands under the mask and its exact size."""
    if f["demands"][slot] & SHAPE_MASK & ~shape:
        return False
    code = size_code(shape & SIZE_BITS)
    return code == 0 or (f["sizes"] >> (FILTER_SLOT_BITS * slot)) & (1 | 1 << code) != 0


def shape_index(mnemonics, filters, shapes):
    """Per mnemonic with many templates, the groups of its template positions
    by operand count and the shapes of the first operands, in table order.
    A group holds every template the candidate filter could let through for
    such operands, so a search over the group finds what a scan finds. Keys
    without a group have no candidate; lists shared within a mnemonic share
    one run of the position pool."""
    groups, pool, ranges = [], [], []
    for m in mnemonics:
        first_group = len(groups)
        if m["count"] >= SHAPE_INDEX_MIN_TEMPLATES:
            rows = [(position, filters[m["first"] + position]) for position in range(m["count"])]
            runs = {}
            for count in sorted({f["count"] for _, f in rows}):
                # Slots past the count hold the word 0, which every template of the count accepts.
                per_slot = [range(len(shapes)) if slot < count else [0] for slot in range(SHAPE_SLOTS)]
                same_count = [(position, f) for position, f in rows if f["count"] == count]
                for codes in itertools.product(*per_slot):
                    positions = tuple(position for position, f in same_count
                                      if all(accepts(f, slot, shapes[code]) for slot, code in enumerate(codes)))
                    if not positions:
                        continue
                    if positions not in runs:
                        runs[positions] = len(pool)
                        pool.extend(positions)
                    groups.append((shape_key(count, codes), runs[positions], len(positions)))
        ranges.append((first_group, len(groups) - first_group))
    return {"groups": groups, "pool": pool, "ranges": ranges}


# --- emission -----------------------------------------------------------------

BANNER = "// Generated by tools/gen_x86_tables.py from the x86 instruction dumps; do not edit."


def camel(name):
    return "k" + "".join(part[:1].upper() + part[1:].lower() for part in name.split("_"))


def emit_header(out, ctx):
    w = out.append
    out.extend(["#pragma once", BANNER, "", "#include <array>", "#include <cstddef>", "#include <cstdint>",
                "#include <string_view>", "", '#include "x86_encoder/table_rows.hpp"', ""])
    w("namespace x86_encoder::tables {")
    w("")
    for name, value in [("kMnemonicCount", MNEMONIC_COUNT), ("kTemplateCount", TEMPLATE_COUNT),
                        ("kIflagRowCount", IFLAG_ROW_COUNT), ("kIflagWordCount", IFLAG_WORDS),
                        ("kIflagBitCount", 32 * IFLAG_WORDS), ("kOperandPoolSize", OPERAND_POOL_SIZE),
                        ("kDecoratorPoolSize", DECORATOR_POOL_SIZE), ("kRegisterCount", REGISTER_COUNT),
                        ("kBytecodeBytes", BYTECODE_BYTES), ("kQualifierCount", len(QUALIFIERS)),
                        ("kOperandSlots", OPERAND_SLOTS), ("kMaxProgramLength", MAX_PROGRAM_LENGTH),
                        ("kMaxMnemonicLength", max(len(m["name"]) for m in ctx["mnemonics"])),
                        ("kMaxRegisterNameLength", max(len(r["name"]) for r in ctx["registers"]))]:
        w(f"inline constexpr std::size_t {name} = {value};")
    w("")
    w("// Instruction-flag bit numbers, named after the database's flags.")
    w("enum class Iflag : std::uint8_t {")
    for name, bit in sorted(ctx["bit_of"].items(), key=lambda item: item[1]):
        w(f"  {camel(name)} = {bit},  // {name}")
    w("};")
    w("")
    w("// Rows of the flag and pool tables that the encoder names, found from the")
    w("// flags they stand for.")
    w("struct RowRange {")
    w("  std::uint16_t first;")
    w("  std::uint16_t last;")
    w("  constexpr bool contains(std::uint32_t row) const noexcept { return row >= first && row <= last; }")
    w("};")
    constants = ctx["row_constants"]
    for name in ("kLock1IflagRows", "kJccHintIflagRows", "kLateVexIflagRows", "kRegisterSetOperandRows"):
        first, last = constants[name]
        w(f"inline constexpr RowRange {name}{{{first}, {last}}};")
    w(f"inline constexpr std::uint16_t kSdwordIflagRow = {constants['kSdwordIflagRow']};")
    w(f"inline constexpr std::uint32_t kMovSdwordTemplate = {constants['kMovSdwordTemplate']};")
    w(f"inline constexpr std::uint16_t kZeroOperandClassRow = 1;")
    mask = constants["kDecoratorRowsWithoutBroadcast"]
    w(f"inline constexpr std::uint32_t kDecoratorRowsWithoutBroadcast = {mask:#x};")
    w(f"inline constexpr std::uint32_t kExtraWordNfFlip = {EXTRA_NF_FLIP:#x};")
    w(f"inline constexpr std::uint32_t kExtraWordZuFlip = {EXTRA_ZU_FLIP:#x};")
    w("// EVEX tuple types are codes 0 to kEvexTupleCount - 1 after the byte 0300.")
    w(f"inline constexpr std::uint8_t kEvexTupleCount = {TUPLE_COUNT};")
    w("")
    w("// Opcodes of the mnemonics that the encoder handles by name.")
    for name, opcode in ctx["named_mnemonics"].items():
        w(f"inline constexpr std::uint16_t {camel('mnemonic_' + name)} = {opcode};")
    w(f"inline constexpr RowRange kReserveMnemonics{{{ctx['reserve'][0]}, {ctx['reserve'][-1]}}};")
    w("")
    w("// Register ids (row + 1) the encoder uses directly.")
    by_name = {r["name"]: r for r in ctx["registers"]}
    for name in SEGMENT_REGISTERS:
        w(f"inline constexpr std::int16_t {camel('register_id_' + name)} = {by_name[name]['id']};")
    w(f"inline constexpr RowRange kOpmaskRegisterRows{{{by_name['k0']['id'] - 1}, {by_name['k7']['id'] - 1}}};")
    w("")
    w("// Parameters of the name hash shared with the generator.")
    w(f"inline constexpr std::uint32_t kNameHashBasis = {HASH_BASIS}u;")
    w(f"inline constexpr std::uint32_t kNameHashPrime = {HASH_PRIME}u;")
    w(f"inline constexpr std::size_t kMnemonicHashSlots = {MNEMONIC_SLOTS};")
    w(f"inline constexpr std::size_t kRegisterHashSlots = {REGISTER_SLOTS};")
    w(f"inline constexpr std::uint64_t kRegisterKeyMultiplier = {REGISTER_KEY_MULTIPLIER:#x};")
    w(f"inline constexpr std::size_t kMnemonicKeySlots = {MNEMONIC_KEY_SLOTS};")
    w("")
    w("extern const std::array<std::string_view, kMnemonicCount> x86_mnemonic_names;")
    w("extern const std::array<MnemonicIndexRow, kMnemonicCount> x86_mnemonic_index;")
    w("extern const std::array<TemplateRow, kTemplateCount> x86_templates;")
    w("extern const std::array<TemplateTraits, kTemplateCount> x86_template_traits;")
    w(f"inline constexpr unsigned kFilterSlots = {FILTER_SLOTS};")
    w(f"inline constexpr unsigned kFilterSlotBits = {FILTER_SLOT_BITS};")
    w("extern const std::array<TemplateFilter, kTemplateCount> x86_template_filters;")
    index = ctx["shape_index"]
    w("")
    w(f"inline constexpr std::uint64_t kShapeMask = {SHAPE_MASK:#x};")
    w(f"inline constexpr std::uint64_t kShapeSizeMask = {SIZE_BITS:#x};")
    w(f"inline constexpr unsigned kShapeBits = {SHAPE_BITS};")
    w(f"inline constexpr std::uint8_t kNoShape = {NO_SHAPE};")
    w(f"inline constexpr unsigned kShapeSlots = {SHAPE_SLOTS};")
    w(f"inline constexpr std::size_t kShapeCount = {len(ctx['operand_shapes'])};")
    w(f"inline constexpr unsigned kShapeHashBits = {SHAPE_HASH_BITS};")
    w(f"inline constexpr std::uint64_t kShapeHashMultiplier = {ctx['shape_hash'][0]:#x};")
    w(f"inline constexpr std::size_t kShapeGroupCount = {len(index['groups'])};")
    w(f"inline constexpr std::size_t kShapePoolSize = {len(index['pool'])};")
    w("// Shape words, sorted: class bits under kShapeMask and a register's or memory")
    w("// operand's one size bit. The row is the shape's code.")
    w("extern const std::array<std::uint64_t, kShapeCount> x86_operand_shapes;")
    w("// Shape code + 1 by the slot of the shape word's hash, 0 for an empty slot.")
    w("extern const std::array<std::uint8_t, std::size_t{1} << kShapeHashBits> x86_shape_slots;")
    w("extern const std::array<ShapeGroupRange, kMnemonicCount> x86_shape_group_ranges;")
    w("extern const std::array<ShapeGroup, kShapeGroupCount> x86_shape_groups;")
    w("extern const std::array<std::uint8_t, kShapePoolSize> x86_shape_positions;")
    w("")
    w("extern const std::array<RegisterRow, kRegisterCount> x86_registers;")
    w("extern const std::array<OperandQualifier, kQualifierCount> x86_operand_qualifiers;")
    w("extern const std::array<std::uint32_t, kIflagRowCount> x86_iflag_extra_words;")
    w("// Row + 1 of each mnemonic by name hash slot, 0 for an empty slot.")
    w("extern const std::array<std::uint16_t, kMnemonicHashSlots> x86_mnemonic_hash_slots;")
    w("// Row + 1 of each register by the slot of its name key, 0 for an empty slot.")
    w("extern const std::array<std::uint16_t, kRegisterHashSlots> x86_register_key_slots;")
    w("// Row + 1 of each mnemonic of at most seven bytes by the slot of its key, 0")
    w("// for an empty slot; the keys are made as for registers, 0 for a longer name.")
    w("extern const std::array<std::uint16_t, kMnemonicKeySlots> x86_mnemonic_key_slots;")
    w("extern const std::array<std::uint64_t, kMnemonicCount> x86_mnemonic_keys;")
    w("")
    w("}  // namespace x86_encoder::tables")
    w("")
    w("namespace x86_encoder::generated_match_tables {")
    w("")
    w("extern const std::array<std::uint8_t, tables::kBytecodeBytes> bytecodes;")
    w("using IflagRow = std::array<std::uint32_t, tables::kIflagWordCount>;")
    w("extern const std::array<IflagRow, tables::kIflagRowCount> iflag_fields;")
    w("extern const std::array<std::uint64_t, tables::kOperandPoolSize> operand_flags_pool;")
    w("extern const std::array<std::uint16_t, tables::kDecoratorPoolSize> decorator_flags_pool;")
    w("")
    w("}  // namespace x86_encoder::generated_match_tables")


def emit_source(out, ctx):
    w = out.append
    out.extend([BANNER, "", '#include "x86_encoder/generated_tables.hpp"', ""])
    w("namespace x86_encoder::tables {")
    w("")
    w("const std::array<std::string_view, kMnemonicCount> x86_mnemonic_names{")
    w(join_lines([f'"{m["name"]}"' for m in ctx["mnemonics"]], 8))
    w("};")
    w("")
    w("const std::array<MnemonicIndexRow, kMnemonicCount> x86_mnemonic_index{{")
    index_rows = []
    for opcode, m in enumerate(ctx["mnemonics"]):
        first = "0xFFFFFFFFu" if m["count"] == 0 else f"{m['first']}u"
        index_rows.append(f"{{{first}, {opcode}, {m['count']}}}")
    w(join_lines(index_rows, 6))
    w("}};")
    w("")
    w("const std::array<TemplateRow, kTemplateCount> x86_templates{{")
    w("    // program offset, opcode, operand class rows, decorator rows, program length,")
    w("    // flag row, operand count, jump class; rows whose database line the")
    w("    // generator corrects say how")
    for row, t in enumerate(ctx["templates"]):
        ops = ", ".join(map(str, t["operands"]))
        decos = ", ".join(map(str, t["decorators"]))
        changes = ctx["corrections"].get(row)
        note = f"  // row {row} {ctx['mnemonics'][t['mnemonic']]['name']}: {'; '.join(changes)}" if changes else ""
        w(f"    {{{t['offset']}, {t['mnemonic']}, {{{ops}}}, {{{decos}}}, {len(t['program'])}, {t['iflags']}, "
          f"{t['opcount']}, 0{t['program'][0]:o}}},{note}")
    w("}};")
    w("")
    w("const std::array<TemplateTraits, kTemplateCount> x86_template_traits{{")
    w("    // exact operand sizes, fixed address bits, overridable, superseded")
    for traits in ctx["template_traits"]:
        w(f"    {{{traits['exact_sizes']:#x}, {traits['fixed_address_bits']}, "
          f"{'true' if traits['overridable'] else 'false'}, {'true' if traits['superseded'] else 'false'}}},")
    w("}};")
    w("")
    w("const std::array<TemplateFilter, kTemplateCount> x86_template_filters{{")
    w("    // class demands per slot, exact size bits, operand count")
    for f in ctx["template_filters"]:
        demands = ", ".join(f"{d:#x}" for d in f["demands"])
        w(f"    {{{{{demands}}}, {f['sizes']:#x}, {f['count']}}},")
    w("}};")
    w("")
    index = ctx["shape_index"]
    w("const std::array<std::uint64_t, kShapeCount> x86_operand_shapes{")
    w(join_lines([f"{x:#x}" for x in ctx["operand_shapes"]], 6))
    w("};")
    w("")
    w("const std::array<std::uint8_t, std::size_t{1} << kShapeHashBits> x86_shape_slots{")
    w(join_lines([str(x) for x in ctx["shape_hash"][1]], 16))
    w("};")
    w("")
    w("const std::array<ShapeGroupRange, kMnemonicCount> x86_shape_group_ranges{{")
    w(join_lines([f"{{{first}, {count}}}" for first, count in index["ranges"]], 8))
    w("}};")
    w("")
    w("const std::array<ShapeGroup, kShapeGroupCount> x86_shape_groups{{")
    w("    // first position in the pool, key (operand count, then the first operands' shapes), count")
    w(join_lines([f"{{{first}, {key:#x}, {count}}}" for key, first, count in index["groups"]], 5))
    w("}};")
    w("")
    w("const std::array<std::uint8_t, kShapePoolSize> x86_shape_positions{")
    w(join_lines([str(x) for x in index["pool"]], 16))
    w("};")
    w("")
    w("const std::array<RegisterRow, kRegisterCount> x86_registers{{")
    for r in ctx["registers"]:
        w(f'    {{{register_key(r["name"]):#x}, {r["flags"]:#x}, {r["number"]}, {r["id"]}, "{r["tag"]}", "{r["name"]}"}},')
    w("}};")
    w("")
    w("const std::array<OperandQualifier, kQualifierCount> x86_operand_qualifiers{{")
    for word, flag in QUALIFIERS:
        w(f'    {{"{word}", {flag:#x}}},')
    w("}};")
    w("")
    w("const std::array<std::uint32_t, kIflagRowCount> x86_iflag_extra_words{")
    w(join_lines([f"{x:#x}" for x in ctx["extra_words"]], 12))
    w("};")
    w("")
    w("const std::array<std::uint16_t, kMnemonicHashSlots> x86_mnemonic_hash_slots{")
    w(join_lines([str(x) for x in ctx["mnemonic_slots"]], 16))
    w("};")
    w("")
    w("const std::array<std::uint16_t, kRegisterHashSlots> x86_register_key_slots{")
    w(join_lines([str(x) for x in ctx["register_slots"]], 16))
    w("};")
    w("")
    w("const std::array<std::uint16_t, kMnemonicKeySlots> x86_mnemonic_key_slots{")
    w(join_lines([str(x) for x in ctx["mnemonic_key_slots"]], 16))
    w("};")
    w("")
    w("const std::array<std::uint64_t, kMnemonicCount> x86_mnemonic_keys{")
    w(join_lines([f"{mnemonic_key(m['name']):#x}" for m in ctx["mnemonics"]], 4))
    w("};")
    w("")
    w("}  // namespace x86_encoder::tables")
    w("")
    w("namespace x86_encoder::generated_match_tables {")
    w("")
    w("const std::array<std::uint8_t, tables::kBytecodeBytes> bytecodes{")
    w(join_lines([f"0{b:o}" if b else "0" for b in ctx["pool"]], 16))
    w("};")
    w("")
    w("const std::array<IflagRow, tables::kIflagRowCount> iflag_fields{{")
    for words in ctx["iflag_words"]:
        w("    {" + ", ".join(f"{x:#010x}" for x in words) + "},")
    w("}};")
    w("")
    w("const std::array<std::uint64_t, tables::kOperandPoolSize> operand_flags_pool{")
    w(join_lines([f"{x:#x}" for x in ctx["operand_words"]], 6))
    w("};")
    w("")
    w("const std::array<std::uint16_t, tables::kDecoratorPoolSize> decorator_flags_pool{")
    w(join_lines([f"{x:#x}" for x in ctx["decorator_words"]], 8))
    w("};")
    w("")
    w("}  // namespace x86_encoder::generated_match_tables")


def generate(data_dir):
    registers = load_registers(data_dir)
    mnemonics = load_mnemonics(data_dir)
    iflag_words, bit_of = load_iflags(data_dir)
    templates, operand_words, decorator_words = load_templates(data_dir, mnemonics, len(iflag_words))
    check_template_runs(mnemonics, templates)
    rows_by_word = {}
    for row, word in enumerate(operand_words):
        rows_by_word.setdefault(word, row)
    corrections = {}
    for row, change in (correct_opcode_copies(templates, mnemonics)
                        + correct_broadcast_sizes(templates, decorator_words)
                        + correct_tuples(templates, operand_words, decorator_words)
                        + keep_register_sizes(templates, mnemonics, operand_words, rows_by_word)):
        corrections.setdefault(row, []).append(change)
    pool = build_bytecode_pool(templates)
    named_mnemonics, reserve = mnemonic_constants(mnemonics)
    mnemonic_slots = build_hash_slots([name_hash(m["name"]) for m in mnemonics], MNEMONIC_SLOTS)
    register_slots = build_hash_slots([register_key_slot(register_key(r["name"])) for r in registers], REGISTER_SLOTS)
    short_mnemonics = [(row, mnemonic_key(m["name"])) for row, m in enumerate(mnemonics) if mnemonic_key(m["name"])]
    mnemonic_key_slots = [0] * MNEMONIC_KEY_SLOTS
    placed = build_hash_slots([register_key_slot(key, MNEMONIC_KEY_SLOTS) for _, key in short_mnemonics],
                              MNEMONIC_KEY_SLOTS)
    for slot, entry in enumerate(placed):
        if entry:
            mnemonic_key_slots[slot] = short_mnemonics[entry - 1][0] + 1
    traits = template_traits(templates, iflag_words, bit_of, operand_words)
    filters = template_filters(templates, operand_words, traits)
    shapes = operand_shapes(registers)
    require(max(m["count"] for m in mnemonics) <= 256, "a mnemonic has more templates than a shape group can name")
    return {
        "registers": registers, "mnemonics": mnemonics, "templates": templates, "pool": pool,
        "corrections": corrections,
        "iflag_words": iflag_words, "bit_of": bit_of, "operand_words": operand_words,
        "decorator_words": decorator_words, "extra_words": extra_words(iflag_words, bit_of),
        "row_constants": derive_row_constants(mnemonics, templates, iflag_words, bit_of, operand_words,
                                              decorator_words),
        "named_mnemonics": named_mnemonics, "reserve": reserve,
        "template_traits": traits, "template_filters": filters,
        "operand_shapes": shapes, "shape_hash": shape_hash(shapes), "shape_index": shape_index(mnemonics, filters, shapes),
        "mnemonic_slots": mnemonic_slots, "register_slots": register_slots,
        "mnemonic_key_slots": mnemonic_key_slots,
    }


def main(argv):
    return run(argv, "gen_x86_tables", __doc__.splitlines()[0], "folder holding the x86 .tsv dumps", generate,
               emit_source, emit_header)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
