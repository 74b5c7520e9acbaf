#!/usr/bin/env python3
"""Differential test of the SPIR-V assembler against SPIRV-Tools.

Every GLSL shader in the folder is compiled by glslangValidator (plain, and
with non-semantic debug information), printed by `spirv-dis --raw-id`, and
assembled both by `spirv-as --preserve-numeric-ids` and by our assembler. The
two modules must have the same words, except the generator word, which names
the tool that wrote the module, and ours must pass spirv-val.

Then a few literals that spirv-as reads differently on purpose are assembled
by both: ours must give the words listed for them, spirv-as other words, and
the rest of the module must agree, so that a change on either side shows.

Exits 77 (skipped) when one of the tools is not installed, or fails then
when QOVRIN_REQUIRE_ORACLES=1.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

import oracle

TOOLS = ["glslangValidator", "spirv-dis", "spirv-as", "spirv-val"]
VARIANTS = [[], ["-gV"]]
GENERATOR_WORD = 2
TARGET_ENV = "vulkan1.3"
SHADER_SUFFIXES = (".vert", ".frag", ".comp")


def run(command):
    result = subprocess.run(command, capture_output=True, text=True, check=False)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed:\n{result.stdout}{result.stderr}")


def words_of(path):
    with open(path, "rb") as handle:
        data = handle.read()
    if len(data) % 4:
        raise RuntimeError(f"{path}: {len(data)} bytes is no whole number of words")
    return list(struct.unpack(f"<{len(data) // 4}I", data))


def first_difference(ours, theirs):
    for index, (a, b) in enumerate(zip(ours, theirs)):
        if a != b and index != GENERATOR_WORD:
            return f"word {index}: ours {a:#010x}, spirv-as {b:#010x}"
    if len(ours) != len(theirs):
        return f"{len(ours)} words, spirv-as {len(theirs)}"
    return None

TRUNCATES = ("spirv-as cuts a hexadecimal float that rounds past the largest finite value down to that value; "
             "rounded to nearest, as every other literal is, it is an infinity")
# (scalar type, literal, our value words, reason)
EXPECTED_DIFFERENCES = [
    ("OpTypeFloat 32", "0x1.ffffffp+127", [0x7F800000], TRUNCATES),
    ("OpTypeFloat 32", "-0x1.ffffffp+127", [0xFF800000], TRUNCATES),
    ("OpTypeFloat 64", "0x1.fffffffffffff8p+1023", [0x00000000, 0x7FF00000], TRUNCATES),
    ("OpTypeFloat 16", "0x1.ffep+15", [0x7C00], TRUNCATES),
]
LITERAL_MODULE = """OpCapability Shader
OpCapability Float16
OpCapability Float64
OpMemoryModel Logical GLSL450
%1 = {type}
%2 = OpConstant %1 {literal}
"""


def check_expected_difference(assembler, number, difference, work):
    scalar, literal, ours_expected, reason = difference
    stem = os.path.join(work, f"literal{number}")
    with open(stem + ".spvasm", "w") as handle:
        handle.write(LITERAL_MODULE.format(type=scalar, literal=literal))
    run(["spirv-as", "--preserve-numeric-ids", "--target-env", "spv1.6", stem + ".spvasm", "-o", stem + ".ref.spv"])
    run([assembler, stem + ".spvasm", stem + ".ours.spv"])
    ours, theirs = words_of(stem + ".ours.spv"), words_of(stem + ".ref.spv")
    count = len(ours_expected)
    if ours[-count:] != ours_expected:
        raise RuntimeError(f"{scalar} {literal}: ours {[hex(w) for w in ours[-count:]]}, "
                           f"expected {[hex(w) for w in ours_expected]}")
    if theirs[-count:] == ours_expected:
        raise RuntimeError(f"{scalar} {literal}: spirv-as now agrees; the expected difference is gone")
    rest = first_difference(ours[:-count], theirs[:-count])
    if rest:
        raise RuntimeError(f"{scalar} {literal}: {rest}")
    return reason


def check_shader(assembler, shader, flags, work):
    stem = os.path.join(work, os.path.basename(shader) + "".join(flags))
    run(["glslangValidator", "--target-env", TARGET_ENV, *flags, "-o", stem + ".spv", shader])
    run(["spirv-dis", "--raw-id", stem + ".spv", "-o", stem + ".spvasm"])
    run(["spirv-as", "--preserve-numeric-ids", "--target-env", "spv1.6", stem + ".spvasm", "-o", stem + ".ref.spv"])
    run([assembler, stem + ".spvasm", stem + ".ours.spv"])
    difference = first_difference(words_of(stem + ".ours.spv"), words_of(stem + ".ref.spv"))
    if difference:
        raise RuntimeError(f"{shader} {' '.join(flags)}: {difference}")
    run(["spirv-val", "--target-env", TARGET_ENV, stem + ".ours.spv"])
    return len(words_of(stem + ".ours.spv"))


def main(argv):
    assembler, shader_dir = argv
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        return oracle.missing(", ".join(missing))
    shaders = sorted(os.path.join(shader_dir, name) for name in os.listdir(shader_dir)
                     if name.endswith(SHADER_SUFFIXES))
    if not shaders:
        print(f"no shaders in {shader_dir}", file=sys.stderr)
        return 1
    checks = [(lambda work, shader=shader, flags=flags:
               f"ok {os.path.basename(shader)} {' '.join(flags)}: {check_shader(assembler, shader, flags, work)} words")
              for shader in shaders for flags in VARIANTS]
    checks += [(lambda work, number=number, difference=difference:
                f"expected difference {difference[0]} {difference[1]}: "
                f"{check_expected_difference(assembler, number, difference, work)}")
               for number, difference in enumerate(EXPECTED_DIFFERENCES)]
    failures = 0
    with tempfile.TemporaryDirectory(prefix="spirv_differential_") as work:
        for check in checks:
            try:
                print(check(work))
            except RuntimeError as error:
                failures += 1
                print(f"FAIL {error}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
