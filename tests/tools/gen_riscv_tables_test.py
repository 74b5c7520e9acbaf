#!/usr/bin/env python3
"""Runs the RISC-V table generator on altered copies of the riscv-opcodes data
and checks that every drift it must catch fails with a message naming it."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

GENERATOR = None
DATA_DIR = None

# (file under the data folder, old text, new text, fragments the failure message must hold)
TEXT_EDITS = [
    ("extensions/rv_i", "addi    rd rs1 imm12           14..12=0",
     "addi    rd rs1 imm12           14..12=1", ["row addi is", "match 0x00001013", "expected rv_i"]),
    ("extensions/rv_i", "neg rd rs2 31..25=32 19..15=0x0 14..12=0", "neg rd rs2 31..25=32 19..15=0x0 14..12=1",
     ["row neg is", "match 0x40001033"]),
    ("extensions/rv64_i", "ld      rd rs1       imm12 14..12=3", "ld      rd rs1       imm12 14..12=7",
     ["ld_pseudo is defined twice"]),
    ("extensions/rv_zicsr", "csrrw     rd rs1 csr", "csrrw     rd rs1 rs2 31..25=0", ["kind 7 has 465 rows"]),
    ("extensions/rv_c", "c.lui rd_n2 c_nzimm18hi c_nzimm18lo", "c.lui rd_n2 c_nzimm18hi",
     ["do not cover 16 bits"]),
    ("extensions/rv_i", "fence fm pred", "fence 31..28=0 pred", ["fence: no operand-syntax kind"]),
    ("extensions/rv_zicsr", "csrrw     rd rs1 csr", "csrrw     rd rs1 csrx", ["unknown field csrx"]),
    ("arg_lut.csv", '"rs1", 19, 15', '"rs1", 19, 16', ["do not cover 32 bits"]),
    ("extensions/rv_m", "mul     rd rs1 rs2 31..25=1 14..12=0", "mul     rd rs1 rs2 31..25=1 14..12=9",
     ["bad bit range 14..12=9"]),
]


class GeneratorTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="gen_riscv_tables_")
        self.data = os.path.join(self.work, "data")
        self.out = os.path.join(self.work, "out")
        shutil.copytree(DATA_DIR, self.data)

    def tearDown(self):
        shutil.rmtree(self.work)

    def replace(self, name, old, new):
        path = os.path.join(self.data, name)
        with open(path, encoding="ascii") as handle:
            text = handle.read()
        self.assertIn(old, text, f"{name} no longer holds the text the test alters")
        with open(path, "w", encoding="ascii", newline="\n") as handle:
            handle.write(text.replace(old, new, 1))

    def run_generator(self):
        return subprocess.run([sys.executable, GENERATOR, "--data-dir", self.data, "--out-dir", self.out],
                              capture_output=True, text=True, check=False)

    def assert_fails(self, *fragments):
        result = self.run_generator()
        self.assertEqual(result.returncode, 1, result.stderr)
        for fragment in fragments:
            self.assertIn(fragment, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.out, "generated_tables.cpp")))

    def test_unchanged_data_generates_both_files(self):
        result = self.run_generator()
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.out, "generated_tables.cpp"), encoding="ascii") as handle:
            source = handle.read()
        self.assertIn('{"slli", "slli_rv32", "rv32_i", ', source)
        self.assertTrue(os.path.exists(os.path.join(self.out, "generated_tables.hpp")))

    def test_single_text_drift(self):
        for name, old, new, fragments in TEXT_EDITS:
            with self.subTest(file=name, old=old):
                original = os.path.join(DATA_DIR, name)
                self.replace(name, old, new)
                try:
                    self.assert_fails(*fragments)
                finally:
                    shutil.copy(original, os.path.join(self.data, name))

    def test_missing_extension_file(self):
        os.remove(os.path.join(self.data, "extensions", "rv_zicond"))
        self.assert_fails("113 extension files, expected 114")

    def test_extra_row(self):
        with open(os.path.join(self.data, "extensions", "rv_i"), "a", encoding="ascii") as handle:
            handle.write("frob rd rs1 rs2 31..25=5 14..12=0 6..2=0x0C 1..0=3\n")
        self.assert_fails("1701 rows, expected 1700")

    def test_missing_field_table(self):
        os.remove(os.path.join(self.data, "arg_lut.csv"))
        self.assert_fails("cannot read", "arg_lut.csv")

    def test_text_that_is_not_ascii(self):
        with open(os.path.join(self.data, "extensions", "rv_m"), "ab") as handle:
            handle.write("# m\u00fcl\n".encode("utf-8"))
        self.assert_fails("rv_m: not ASCII text")


if __name__ == "__main__":
    GENERATOR, DATA_DIR = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
