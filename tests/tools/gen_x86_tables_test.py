#!/usr/bin/env python3
"""Runs the x86 table generator on altered copies of the data and checks that
every drift it must catch fails the build with a message naming it."""

import os
import re
import sys
import unittest

from generator_case import GeneratorCase

# (file, data row, column, new text, fragments the failure message must hold)
FIELD_EDITS = [
    ("registers.tsv", 98, 4, "2", ["k1 must have id 99, number 1"]),
    ("registers.tsv", 46, 2, "cz", ["cs must have id 47"]),
    ("registers.tsv", 3, 3, "1" + "0" * 16, ["registers.tsv flags", "does not fit 64 bits"]),
    ("registers.tsv", 5, 1, 'R_"X', ["bad register tag"]),
    ("mnemonics.tsv", 0, 1, "dbx", ["row 0 must be db"]),
    ("mnemonics.tsv", 20, 3, "83", ["movabs starts at template 103, expected 102"]),
    ("mnemonics.tsv", 20, 1, "mov_renamed", ["mov must be opcode 20 with 84 templates from 19"]),
    ("mnemonics.tsv", 2638, 1, "hint_nop64", ["must be hint_nop63"]),
    ("iflags.tsv", 0, 8, "PSEUDO,JMP_RELAX", ["iflags.tsv row 0", "names for"]),
    ("iflags.tsv", 1, 0, "7", ["iflags.tsv: line 3 has row '7', expected 1"]),
    ("templates.tsv", 5, 14, "73482", ["templates.tsv row 5", "leaves the 73483-byte pool"]),
    ("templates.tsv", 7, 3, "40003", ["has two values"]),
    ("templates.tsv", 9, 2, "5", ["operand count 5"]),
    ("templates.tsv", 11, 13, "654", ["flag row 654 out of range"]),
    ("templates.tsv", 12, 15, "340 001", ["malformed program"]),
    ("templates.tsv", 12, 15, "320 -1 000", ["templates.tsv row 12", "program byte -1 is outside 0-0377"]),
    ("registers.tsv", 1, 2, "ah", ["register name ah appears twice"]),
    ("registers.tsv", 217, 3, "250800001", ["segr6 lacks the segment register class"]),
    ("registers.tsv", 46, 3, "250140201", ["cs must be segment register 1 with subclass bits 0x180000"]),
]


def edit_line(text, row, edit):
    """Applies edit to the tab-split fields of data row `row` (header excluded)."""
    lines = text.split("\n")
    fields = lines[row + 1].split("\t")
    edit(fields)
    lines[row + 1] = "\t".join(fields)
    return "\n".join(lines)


def set_field(column, value):
    def edit(fields):
        fields[column] = value
    return edit


class GeneratorTest(GeneratorCase):
    FILES = ["mnemonics.tsv", "templates.tsv", "iflags.tsv", "registers.tsv"]

    def alter(self, name, change):
        path = os.path.join(self.data, name)
        with open(path, encoding="ascii") as handle:
            text = handle.read()
        with open(path, "w", encoding="ascii", newline="\n") as handle:
            handle.write(change(text))

    def test_unchanged_data_generates_both_files(self):
        result = self.run_generator()
        self.assertEqual(result.returncode, 0, result.stderr)
        header = self.generated("generated_tables.hpp")
        self.assertIn("inline constexpr RowRange kLock1IflagRows{181, 183};", header)
        self.assertIn("inline constexpr std::uint32_t kMovSdwordTemplate = 36;", header)
        self.assertTrue(os.path.exists(os.path.join(self.out, "generated_tables.cpp")))

    def test_rows_that_contradict_their_own_family_are_corrected_and_listed(self):
        result = self.run_generator()
        self.assertEqual(result.returncode, 0, result.stderr)
        listed = {}
        for row, name, changes in re.findall(r"// row (\d+) (\w+): (.*)", self.generated("generated_tables.cpp")):
            for change in changes.split("; "):
                listed.setdefault(change.split(" ")[0], set()).add((int(row), name, change))
        untagged = {(row, name, "tuple none -> full vector")
                    for row, name in [(9351, "vsm4key4"), (9352, "vsm4key4"), (9353, "vsm4key4"),
                                      (9356, "vsm4rnds4"), (9357, "vsm4rnds4"), (9358, "vsm4rnds4")]}
        self.assertEqual({entry for entry in listed["tuple"] if "none" in entry[2]}, untagged)
        self.assertEqual(listed["broadcast"], {(row, "vcvtuqq2ph", "broadcast 32-bit -> 64-bit")
                                               for row in (11588, 11589, 11590)})
        self.assertEqual(listed["opcode"],
                         {(row, "vmaxph", "opcode 57 -> 5f") for row in range(11791, 11797)}
                         | {(11798, "vmaxsh", "opcode 57 -> 5f"), (11799, "vmaxsh", "opcode 57 -> 5f"),
                            (11819, "vmovsh", "opcode 11 -> 10"), (11820, "vmovsh", "opcode 11 -> 10")})

    def test_missing_register_row(self):
        self.alter("registers.tsv", lambda text: text[:text.rstrip("\n").rfind("\n") + 1])
        self.assert_fails("registers.tsv", "343 registers, expected 344")

    def test_single_field_drift(self):
        for name, row, column, value, fragments in FIELD_EDITS:
            with self.subTest(file=name, row=row, column=column):
                self.restore(name)
                self.alter(name, lambda text: edit_line(text, row, set_field(column, value)))
                self.assert_fails(*fragments)
                self.restore(name)

    def test_register_rows_out_of_name_order(self):
        def swap_first_two(text):
            lines = text.split("\n")
            first, second = lines[1].split("\t"), lines[2].split("\t")
            first[1:5], second[1:5] = second[1:5], first[1:5]
            lines[1], lines[2] = "\t".join(first), "\t".join(second)
            return "\n".join(lines)
        self.alter("registers.tsv", swap_first_two)
        self.assert_fails("registers.tsv: rows are not sorted by name: ah (id 2) follows al")

    def test_marker_flags_missing(self):
        for flag in ("NF_E", "ZU_E"):
            with self.subTest(flag=flag):
                self.restore("iflags.tsv")
                self.alter("iflags.tsv", lambda text: text.replace(f",{flag},", ",RENAMED,"))
                self.assert_fails(f"iflags.tsv: no flag row has {flag}")

    def test_lock1_on_another_row(self):
        def add_lock1(fields):
            # LOCK1 is bit 43: bit 11 of word 1; row 0 holds only PSEUDO (bit 24).
            fields[2] = f"{int(fields[2], 16) | 1 << 11:08x}"
            fields[8] = "PSEUDO,LOCK1"
        self.alter("iflags.tsv", lambda text: edit_line(text, 0, add_lock1))
        self.assert_fails("LOCK1 flag rows", "181-183")

    def test_program_clashes_with_shared_pool_bytes(self):
        def clash(fields):
            codes = fields[15].split()
            codes[0] = "001" if codes[0] != "001" else "002"
            fields[15] = " ".join(codes)
        self.alter("templates.tsv", lambda text: edit_line(text, 0, clash))
        self.assert_fails("templates.tsv row", "shared pool byte")

    def test_broadcast_no_tuple_can_scale(self):
        def broadcast_scalar(fields):
            # vsqrtsh's 16-bit scalar operand given vaddph's 16-bit broadcast:
            # no tuple reads two bytes both with and without the broadcast
            # at a 128-bit length.
            fields[10], fields[17] = "260", "MASK|Z,0,B16|ER,0,0"
        self.alter("templates.tsv", lambda text: edit_line(text, 11864, broadcast_scalar))
        self.assert_fails("templates.tsv row 11864", "no tuple type gives N=2 and a broadcast N=2")

    def test_missing_column(self):
        self.alter("templates.tsv", lambda text: text.replace("pool_offset", "offset", 1))
        self.assert_fails("templates.tsv: missing columns pool_offset")

    def test_missing_file(self):
        os.remove(os.path.join(self.data, "iflags.tsv"))
        self.assert_fails("cannot read", "iflags.tsv")

    def test_text_that_is_not_ascii(self):
        self.alter("mnemonics.tsv", lambda text: text)
        with open(os.path.join(self.data, "mnemonics.tsv"), "ab") as handle:
            handle.write("2639\tm\u00f6v\t-1\t0\n".encode("utf-8"))
        self.assert_fails("mnemonics.tsv: not ASCII text")


if __name__ == "__main__":
    GeneratorCase.GENERATOR, GeneratorCase.DATA_DIR = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
