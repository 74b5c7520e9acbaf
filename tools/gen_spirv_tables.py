#!/usr/bin/env python3
"""Compiles the Khronos SPIR-V grammar files into C++ tables.

Reads the core grammar and the four extended-instruction grammars from the
data folder and writes generated_tables.hpp / generated_tables.cpp into the
output folder. The counts and the rows the encoder relies on are checked here,
so a grammar revision that drifted fails the build instead of mis-encoding.
"""

import json
import os
import sys

from table_codegen import DataError, build_hash_slots, join_lines, require, run

CORE_FILE = "spirv.core.grammar.json"
# (file, C++ table name, row count, first name and number, last name and number)
EXT_SETS = [
    ("GLSL.std.450", "extinst.glsl.std.450.grammar.json", 81, ("Round", 1), ("NClamp", 81)),
    ("OpenCL.std", "extinst.opencl.std.100.grammar.json", 162, ("acos", 0), ("u_mad_hi", 204)),
    ("OpenCL.DebugInfo.100", "extinst.opencl.debuginfo.100.grammar.json", 37,
     ("DebugInfoNone", 0), ("DebugModuleINTEL", 36)),
    ("NonSemantic.Shader.DebugInfo.100", "extinst.nonsemantic.shader.debuginfo.100.grammar.json", 44,
     ("DebugInfoNone", 0), ("DebugTypeMatrix", 108)),
]

INSTRUCTION_COUNT = 873
OPERAND_KIND_COUNT = 78
ENUMERANT_COUNT = 1312
SPEC_CONSTANT_OP_COUNT = 664
NAMED_KINDS = {"IdRef": 32, "IdResult": 33, "IdResultType": 34}
QUANTIFIERS = {None: 0, "?": 1, "*": 2}
QUANTIFIER_COUNTS = (3541, 99, 53)
TYPED_RESULT_ROWS = 665
UNTYPED_RESULT_ROWS = 61
PARAMETER_COUNTS = {0: 1109, 1: 177, 2: 16, 3: 10}

# Opcodes the module assembly and the operand reader name directly.
NAMED_OPCODES = {
    "OpExtInstImport": 11, "OpExtInst": 12, "OpTypeInt": 21, "OpTypeFloat": 22, "OpConstant": 43,
    "OpSpecConstantOp": 52, "OpSwitch": 251,
}

# Rows whose operand lists the encoder's behaviour depends on:
# (table, name, number, [(kind, quantifier), ...]); table None is the core set.
TELLING_ROWS = [
    (None, "OpSource", 3, [("SourceLanguage", 0), ("LiteralInteger", 0), ("IdRef", 1), ("LiteralString", 1)]),
    (None, "OpExtInstImport", 11, [("IdResult", 0), ("LiteralString", 0)]),
    (None, "OpExtInst", 12, [("IdResultType", 0), ("IdResult", 0), ("IdRef", 0), ("LiteralExtInstInteger", 0),
                             ("IdRef", 2)]),
    (None, "OpTypeInt", 21, [("IdResult", 0), ("LiteralInteger", 0), ("LiteralInteger", 0)]),
    (None, "OpTypeFloat", 22, [("IdResult", 0), ("LiteralInteger", 0), ("FPEncoding", 1)]),
    (None, "OpConstant", 43, [("IdResultType", 0), ("IdResult", 0), ("LiteralContextDependentNumber", 0)]),
    (None, "OpSpecConstantOp", 52, [("IdResultType", 0), ("IdResult", 0), ("LiteralSpecConstantOpInteger", 0)]),
    (None, "OpLoad", 61, [("IdResultType", 0), ("IdResult", 0), ("IdRef", 0), ("MemoryAccess", 1)]),
    (None, "OpPhi", 245, [("IdResultType", 0), ("IdResult", 0), ("PairIdRefIdRef", 2)]),
    (None, "OpSwitch", 251, [("IdRef", 0), ("IdRef", 0), ("PairLiteralIntegerIdRef", 2)]),
    ("constant_op", "ExtInst", 12, [("IdRef", 0), ("LiteralExtInstInteger", 0), ("IdRef", 2)]),
    (2, "DebugSource", 35, [("IdRef", 0), ("IdRef", 1)]),
]

# Enumerants the encoder relies on by value: (kind, name, value).
TELLING_ENUMERANTS = [
    ("FPEncoding", "BFloat16KHR", 0), ("FPEncoding", "Float8E4M3EXT", 4214),
    ("FPEncoding", "Float8E5M2EXT", 4215), ("AddressingModel", "PhysicalStorageBuffer64", 5348),
    ("AddressingModel", "PhysicalStorageBuffer64EXT", 5348),
]

# How the operand reader treats a kind, from the grammar category (and the
# literal kind's name, since the grammar calls all literals "Literal").
CLASS_OF_CATEGORY = {"Id": "id", "BitEnum": "bits", "ValueEnum": "value", "Composite": "pair"}
LITERAL_CLASSES = {
    "LiteralInteger": "integer", "LiteralFloat": "float", "LiteralString": "string",
    "LiteralContextDependentNumber": "context_number", "LiteralExtInstInteger": "ext_inst",
    "LiteralSpecConstantOpInteger": "spec_constant_op",
}
KIND_CLASSES = ["id", "integer", "float", "string", "context_number", "ext_inst", "spec_constant_op", "pair",
                "bits", "value"]

# Name hashing shared with the C++ lookups: FNV-1a over the key's two bytes
# (operand kind or set number) and then the name's bytes, folded; linear probing.
HASH_BASIS = 2166136261
HASH_PRIME = 16777619
INSTRUCTION_SLOTS = 2048
SPEC_CONSTANT_OP_SLOTS = 2048
ENUMERANT_SLOTS = 4096
EXT_INST_SLOTS = 1024


def read_grammar(data_dir, name):
    path = os.path.join(data_dir, name)
    try:
        with open(path, encoding="utf-8") as handle:
            grammar = json.load(handle)
    except OSError as error:
        raise DataError(f"cannot read {path}: {error.strerror}") from error
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        raise DataError(f"{name}: not a JSON grammar ({error})") from error
    require(isinstance(grammar, dict) and isinstance(grammar.get("instructions"), list),
            f"{name}: no instruction list")
    return grammar


def parse_number(value, what):
    if isinstance(value, int) and not isinstance(value, bool):
        number = value
    else:
        try:
            number = int(str(value), 0)
        except ValueError as error:
            raise DataError(f"{what}: {value!r} is not a number") from error
    require(0 <= number <= 0xFFFFFFFF, f"{what}: {value!r} does not fit 32 bits")
    return number


def check_name(name, what):
    require(isinstance(name, str) and name and name.isascii() and name.replace(".", "_").replace("_", "a").isalnum(),
            f"{what}: bad name {name!r}")
    return name


# --- operand kinds and enumerants ----------------------------------------------

def load_kinds(core, ext_grammars):
    """Kind definitions by name; the first grammar that defines a kind wins, so the
    OpenCL debug-info kinds come before the non-semantic ones of the same name."""
    definitions = {}
    for source, grammar in [(CORE_FILE, core)] + ext_grammars:
        for kind in grammar.get("operand_kinds", []):
            name = check_name(kind.get("kind"), f"{source} operand kind")
            definitions.setdefault(name, kind)
    require(len(definitions) == OPERAND_KIND_COUNT,
            f"{len(definitions)} operand kinds, expected {OPERAND_KIND_COUNT}")
    names = sorted(definitions)
    number_of = {name: number for number, name in enumerate(names)}
    for name, number in NAMED_KINDS.items():
        require(number_of.get(name) == number, f"operand kind {name} must be number {number}")
    classes = []
    for name in names:
        category = definitions[name].get("category")
        if category == "Literal":
            require(name in LITERAL_CLASSES, f"literal operand kind {name} is not known to the encoder")
            classes.append(LITERAL_CLASSES[name])
        else:
            require(category in CLASS_OF_CATEGORY, f"operand kind {name} has category {category!r}")
            classes.append(CLASS_OF_CATEGORY[category])
    return names, number_of, definitions, classes


def load_enumerants(names, number_of, definitions, classes):
    enumerants = []
    for kind_number, name in enumerate(names):
        if classes[kind_number] not in ("bits", "value"):
            require(not definitions[name].get("enumerants"), f"operand kind {name} has enumerants")
            continue
        rows = []
        for order, entry in enumerate(definitions[name].get("enumerants", [])):
            value = parse_number(entry.get("value"), f"{name} enumerant value")
            parameters = []
            for parameter in entry.get("parameters", []):
                kind = parameter.get("kind")
                require(kind in number_of, f"{name} enumerant {entry.get('enumerant')!r}: unknown kind {kind!r}")
                parameters.append(number_of[kind])
            require(not parameters or classes[kind_number] != "bits" or value & (value - 1) == 0,
                    f"{name} enumerant {entry.get('enumerant')!r}: mask value {value:#x} with parameters "
                    "is not one bit")
            for alias_order, text in enumerate([entry.get("enumerant")] + list(entry.get("aliases", []))):
                rows.append((value, order, alias_order, {
                    "name": check_name(text, f"{name} enumerant"), "value": value, "kind": kind_number,
                    "parameters": parameters}))
        rows.sort(key=lambda row: row[:3])
        enumerants.extend(row[3] for row in rows)
    require(len(enumerants) == ENUMERANT_COUNT, f"{len(enumerants)} enumerants, expected {ENUMERANT_COUNT}")
    # The encoder finds a mask bit's enumerant by a binary search over (kind, value).
    keys = [(row["kind"], row["value"]) for row in enumerants]
    require(keys == sorted(keys), "enumerants are not ordered by kind and value")
    counts = {}
    for row in enumerants:
        counts[len(row["parameters"])] = counts.get(len(row["parameters"]), 0) + 1
    require(counts == PARAMETER_COUNTS, f"enumerant parameter counts {sorted(counts.items())}, "
            f"expected {sorted(PARAMETER_COUNTS.items())}")
    for kind, name, value in TELLING_ENUMERANTS:
        found = [row for row in enumerants if row["kind"] == number_of[kind] and row["name"] == name]
        require(len(found) == 1 and found[0]["value"] == value, f"enumerant {kind} {name} must have value {value}")
    return enumerants


# --- instructions -----------------------------------------------------------------

def operand_list(entry, number_of, what):
    operands = []
    for position, operand in enumerate(entry.get("operands", [])):
        kind = operand.get("kind")
        require(kind in number_of, f"{what}: unknown operand kind {kind!r}")
        quantifier = operand.get("quantifier")
        require(quantifier in QUANTIFIERS, f"{what}: unknown quantifier {quantifier!r}")
        operands.append((number_of[kind], QUANTIFIERS[quantifier]))
    for position, (_, quantifier) in enumerate(operands):
        require(quantifier != 2 or position == len(operands) - 1, f"{what}: a variadic operand is not last")
    return operands


def load_instructions(core, number_of):
    rows = []
    for entry in core["instructions"]:
        name = check_name(entry.get("opname"), "instruction")
        rows.append({"name": name, "number": parse_number(entry.get("opcode"), f"{name} opcode"),
                     "operands": operand_list(entry, number_of, name)})
    require(len(rows) == INSTRUCTION_COUNT, f"{len(rows)} instructions, expected {INSTRUCTION_COUNT}")
    for before, after in zip(rows, rows[1:]):
        require(before["number"] < after["number"],
                f"instruction {after['name']} (opcode {after['number']}) is not in opcode order")
    require(rows[-1]["number"] <= 0xFFFF, f"opcode {rows[-1]['number']} does not fit 16 bits")
    typed = [row for row in rows if [k for k, _ in row["operands"][:2]] == [34, 33]]
    untyped = [row for row in rows if row["operands"][:1] and row["operands"][0][0] == 33]
    require(len(typed) == TYPED_RESULT_ROWS, f"{len(typed)} instructions with a typed result, "
            f"expected {TYPED_RESULT_ROWS}")
    require(len(untyped) == UNTYPED_RESULT_ROWS, f"{len(untyped)} instructions with an untyped result, "
            f"expected {UNTYPED_RESULT_ROWS}")
    for row in rows:
        kinds = [kind for kind, _ in row["operands"]]
        require(kinds.count(33) <= 1 and kinds.count(34) <= 1 and 33 not in kinds[2:] and 34 not in kinds[1:],
                f"{row['name']}: result operands out of place")
    counts = tuple(sum(1 for row in rows for _, q in row["operands"] if q == quantifier) for quantifier in range(3))
    require(counts == QUANTIFIER_COUNTS, f"quantifier counts {counts}, expected {QUANTIFIER_COUNTS}")
    by_name = {row["name"]: row for row in rows}
    for name, number in NAMED_OPCODES.items():
        require(name in by_name and by_name[name]["number"] == number, f"{name} must have opcode {number}")
    constant_ops = [{"name": row["name"][2:], "number": row["number"], "operands": row["operands"][2:]}
                for row in typed if row["name"] != "OpSpecConstantOp"]
    require(len(constant_ops) == SPEC_CONSTANT_OP_COUNT,
            f"{len(constant_ops)} specialization-constant operations, expected {SPEC_CONSTANT_OP_COUNT}")
    return rows, constant_ops


def load_ext_sets(ext_grammars, number_of):
    sets = []
    for (set_name, file_name, count, first, last), (_, grammar) in zip(EXT_SETS, ext_grammars):
        rows = []
        for entry in grammar["instructions"]:
            name = check_name(entry.get("opname"), f"{file_name} instruction")
            rows.append({"name": name, "number": parse_number(entry.get("opcode"), f"{file_name} {name}"),
                         "operands": operand_list(entry, number_of, f"{file_name} {name}")})
        require(len(rows) == count, f"{file_name}: {len(rows)} instructions, expected {count}")
        ends = [(rows[0]["name"], rows[0]["number"]), (rows[-1]["name"], rows[-1]["number"])]
        require(ends == [first, last], f"{file_name}: first and last rows {ends}, expected {[first, last]}")
        sets.append({"name": set_name, "rows": rows})
    return sets


def check_telling_rows(instructions, constant_ops, ext_sets, number_of):
    for table, name, number, operands in TELLING_ROWS:
        rows = instructions if table is None else constant_ops if table == "constant_op" else ext_sets[table]["rows"]
        found = [row for row in rows if row["name"] == name]
        expected = [(number_of[kind], quantifier) for kind, quantifier in operands]
        require(len(found) == 1 and found[0]["number"] == number and found[0]["operands"] == expected,
                f"{name} must have number {number} and operands {operands}")


# --- hashing and emission ---------------------------------------------------------

def name_hash(key, name):
    value = HASH_BASIS
    for byte in bytes([key & 0xFF, key >> 8]) + name.encode("ascii"):
        value = ((value ^ byte) * HASH_PRIME) & 0xFFFFFFFF
    return value ^ (value >> 16)


def hash_slots(keyed_names, slot_count):
    return build_hash_slots([name_hash(key, name) for key, name in keyed_names], slot_count)


class Pool:
    """Operand descriptors or parameter kinds shared by all rows; a list equal to
    one already stored reuses its place."""

    def __init__(self):
        self.items = []
        self.first_of = {}

    def add(self, items):
        items = tuple(items)
        if items not in self.first_of:
            self.first_of[items] = len(self.items)
            self.items.extend(items)
        return self.first_of[items]


BANNER = "// Generated by tools/gen_spirv_tables.py from the SPIR-V grammar files; do not edit."


def camel(name):
    return "".join(part[:1].upper() + part[1:] for part in name.split("_"))


def emit_header(out, ctx):
    w = out.append
    out.extend([BANNER, "#pragma once", "", "#include <array>", "#include <cstddef>", "#include <cstdint>", "",
                '#include "spirv_encoder/table_rows.hpp"', "", "namespace spirv_encoder::text_tables {", ""])
    sizes = [("kInstructionCount", len(ctx["instructions"])), ("kOperandKindCount", len(ctx["kinds"])),
             ("kEnumerantCount", len(ctx["enumerants"])), ("kSpecConstantOpCount", len(ctx["constant_ops"])),
             ("kExtInstSetCount", len(ctx["ext_sets"])), ("kExtInstCount", len(ctx["ext_insts"])),
             ("kOperandPoolSize", len(ctx["operand_pool"].items)),
             ("kParameterPoolSize", len(ctx["parameter_pool"].items)),
             ("kInstructionHashSlots", INSTRUCTION_SLOTS), ("kSpecConstantOpHashSlots", SPEC_CONSTANT_OP_SLOTS),
             ("kEnumerantHashSlots", ENUMERANT_SLOTS), ("kExtInstHashSlots", EXT_INST_SLOTS)]
    for name, value in sizes:
        w(f"inline constexpr std::size_t {name} = {value};")
    w("")
    w("// The grammar's operand kinds, numbered in alphabetical order of their names.")
    w("enum class OperandKind : std::uint16_t {")
    for number, name in enumerate(ctx["kinds"]):
        w(f"  {name} = {number},")
    w("};")
    w("")
    w("// Opcodes the encoder handles by name.")
    for name, number in NAMED_OPCODES.items():
        w(f"inline constexpr std::uint32_t k{name} = {number};")
    w("")
    w("// Parameters of the name hash shared with the generator.")
    w(f"inline constexpr std::uint32_t kNameHashBasis = {HASH_BASIS}u;")
    w(f"inline constexpr std::uint32_t kNameHashPrime = {HASH_PRIME}u;")
    w("")
    w("extern const std::array<KindClass, kOperandKindCount> spirv_kind_classes;")
    w("extern const std::array<InstructionRow, kInstructionCount> spirv_instructions;")
    w("extern const std::array<InstructionRow, kSpecConstantOpCount> spirv_spec_constant_ops;")
    w("// The four extended sets' instructions, set after set; spirv_ext_inst_ranges")
    w("// gives each set's rows.")
    w("extern const std::array<InstructionRow, kExtInstCount> spirv_ext_insts;")
    w("extern const std::array<RowSpan, kExtInstSetCount> spirv_ext_inst_ranges;")
    w("extern const std::array<ExtInstSetName, kExtInstSetCount> spirv_ext_inst_set_names;")
    w("extern const std::array<EnumerantRow, kEnumerantCount> spirv_enumerants;")
    w("extern const std::array<OperandDescriptor, kOperandPoolSize> spirv_operand_pool;")
    w("extern const std::array<std::uint16_t, kParameterPoolSize> spirv_parameter_pool;")
    w("// Row + 1 of each name by hash slot, 0 for an empty slot.")
    w("extern const std::array<std::uint16_t, kInstructionHashSlots> spirv_instruction_hash_slots;")
    w("extern const std::array<std::uint16_t, kSpecConstantOpHashSlots> spirv_spec_constant_op_hash_slots;")
    w("extern const std::array<std::uint16_t, kEnumerantHashSlots> spirv_enumerant_hash_slots;")
    w("extern const std::array<std::uint16_t, kExtInstHashSlots> spirv_ext_inst_hash_slots;")
    w("")
    w("}  // namespace spirv_encoder::text_tables")


def instruction_rows(rows, pool):
    return [f'    {{"{row["name"]}", {row["number"]}u, {pool.add(row["operands"])}, {len(row["operands"])}}},'
            for row in rows]


def emit_source(out, ctx):
    w = out.append
    out.extend([BANNER, "", '#include "spirv_encoder/generated_tables.hpp"', "",
                "namespace spirv_encoder::text_tables {", ""])
    w("const std::array<KindClass, kOperandKindCount> spirv_kind_classes{")
    w(join_lines([f"KindClass::{camel(c)}" for c in ctx["classes"]], 4))
    w("};")
    w("")
    pool = ctx["operand_pool"]
    for table, rows in [("std::array<InstructionRow, kInstructionCount> spirv_instructions", ctx["instructions"]),
                        ("std::array<InstructionRow, kSpecConstantOpCount> spirv_spec_constant_ops",
                         ctx["constant_ops"]),
                        ("std::array<InstructionRow, kExtInstCount> spirv_ext_insts", ctx["ext_insts"])]:
        w(f"const {table}{{{{")
        w("    // name, number, first operand in spirv_operand_pool, operand count")
        out.extend(instruction_rows(rows, pool))
        w("}};")
        w("")
    w("const std::array<RowSpan, kExtInstSetCount> spirv_ext_inst_ranges{{")
    for first, count in ctx["ext_ranges"]:
        w(f"    {{{first}, {count}}},")
    w("}};")
    w("")
    w("const std::array<ExtInstSetName, kExtInstSetCount> spirv_ext_inst_set_names{{")
    for number, ext_set in enumerate(ctx["ext_sets"]):
        w(f'    {{"{ext_set["name"]}", ExtInstSet{{{number}}}}},')
    w("}};")
    w("")
    parameters = ctx["parameter_pool"]
    w("const std::array<EnumerantRow, kEnumerantCount> spirv_enumerants{{")
    w("    // name, value, operand kind, first parameter in spirv_parameter_pool, parameter count")
    for row in ctx["enumerants"]:
        w(f'    {{"{row["name"]}", {row["value"]:#x}u, {row["kind"]}, {parameters.add(row["parameters"])}, '
          f'{len(row["parameters"])}}},')
    w("}};")
    w("")
    w("const std::array<OperandDescriptor, kOperandPoolSize> spirv_operand_pool{{")
    names = ["one", "optional", "variadic"]
    w(join_lines([f"{{{kind}, Quantifier::{names[quantifier]}}}" for kind, quantifier in pool.items], 5))
    w("}};")
    w("")
    w("const std::array<std::uint16_t, kParameterPoolSize> spirv_parameter_pool{")
    w(join_lines([str(kind) for kind in parameters.items], 16))
    w("};")
    w("")
    for name, slots in [("kInstructionHashSlots> spirv_instruction_hash_slots", ctx["instruction_slots"]),
                        ("kSpecConstantOpHashSlots> spirv_spec_constant_op_hash_slots", ctx["spec_op_slots"]),
                        ("kEnumerantHashSlots> spirv_enumerant_hash_slots", ctx["enumerant_slots"]),
                        ("kExtInstHashSlots> spirv_ext_inst_hash_slots", ctx["ext_inst_slots"])]:
        w(f"const std::array<std::uint16_t, {name}{{")
        w(join_lines([str(slot) for slot in slots], 16))
        w("};")
        w("")
    w("}  // namespace spirv_encoder::text_tables")


def generate(data_dir):
    core = read_grammar(data_dir, CORE_FILE)
    ext_grammars = [(file_name, read_grammar(data_dir, file_name)) for _, file_name, *_ in EXT_SETS]
    kinds, number_of, definitions, classes = load_kinds(core, ext_grammars)
    enumerants = load_enumerants(kinds, number_of, definitions, classes)
    instructions, constant_ops = load_instructions(core, number_of)
    ext_sets = load_ext_sets(ext_grammars, number_of)
    check_telling_rows(instructions, constant_ops, ext_sets, number_of)
    ext_insts, ext_ranges, ext_keys = [], [], []
    for number, ext_set in enumerate(ext_sets):
        ext_ranges.append((len(ext_insts), len(ext_set["rows"])))
        ext_insts.extend(ext_set["rows"])
        ext_keys.extend((number, row["name"]) for row in ext_set["rows"])
    return {
        "kinds": kinds, "classes": classes, "enumerants": enumerants, "instructions": instructions,
        "constant_ops": constant_ops, "ext_sets": ext_sets, "ext_insts": ext_insts, "ext_ranges": ext_ranges,
        "operand_pool": Pool(), "parameter_pool": Pool(),
        "instruction_slots": hash_slots([(0, row["name"]) for row in instructions], INSTRUCTION_SLOTS),
        "spec_op_slots": hash_slots([(0, row["name"]) for row in constant_ops], SPEC_CONSTANT_OP_SLOTS),
        "enumerant_slots": hash_slots([(row["kind"], row["name"]) for row in enumerants], ENUMERANT_SLOTS),
        "ext_inst_slots": hash_slots(ext_keys, EXT_INST_SLOTS),
    }


def main(argv):
    return run(argv, "gen_spirv_tables", __doc__.splitlines()[0], "folder holding the SPIR-V grammar JSON files",
               generate, emit_source, emit_header)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
