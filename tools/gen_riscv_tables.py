#!/usr/bin/env python3
"""Compiles the riscv-opcodes database into the C++ RISC-V instruction table.

Reads the extension files and arg_lut.csv from the data folder the way the
database's own tooling reads them with pseudo-ops included, classifies every
row by the shape of its operand text and writes generated_tables.hpp /
generated_tables.cpp into the output folder. The counts and the rows that the
encoder relies on are checked here, so data that drifted fails the build.
"""

import argparse
import collections
import os
import re
import sys

from table_codegen import DataError, build_hash_slots, join_lines, require, write_file

ROW_COUNT = 1700
COMPRESSED_ROWS = 80
XLEN_RANGE_ROWS = {(32, 64): 1096, (32, 32): 337, (64, 64): 267}
TAG_COUNT = 114
FIELD_LIST_COUNT = 133
FIELD_NAME_COUNT = 95

# Field positions that the database's tooling defines in code, not in arg_lut.csv.
BUILTIN_FIELDS = {
    "c_mop_t": (10, 8), "mop_r_t_30": (30, 30), "mop_r_t_27_26": (27, 26), "mop_r_t_21_20": (21, 20),
    "mop_rr_t_30": (30, 30), "mop_rr_t_27_26": (27, 26),
}

# The compressed shifts keep only their RV64 row; RV32 code uses the *_rv32 rows.
RV64_ONLY_SPLITS = {"c_slli", "c_srli", "c_srai"}

# Operand-syntax kind by the set of field names. Families whose width varies
# (p_w_uimm3..6, p_imm8/10) are folded to one name first.
KIND_BY_FIELDS = {
    (): 1, ("rd",): 2, ("rd_n0",): 3, ("rs1",): 4, ("rd", "rs1"): 5, ("rd", "rs1", "rs2=rs1"): 5,
    ("rd", "rs2"): 6, ("rd", "rs1", "rs2"): 7, ("imm12", "rd", "rs1"): 8,
    ("rd", "rs1", "shamtw"): 10, ("rd", "rs1", "shamtd"): 10, ("csr", "rd", "rs1"): 11,
    ("csr", "rd", "zimm5"): 12, ("csr", "rd"): 13, ("csr", "rs1"): 14, ("csr", "zimm5"): 15,
    ("rd", "zimm5"): 16, ("rd", "rm", "rs1"): 17, ("rd", "rm", "rs1", "rs2"): 18,
    ("rd", "rm", "rs1", "rs2", "rs3"): 19, ("bs", "rd", "rs1", "rs2"): 20, ("rd", "rnum", "rs1"): 21,
    ("p_w_uimm", "rd", "rs1"): 22, ("p_imm", "rd"): 23, ("rd", "rl", "rs1"): 24, ("aq", "rs1", "rs2"): 25,
    ("imm12hi", "imm12lo", "rs1", "rs2"): 26, ("rs1", "rs2"): 27, ("bimm12hi", "bimm12lo", "rs1", "rs2"): 28,
    ("bimm12hi", "bimm12lo", "rs1"): 29, ("bimm12hi", "bimm12lo", "rs2"): 31,
    ("imm12hi", "imm12lo", "imm5", "rs1"): 32, ("imm20", "rd"): 33, ("imm20",): 34, ("jimm20", "rd"): 35,
    ("jimm20",): 36, ("fm", "pred", "rd", "rs1", "succ"): 37, ("aq", "rd", "rl", "rs1", "rs2"): 38,
    ("aq", "rd", "rl", "rs1"): 39, ("vd", "vm", "vs1", "vs2"): 41, ("rs1", "vd", "vm", "vs2"): 42,
    ("vd", "vm", "vs2"): 43, ("rs1", "vd"): 44, ("vd", "vs1", "vs2"): 45, ("vd", "vs2"): 46,
    ("simm5", "vd", "vm", "vs2"): 47, ("vd", "vm", "vs2", "zimm5"): 48, ("simm5", "vd", "vs2"): 49,
    ("vd", "vs2", "zimm5"): 50, ("rd", "vm", "vs2"): 51, ("rd", "vs2"): 52, ("rd", "rs1", "zimm11"): 53,
    ("rd", "zimm10", "zimm5"): 54, ("vd", "vm"): 55, ("vd", "vs1"): 56, ("simm5", "vd"): 57,
    ("nf", "rs1", "vd", "vm"): 58, ("nf", "rs1", "vm", "vs3"): 59, ("nf", "rs1", "vd", "vm", "vs2"): 60,
    ("nf", "rs1", "vm", "vs2", "vs3"): 61, ("nf", "rs1", "rs2", "vd", "vm"): 62,
    ("nf", "rs1", "rs2", "vm", "vs3"): 63, ("rs1", "vs3"): 64, ("rs1", "vd", "vs2"): 65,
    ("vd", "vm", "vs2", "zimm6hi", "zimm6lo"): 66, ("c_nzimm6hi", "c_nzimm6lo"): 67, ("c_mop_t",): 68,
    ("c_rs1_n0",): 69, ("rs1_n0",): 69, ("rd_rs1_p",): 70, ("rd_rs1_n0",): 70,
    ("c_rs2_n0", "rd_rs1_n0"): 71, ("c_rs2_n0", "rd_n0"): 71, ("rd_rs1_p", "rs2_p"): 72,
    ("c_nzimm6hi", "c_nzimm6lo", "rd_rs1_n0"): 73, ("c_imm6hi", "c_imm6lo", "rd_rs1_n0"): 73,
    ("c_imm6hi", "c_imm6lo", "rd_n0"): 73, ("c_imm6hi", "c_imm6lo", "rd_rs1_p"): 73,
    ("c_nzuimm6hi", "c_nzuimm6lo", "rd_rs1_p"): 75, ("c_nzuimm6hi", "c_nzuimm6lo", "rd_rs1_n0"): 75,
    ("c_nzuimm6lo", "rd_rs1_n0"): 75, ("c_nzuimm5", "rd_rs1_p"): 75,
    ("c_uimm1", "rd_p", "rs1_p"): 76, ("c_uimm2", "rd_p", "rs1_p"): 76,
    ("c_uimm7hi", "c_uimm7lo", "rd_p", "rs1_p"): 76, ("c_uimm8hi", "c_uimm8lo", "rd_p", "rs1_p"): 76,
    ("c_uimm1", "rs1_p", "rs2_p"): 77, ("c_uimm2", "rs1_p", "rs2_p"): 77,
    ("c_uimm7hi", "c_uimm7lo", "rs1_p", "rs2_p"): 77, ("c_uimm8hi", "c_uimm8lo", "rs1_p", "rs2_p"): 77,
    ("c_uimm8sphi", "c_uimm8splo", "rd"): 78, ("c_uimm8sphi", "c_uimm8splo", "rd_n0"): 78,
    ("c_uimm9sphi", "c_uimm9splo", "rd"): 78, ("c_uimm9sphi", "c_uimm9splo", "rd_n0"): 78,
    ("c_rs2", "c_uimm8sp_s"): 79, ("c_rs2", "c_uimm9sp_s"): 79, ("c_imm12",): 80,
    ("c_bimm9hi", "c_bimm9lo", "rs1_p"): 81, ("c_nzimm10hi", "c_nzimm10lo"): 82,
    ("c_nzimm18hi", "c_nzimm18lo", "rd_n2"): 83, ("c_nzuimm10", "rd_p"): 84, ("c_rlist", "c_spimm"): 85,
    ("c_sreg1", "c_sreg2"): 86, ("c_index",): 87, ("p_rd_p", "p_rs1_p", "p_rs2_p"): 88,
    ("p_rd_p", "rs1", "rs2"): 89, ("p_rs1_p", "rd", "rs2"): 90, ("p_rd_p", "p_rs1_p", "rs2"): 91,
    ("p_rd_p", "p_rs1_p", "p_w_uimm"): 92, ("p_rs1_p", "p_w_uimm", "rd"): 93, ("p_rd_p", "p_rs1_p"): 94,
    ("p_rd_p", "p_w_uimm", "rs1"): 95, ("p_imm", "p_rd_p"): 96, ("imm12hi", "rs1"): 97,
    ("mop_r_t_21_20", "mop_r_t_27_26", "mop_r_t_30", "rd", "rs1"): 98,
    ("mop_rr_t_27_26", "mop_rr_t_30", "rd", "rs1", "rs2"): 99, ("imm12hi", "imm12lo", "rs1", "rs2_e"): 100,
}

# Rows whose kind is not the one their field set gives (keyed by mnemonic and
# XLEN range where the mnemonic alone is ambiguous).
KIND_EXCEPTIONS = {
    ("fence_i", None): 1, ("fence_tso", None): 1, ("ld", (32, 32)): 9, ("sc_d", None): 40,
    ("sc_w", None): 40, ("bgt", None): 30, ("bgtu", None): 30, ("ble", None): 30, ("bleu", None): 30,
}

# Rows per kind; kind 74 has none.
KIND_ROW_COUNTS = {
    1: 27, 2: 9, 3: 1, 4: 6, 5: 120, 6: 3, 7: 464, 8: 19, 9: 1, 10: 28, 11: 3, 12: 3, 13: 1, 14: 3, 15: 3,
    16: 2, 17: 58, 18: 16, 19: 16, 20: 6, 21: 1, 22: 24, 23: 5, 24: 4, 25: 4, 26: 8, 27: 10, 28: 6, 29: 4,
    30: 4, 31: 2, 32: 2, 33: 2, 34: 1, 35: 1, 36: 2, 37: 1, 38: 43, 39: 2, 40: 2, 41: 139, 42: 115, 43: 50,
    44: 26, 45: 21, 46: 16, 47: 13, 48: 13, 49: 4, 50: 4, 51: 3, 52: 2, 53: 1, 54: 1, 55: 1, 56: 1, 57: 1,
    58: 8, 59: 4, 60: 8, 61: 8, 62: 4, 63: 4, 64: 6, 65: 8, 66: 1, 67: 16, 68: 1, 69: 2, 70: 7, 71: 2, 72: 7,
    73: 4, 75: 6, 76: 7, 77: 6, 78: 4, 79: 4, 80: 2, 81: 2, 82: 1, 83: 1, 84: 1, 85: 4, 86: 2, 87: 1, 88: 75,
    89: 63, 90: 25, 91: 20, 92: 17, 93: 21, 94: 5, 95: 6, 96: 3, 97: 3, 98: 1, 99: 1, 100: 1,
}

# Format class by kind for 32-bit rows (every 16-bit row is class 7).
FORMAT_CLASSES = {0: [7], 1: [8, 9, 10, 97], 2: [26, 100], 3: [28, 29, 30, 31, 32], 4: [33, 34], 5: [35, 36],
                  6: [11, 12, 13, 14, 15], 8: list(range(41, 67))}
OTHER_FORMAT_CLASS = 9
COMPRESSED_FORMAT_CLASS = 7

# Vector multiply-adds write their sources as vd, vs1|rs1, vs2 in assembly,
# the reverse of the field order in the database.
MULTIPLY_ADD_BASES = {
    "vmacc", "vnmsac", "vmadd", "vnmsub", "vwmacc", "vwmaccu", "vwmaccsu", "vwmaccus", "vfmacc", "vfnmacc",
    "vfmsac", "vfnmsac", "vfmadd", "vfnmadd", "vfmsub", "vfnmsub", "vfwmacc", "vfwnmacc", "vfwmsac",
    "vfwnmsac", "vfwmaccbf16",
}
MULTIPLY_ADD_ROWS = 41

# (mnemonic, tag, fields as (name, low bit, width), match, mask, class, kind, width, xlen_min, xlen_max)
TELLING_ROWS = [
    ("add", "rv_i", [("rd", 7, 5), ("rs1", 15, 5), ("rs2", 20, 5)], 0x33, 0xfe00707f, 0, 7, 32, 32, 64),
    ("addi", "rv_i", [("rd", 7, 5), ("rs1", 15, 5), ("imm12", 20, 12)], 0x13, 0x707f, 1, 8, 32, 32, 64),
    ("beq", "rv_i", [("bimm12hi", 25, 7), ("rs1", 15, 5), ("rs2", 20, 5), ("bimm12lo", 7, 5)], 0x63, 0x707f,
     3, 28, 32, 32, 64),
    ("nop", "rv_i", [], 0x13, 0xffffffff, 9, 1, 32, 32, 64),
    ("fence", "rv_i", [("fm", 28, 4), ("pred", 24, 4), ("succ", 20, 4), ("rs1", 15, 5), ("rd", 7, 5)], 0xf,
     0x707f, 9, 37, 32, 32, 64),
    ("vsetvli", "rv_v", [("zimm11", 20, 11), ("rs1", 15, 5), ("rd", 7, 5)], 0x7057, 0x8000707f, 8, 53, 32, 32,
     64),
    ("vle8_v", "rv_v", [("nf", 29, 3), ("vm", 25, 1), ("rs1", 15, 5), ("vd", 7, 5)], 0x7, 0x1df0707f, 8, 58, 32,
     32, 64),
    ("c_addi4spn", "rv_c", [("rd_p", 2, 3), ("c_nzuimm10", 5, 8)], 0x0, 0xe003, 7, 84, 16, 32, 64),
    ("c_slli_rv32", "rv32_c", [("rd_rs1_n0", 7, 5), ("c_nzuimm6lo", 2, 5)], 0x2, 0xf003, 7, 75, 16, 32, 32),
    ("cm_push", "rv_zcmp", [("c_rlist", 4, 4), ("c_spimm", 2, 2)], 0xb802, 0xff03, 7, 85, 16, 32, 64),
    ("mop_r_n", "rv_zimop", [("mop_r_t_30", 30, 1), ("mop_r_t_27_26", 26, 2), ("mop_r_t_21_20", 20, 2),
                             ("rd", 7, 5), ("rs1", 15, 5)], 0x81c04073, 0xb3c0707f, 9, 98, 32, 32, 64),
    ("lb_aq", "rv_zalasr", [("rd", 7, 5), ("rs1", 15, 5), ("rl", 25, 1)], 0x3400002f, 0xfdf0707f, 9, 24, 32,
     32, 64),
    ("neg", "rv_i", [("rd", 7, 5), ("rs2", 20, 5)], 0x40000033, 0xfe0ff07f, 9, 6, 32, 32, 64),
    ("snez", "rv_i", [("rd", 7, 5), ("rs2", 20, 5)], 0x3033, 0xfe0ff07f, 9, 6, 32, 32, 64),
]

# Mnemonics with more than one row: (unique name, tag, XLEN range, kind) in table order.
SHARED_MNEMONICS = {
    "ld": [("ld", "rv32_zilsd", (32, 32), 9), ("ld", "rv64_i", (64, 64), 8)],
    "slli": [("slli_rv32", "rv32_i", (32, 32), 10), ("slli", "rv64_i", (64, 64), 10)],
    "srli": [("srli_rv32", "rv32_i", (32, 32), 10), ("srli", "rv64_i", (64, 64), 10)],
    "srai": [("srai_rv32", "rv32_i", (32, 32), 10), ("srai", "rv64_i", (64, 64), 10)],
}


def read_text(path):
    try:
        with open(path, encoding="ascii") as handle:
            return handle.read()
    except OSError as error:
        raise DataError(f"cannot read {path}: {error.strerror}") from error
    except UnicodeDecodeError as error:
        raise DataError(f"{os.path.basename(path)}: not ASCII text ({error.reason})") from error


def load_field_positions(data_dir):
    positions = dict(BUILTIN_FIELDS)
    for number, line in enumerate(read_text(os.path.join(data_dir, "arg_lut.csv")).splitlines(), 1):
        if not line.strip():
            continue
        match = re.fullmatch(r'\s*"([^"]+)"\s*,\s*(\d+)\s*,\s*(\d+)\s*', line)
        require(match, f"arg_lut.csv line {number}: malformed")
        high, low = int(match[2]), int(match[3])
        require(0 <= low <= high <= 31, f"arg_lut.csv line {number}: bits {high}..{low}")
        positions[match[1]] = (high, low)
    return positions


def extension_files(data_dir):
    files = []
    for folder in ("extensions", os.path.join("extensions", "unratified")):
        path = os.path.join(data_dir, folder)
        require(os.path.isdir(path), f"cannot read {path}: no such folder")
        files.extend((name, os.path.join(path, name)) for name in os.listdir(path)
                     if os.path.isfile(os.path.join(path, name)))
    names = [name for name, _ in files]
    require(len(set(names)) == len(names), "an extension file name appears twice")
    require(len(files) == TAG_COUNT, f"{len(files)} extension files, expected {TAG_COUNT}")
    return sorted(files)


def parse_record(text, tag, positions, where):
    """One encoding line: name, variable fields in order, match and mask."""
    tokens = text.split()
    name = tokens[0].replace(".", "_")
    fixed = [None] * 32
    fields = []
    for token in tokens[1:]:
        bits = re.fullmatch(r"(\d+)(?:\.\.(\d+))?=(\S+)", token)
        if bits:
            high = int(bits[1])
            low = int(bits[2]) if bits[2] is not None else high
            try:
                value = int(bits[3], 0)
            except ValueError as error:
                raise DataError(f"{where}: bad value in {token}") from error
            require(low <= high <= 31 and 0 <= value < 1 << (high - low + 1), f"{where}: bad bit range {token}")
            for bit in range(low, high + 1):
                require(fixed[bit] is None, f"{where}: bit {bit} fixed twice")
                fixed[bit] = value >> (bit - low) & 1
            continue
        # "rs2=rs1" names a field at the position of rs2 that repeats rs1.
        lookup = token.split("=", 1)[0]
        require(lookup in positions, f"{where}: unknown field {token}")
        high, low = positions[lookup]
        fields.append((token, low, high - low + 1))
    match = sum(1 << bit for bit in range(32) if fixed[bit] == 1)
    mask = sum(1 << bit for bit in range(32) if fixed[bit] is not None)
    width = 32 if match & 3 == 3 else 16
    covered = mask
    for field, low, size in fields:
        bits = ((1 << size) - 1) << low
        require(not covered & bits, f"{where}: field {field} overlaps fixed bits or another field")
        covered |= bits
    require(covered == (1 << width) - 1, f"{where}: fields and fixed bits do not cover {width} bits")
    return name, {"fields": fields, "match": match, "mask": mask, "width": width, "tags": [tag], "name": name}


def database_lines(files):
    for tag, path in files:
        for number, raw in enumerate(read_text(path).splitlines(), 1):
            line = raw.split("#", 1)[0].strip()
            if line:
                yield tag, f"{tag} line {number}", line


def read_entries(files, positions):
    """Plain records, then pseudo-ops, then imports, as the database's tooling joins them."""
    entries = {}
    lines = list(database_lines(files))
    for tag, where, line in lines:
        if line.startswith("$"):
            continue
        name, record = parse_record(line, tag, positions, where)
        require(name not in entries, f"{where}: {name} is defined twice")
        entries[name] = record
    for tag, where, line in lines:
        if not line.startswith("$pseudo_op"):
            continue
        parts = line.split(None, 2)
        require(len(parts) == 3 and "::" in parts[1], f"{where}: malformed pseudo-op")
        name, record = parse_record(parts[2], tag, positions, where)
        if name not in entries:
            entries[name] = record
        elif entries[name]["match"] != record["match"]:
            require(name + "_pseudo" not in entries, f"{where}: {name}_pseudo is defined twice")
            entries[name + "_pseudo"] = dict(record, name=name + "_pseudo")
        elif tag not in entries[name]["tags"]:
            entries[name]["tags"].append(tag)
    for tag, where, line in lines:
        if not line.startswith("$import"):
            continue
        parts = line.split()
        require(len(parts) == 2 and "::" in parts[1], f"{where}: malformed import")
        name = parts[1].split("::", 1)[1].replace(".", "_")
        require(name in entries, f"{where}: imports unknown {name}")
        if tag not in entries[name]["tags"]:
            entries[name]["tags"].append(tag)
    return entries


def tag_xlen(tag):
    return 32 if tag.startswith("rv32_") else 64 if tag.startswith("rv64_") else None


def expand_rows(entries):
    """One row per entry, or one per XLEN for entries that joined RV32 and RV64 files."""
    rows = []
    for name, entry in entries.items():
        xlens = {tag_xlen(tag) for tag in entry["tags"]}
        if {32, 64} <= xlens:
            rv32_tag = next(tag for tag in entry["tags"] if tag_xlen(tag) == 32)
            rv64_tag = next(tag for tag in entry["tags"] if tag_xlen(tag) == 64)
            if name not in RV64_ONLY_SPLITS:
                rv32 = entries.get(name + "_rv32", entry)
                rows.append(dict(rv32, mnemonic=name, tag=rv32_tag, xlen=(32, 32)))
            rows.append(dict(entry, mnemonic=name, tag=rv64_tag, xlen=(64, 64)))
            continue
        low = 64 if xlens == {64} else 32
        high = 32 if xlens == {32} else 64
        rows.append(dict(entry, mnemonic=name, tag=entry["tags"][0], xlen=(low, high)))
    for row in rows:
        row["mnemonic"] = row["mnemonic"].lower()
        row["name"] = row["name"].lower()
    rows.sort(key=lambda row: (row["mnemonic"].encode("ascii"), row["xlen"]))
    return rows


def field_family(name):
    for family in ("p_w_uimm", "p_imm"):
        if name.startswith(family):
            return family
    return name


def classify(rows):
    for row in rows:
        key = tuple(sorted(field_family(name) for name, _, _ in row["fields"]))
        kind = KIND_BY_FIELDS.get(key)
        kind = KIND_EXCEPTIONS.get((row["mnemonic"], row["xlen"]), KIND_EXCEPTIONS.get((row["mnemonic"], None), kind))
        require(kind is not None, f"{row['mnemonic']}: no operand-syntax kind for the fields {' '.join(key)}")
        if kind == 1 and row["width"] == 16:
            kind = 67
        if kind == 67 and row["width"] != 16 or kind >= 67 and kind <= 87 and row["width"] != 16:
            raise DataError(f"{row['mnemonic']}: compressed kind {kind} on a 32-bit row")
        row["kind"] = kind
        if row["width"] == 16:
            row["format"] = COMPRESSED_FORMAT_CLASS
        else:
            row["format"] = next((cls for cls, kinds in FORMAT_CLASSES.items() if kind in kinds), OTHER_FORMAT_CLASS)
        base = row["mnemonic"].rsplit("_", 1)[0]
        row["multiply_add"] = base in MULTIPLY_ADD_BASES and kind in (41, 42)


def check(rows):
    require(len(rows) == ROW_COUNT, f"{len(rows)} rows, expected {ROW_COUNT}")
    compressed = sum(row["width"] == 16 for row in rows)
    require(compressed == COMPRESSED_ROWS, f"{compressed} rows of width 16, expected {COMPRESSED_ROWS}")
    ranges = collections.Counter(row["xlen"] for row in rows)
    for xlen, count in XLEN_RANGE_ROWS.items():
        require(ranges[xlen] == count, f"{ranges[xlen]} rows for XLEN {xlen[0]}..{xlen[1]}, expected {count}")
    tags = {row["tag"] for row in rows}
    require(len(tags) == TAG_COUNT, f"{len(tags)} extension tags in use, expected {TAG_COUNT}")
    lists = {tuple(row["fields"]) for row in rows}
    require(len(lists) == FIELD_LIST_COUNT, f"{len(lists)} distinct field lists, expected {FIELD_LIST_COUNT}")
    names = {name for row in rows for name, _, _ in row["fields"]}
    require(len(names) == FIELD_NAME_COUNT, f"{len(names)} field names, expected {FIELD_NAME_COUNT}")
    kinds = collections.Counter(row["kind"] for row in rows)
    for kind in sorted(set(kinds) | set(KIND_ROW_COUNTS)):
        require(kinds[kind] == KIND_ROW_COUNTS.get(kind, 0),
                f"kind {kind} has {kinds[kind]} rows, expected {KIND_ROW_COUNTS.get(kind, 0)}")
    multiply_adds = sum(row["multiply_add"] for row in rows)
    require(multiply_adds == MULTIPLY_ADD_ROWS, f"{multiply_adds} vector multiply-add rows, expected {MULTIPLY_ADD_ROWS}")
    first = {}
    for row in rows:
        first.setdefault(row["mnemonic"], row)
    describe = lambda tag, fields, match, mask, cls, kind, width, xlen: (
        f"{tag} fields {' '.join(f'{n}@{b}+{w}' for n, b, w in fields) or '-'} match {match:#010x} "
        f"mask {mask:#010x} class {cls} kind {kind} width {width} XLEN {xlen[0]}..{xlen[1]}")
    for (mnemonic, tag, fields, match, mask, cls, kind, width, low, high) in TELLING_ROWS:
        row = first.get(mnemonic)
        require(row is not None, f"row {mnemonic} is missing")
        actual = describe(row["tag"], row["fields"], row["match"], row["mask"], row["format"], row["kind"],
                          row["width"], row["xlen"])
        expected = describe(tag, fields, match, mask, cls, kind, width, (low, high))
        require(actual == expected, f"row {mnemonic} is {actual}, expected {expected}")
    by_mnemonic = collections.defaultdict(list)
    for row in rows:
        by_mnemonic[row["mnemonic"]].append((row["name"], row["tag"], row["xlen"], row["kind"]))
    shared = {mnemonic: found for mnemonic, found in by_mnemonic.items() if len(found) > 1}
    require(shared == SHARED_MNEMONICS, f"mnemonics with several rows are {shared}, expected {SHARED_MNEMONICS}")


# --- mnemonic index -------------------------------------------------------------

# The mnemonic hash shared with the C++ lookup: FNV-1a over the bytes, folded;
# linear probing over a power-of-two number of slots.
HASH_BASIS = 2166136261
HASH_PRIME = 16777619
MNEMONIC_SLOTS = 4096


def mnemonic_hash(mnemonic):
    value = HASH_BASIS
    for byte in mnemonic.encode("ascii"):
        value = ((value ^ byte) * HASH_PRIME) & 0xFFFFFFFF
    return value ^ (value >> 16)


def mnemonic_slots(rows):
    """(first row, row count) of each mnemonic at its hash slot, (0, 0) for an
    empty slot; the rows of one mnemonic are adjacent in the sorted table."""
    runs = []
    for index, row in enumerate(rows):
        if runs and rows[runs[-1][0]]["mnemonic"] == row["mnemonic"]:
            runs[-1][1] += 1
        else:
            runs.append([index, 1])
    slots = build_hash_slots([mnemonic_hash(rows[first]["mnemonic"]) for first, _ in runs], MNEMONIC_SLOTS)
    return [tuple(runs[slot - 1]) if slot else (0, 0) for slot in slots]


# --- emission -----------------------------------------------------------------

BANNER = "// Generated by tools/gen_riscv_tables.py from the riscv-opcodes database; do not edit."


def field_list_names(rows):
    names = {}
    for row in rows:
        key = tuple(row["fields"])
        if key and key not in names:
            names[key] = f"fields_{row['tag']}_{row['mnemonic']}_{row['xlen'][0]}_{row['xlen'][1]}"
    return names


def emit_header(out):
    out.extend([
        "#pragma once", BANNER, "", "#include <array>", "#include <cstddef>", "#include <cstdint>", "",
        '#include "riscv_encoder/table_rows.hpp"', "", "namespace riscv_encoder::tables {", "",
        f"inline constexpr std::size_t kInstructionCount = {ROW_COUNT};", "",
        "// Sorted by mnemonic (byte order); rows of one mnemonic by XLEN range.",
        "extern const std::array<RiscvInstructionRow, kInstructionCount> instructions;", "",
        "// Parameters of the mnemonic hash shared with the generator.",
        f"inline constexpr std::uint32_t kMnemonicHashBasis = {HASH_BASIS}u;",
        f"inline constexpr std::uint32_t kMnemonicHashPrime = {HASH_PRIME}u;",
        f"inline constexpr std::size_t kMnemonicSlotCount = {MNEMONIC_SLOTS};", "",
        "// The rows of each mnemonic at the slot of its hash, probed linearly; an",
        "// empty slot has no rows.",
        "extern const std::array<MnemonicRows, kMnemonicSlotCount> mnemonic_slots;", "",
        "}  // namespace riscv_encoder::tables",
    ])


def emit_source(out, rows):
    lists = field_list_names(rows)
    out.extend([BANNER, "", '#include "riscv_encoder/generated_tables.hpp"', "",
                "namespace riscv_encoder::generated_core {", "", "namespace {", ""])
    for fields, name in lists.items():
        specs = ", ".join(f'field("{f}", {low}, {size})' for f, low, size in fields)
        out.append(f"constexpr std::array<RiscvFieldSpec, {len(fields)}> {name}{{{{{specs}}}}};")
    out.extend(["", "}  // namespace", "", "}  // namespace riscv_encoder::generated_core", "",
                "namespace riscv_encoder::tables {", "", "namespace core = generated_core;", "",
                "const std::array<RiscvInstructionRow, kInstructionCount> instructions{{",
                "    // mnemonic, unique name, tag, fields, match, mask, class, kind, width, xlen range, flags"])
    for row in rows:
        key = tuple(row["fields"])
        fields = f"core::{lists[key]}" if key else "{}"
        flags = "kRowMultiplyAdd" if row["multiply_add"] else "0"
        out.append(f'    {{"{row["mnemonic"]}", "{row["name"]}", "{row["tag"]}", {fields}, {row["match"]:#010x}, '
                   f'{row["mask"]:#010x}, {row["format"]}, {row["kind"]}, {row["width"]}, {row["xlen"][0]}, '
                   f'{row["xlen"][1]}, {flags}}},')
    out.extend(["}};", "", "const std::array<MnemonicRows, kMnemonicSlotCount> mnemonic_slots{{"])
    slots = [f"{{{first}, {count}}}" for first, count in mnemonic_slots(rows)]
    out.append(join_lines(slots, 12))
    out.extend(["}};", "", "}  // namespace riscv_encoder::tables"])


def generate(data_dir):
    positions = load_field_positions(data_dir)
    rows = expand_rows(read_entries(extension_files(data_dir), positions))
    classify(rows)
    check(rows)
    return rows


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data-dir", required=True, help="the riscv-opcodes folder")
    parser.add_argument("--out-dir", required=True, help="folder that receives the generated C++ files")
    args = parser.parse_args(argv)
    try:
        rows = generate(args.data_dir)
    except DataError as error:
        print(f"gen_riscv_tables: {error}", file=sys.stderr)
        return 1
    os.makedirs(args.out_dir, exist_ok=True)
    header = []
    emit_header(header)
    source = []
    emit_source(source, rows)
    write_file(os.path.join(args.out_dir, "generated_tables.hpp"), header)
    write_file(os.path.join(args.out_dir, "generated_tables.cpp"), source)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
