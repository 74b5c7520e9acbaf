#!/usr/bin/env python3
"""Differential test of the SPIR-V assembler against SPIRV-Tools.

Every GLSL shader in the folder is compiled by glslangValidator (plain, and
with non-semantic debug information), printed by `spirv-dis --raw-id`, and
assembled both by `spirv-as --preserve-numeric-ids` and by our assembler. The
two modules must have the same words, except the generator word, which names
the tool that wrote the module, and ours must pass spirv-val.

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
    failures = 0
    with tempfile.TemporaryDirectory(prefix="spirv_differential_") as work:
        for shader in shaders:
            for flags in VARIANTS:
                try:
                    count = check_shader(assembler, shader, flags, work)
                    print(f"ok {os.path.basename(shader)} {' '.join(flags)}: {count} words")
                except RuntimeError as error:
                    failures += 1
                    print(f"FAIL {error}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
