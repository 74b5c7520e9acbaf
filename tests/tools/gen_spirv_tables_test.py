#!/usr/bin/env python3
"""Runs the SPIR-V table generator on altered copies of the grammar and checks
that every drift it must catch fails the build with a message naming it."""

import json
import os
import sys
import unittest

from generator_case import GeneratorCase

CORE = "spirv.core.grammar.json"
GLSL = "extinst.glsl.std.450.grammar.json"
FILES = [CORE, GLSL, "extinst.opencl.std.100.grammar.json", "extinst.opencl.debuginfo.100.grammar.json",
         "extinst.nonsemantic.shader.debuginfo.100.grammar.json"]


def instruction(grammar, name):
    return next(entry for entry in grammar["instructions"] if entry["opname"] == name)


def kind(grammar, name):
    return next(entry for entry in grammar["operand_kinds"] if entry["kind"] == name)


def drop_instruction(name):
    def change(grammar):
        grammar["instructions"].remove(instruction(grammar, name))
    return change


def swap_first_instructions(grammar):
    rows = grammar["instructions"]
    rows[0], rows[1] = rows[1], rows[0]


def rename_kind(old, new):
    def change(grammar):
        kind(grammar, old)["kind"] = new
        for entry in grammar["instructions"]:
            for operand in entry.get("operands", []):
                if operand["kind"] == old:
                    operand["kind"] = new
    return change


def add_enumerant_alias(grammar):
    kind(grammar, "Capability")["enumerants"][0].setdefault("aliases", []).append("MatrixAgain")


def set_enumerant_value(kind_name, name, value):
    def change(grammar):
        entry = next(e for e in kind(grammar, kind_name)["enumerants"] if e["enumerant"] == name)
        entry["value"] = value
    return change


def make_load_access_variadic(grammar):
    instruction(grammar, "OpLoad")["operands"][-1]["quantifier"] = "*"


def move_variadic_first(grammar):
    operands = instruction(grammar, "OpPhi")["operands"]
    operands.insert(0, operands.pop())


def retype_switch_pairs(grammar):
    instruction(grammar, "OpSwitch")["operands"][-1]["kind"] = "PairIdRefLiteralInteger"


def add_literal_kind(grammar):
    kind(grammar, "LiteralFloat")["kind"] = "LiteralHalf"


# (file, change, fragments the failure message must hold)
GRAMMAR_EDITS = [
    (CORE, drop_instruction("OpNop"), ["872 instructions, expected 873"]),
    (CORE, swap_first_instructions, ["is not in opcode order"]),
    (CORE, rename_kind("IdRef", "IdReference"), ["operand kind IdRef must be number 32"]),
    (CORE, add_enumerant_alias, ["1313 enumerants, expected 1312"]),
    (CORE, set_enumerant_value("FPEncoding", "BFloat16KHR", 1), ["FPEncoding BFloat16KHR must have value 0"]),
    (CORE, make_load_access_variadic, ["quantifier counts (3541, 98, 54)"]),
    (CORE, move_variadic_first, ["OpPhi: a variadic operand is not last"]),
    (CORE, retype_switch_pairs, ["OpSwitch must have number 251"]),
    (CORE, add_literal_kind, ["literal operand kind LiteralHalf is not known"]),
    (GLSL, drop_instruction("NClamp"), [GLSL, "80 instructions, expected 81"]),
]


class GeneratorTest(GeneratorCase):
    FILES = FILES

    def alter(self, name, change):
        path = os.path.join(self.data, name)
        with open(path, encoding="utf-8") as handle:
            grammar = json.load(handle)
        change(grammar)
        with open(path, "w", encoding="utf-8") as handle:
            json.dump(grammar, handle)

    def test_unchanged_data_generates_both_files(self):
        result = self.run_generator()
        self.assertEqual(result.returncode, 0, result.stderr)
        header = self.generated("generated_tables.hpp")
        self.assertIn("inline constexpr std::size_t kEnumerantCount = 1312;", header)
        self.assertIn("  IdResultType = 34,", header)
        source = self.generated("generated_tables.cpp")
        self.assertIn('{"OpFDot4MixAcc32VALVE", 6918u,', source)

    def test_single_grammar_drift(self):
        for name, change, fragments in GRAMMAR_EDITS:
            with self.subTest(file=name, fragments=fragments):
                self.alter(name, change)
                self.assert_fails(*fragments)
                self.restore(name)

    def test_missing_file(self):
        os.remove(os.path.join(self.data, GLSL))
        self.assert_fails("cannot read", GLSL)

    def test_text_that_is_not_json(self):
        with open(os.path.join(self.data, CORE), "a", encoding="utf-8") as handle:
            handle.write("}")
        self.assert_fails(f"{CORE}: not a JSON grammar")


if __name__ == "__main__":
    GeneratorCase.GENERATOR, GeneratorCase.DATA_DIR = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
