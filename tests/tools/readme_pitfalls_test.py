#!/usr/bin/env python3
"""Runs the example of each README sentence that warns of a pitfall: byte
strings take no escapes, a number as a RISC-V branch target is a distance
while x86 reads an address, how deep includes nest, which entry point
interfaces a SPIR-V 1.6 module needs (checked with spirv-val), which ISA
names and files `init` takes, how a leading 0 reads, how a large define is
written, which error each limit gives and how often a warning is shown.

Usage: readme_pitfalls_test.py <qovrin> <README.md>
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

import oracle


def run(qovrin, work, source, target="x86-64", files=None):
    """(status, stderr, output bytes) of assembling `source`."""
    for name, text in (files or {}).items():
        with open(os.path.join(work, name), "w") as handle:
            handle.write(text)
    with open(os.path.join(work, "main.qov"), "w") as handle:
        handle.write(source)
    out = os.path.join(work, "out.bin")
    if os.path.exists(out):
        os.remove(out)
    done = subprocess.run([qovrin, "main.qov", "--no-progress", "--target", target, "-o", "out.bin"], cwd=work,
                          capture_output=True, stdin=subprocess.DEVNULL, timeout=60)
    data = open(out, "rb").read() if os.path.exists(out) else None
    return done.returncode, done.stderr.decode("utf-8", "replace"), data


def byte_strings(qovrin, work):
    _, stderr, _ = run(qovrin, work, 'print(len(b"\\x02"))\nprint(bytes.hex(bytes.from_hex("02")))\n')
    notes = re.findall(r"note: (.*)$", stderr, re.M)
    return None if notes == ["4", "02"] else "b\"\\x02\" and bytes.from_hex(\"02\") print %s" % notes


def branch_targets(qovrin, work):
    _, _, number = run(qovrin, work, "beq a0, a1, 8\nnop\nnop\n", "rv64")
    _, _, label = run(qovrin, work, "beq a0, a1, L\nnop\nL:\nnop\n", "rv64")
    if number is None or number != label:
        return "beq a0, a1, 8 is not the branch that skips the next instruction"
    _, _, address = run(qovrin, work, "jmp 0x10\n")
    _, _, placed = run(qovrin, work, "jmp L\npad_to(0x10)\nL:\n")
    if address is None or placed is None or placed[:len(address)] != address:
        return "x86 jmp 0x10 does not go to address 0x10"
    return None


def include_depth(qovrin, work):
    chain = {"f%d.qov" % index: 'include("f%d.qov")\n' % (index + 1) for index in range(1, 128)}
    chain["f127.qov"] = "nop\n"
    status, stderr, _ = run(qovrin, work, 'include("f1.qov")\n', files=chain)
    if status != 0:
        return "128 nested sources are refused:\n" + stderr
    chain["f127.qov"] = 'include("f128.qov")\n'
    chain["f128.qov"] = "nop\n"
    status, stderr, _ = run(qovrin, work, 'include("f1.qov")\n', files=chain)
    if status == 0 or "IncludeTooDeep" not in stderr:
        return "129 nested sources are not refused with IncludeTooDeep:\n" + stderr
    return None


SHADER = """OpCapability Shader
OpMemoryModel Logical GLSL450
OpEntryPoint Fragment %4 "main"{interface}
OpExecutionMode %4 OriginUpperLeft
%2 = OpTypeVoid
%3 = OpTypeFunction %2
%6 = OpTypeFloat 32
%7 = OpTypePointer Private %6
%9 = OpVariable %7 Private
%4 = OpFunction %2 None %3
%5 = OpLabel
%10 = OpLoad %6 %9
OpReturn
OpFunctionEnd
"""


def entry_point_interfaces(qovrin, work):
    verdicts = []
    for interface in (" %9", ""):
        _, stderr, module = run(qovrin, work, SHADER.format(interface=interface), "spv")
        if module is None:
            return "the shader does not assemble:\n" + stderr
        with open(os.path.join(work, "shader.spv"), "wb") as handle:
            handle.write(module)
        verdicts.append(subprocess.run(["spirv-val", "shader.spv"], cwd=work, capture_output=True).returncode == 0)
    return None if verdicts == [True, False] else "spirv-val takes the entry points as %s, not [True, False]" % verdicts


def init(qovrin, work, *arguments):
    done = subprocess.run([qovrin, "init"] + list(arguments), cwd=work, capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=60)
    return done.returncode, done.stderr.decode("utf-8", "replace")


def init_names(qovrin, work):
    init(qovrin, work, "demo", "--isa", "riscv", "--bits", "32")
    project = os.path.join(work, "demo", "qovrin.toml")
    if not os.path.exists(project) or 'isa = "riscv32"' not in open(project).read():
        return "--isa riscv --bits 32 does not make an RV32 project"
    status, stderr = init(qovrin, work, "other", "--isa", "arm")
    if status == 0 or "the ISA names are x86-64" not in stderr:
        return "an unknown ISA name is not refused with the names:\n" + stderr
    return None


def init_force(qovrin, work):
    init(qovrin, work, "demo")
    mine = os.path.join(work, "mine.qov")
    with open(mine, "w") as handle:
        handle.write("mine\n")
    starter = os.path.join(work, "demo", "src", "main.qov")
    os.remove(starter)
    os.symlink(mine, starter)
    readme = os.path.join(work, "demo", "include", "README.md")
    os.remove(readme)
    os.link(mine, readme)
    status, stderr = init(qovrin, work, "demo", "--force")
    with open(mine) as handle:
        written = handle.read()
    if status != 0 or not os.path.islink(starter) or written.startswith("mine"):
        return "--force does not write through a link and a second name:\n" + stderr
    return None


def riscv_store_operands(qovrin, work):
    source = os.path.join(work, "gnu.s")
    with open(source, "w") as handle:
        handle.write("hsv.w a1, (a0)\n")
    gnu = subprocess.run(["riscv64-linux-gnu-as", "-march=rv64gc_h", "-o", os.path.join(work, "gnu.o"), source],
                         capture_output=True)
    copied = subprocess.run(["riscv64-linux-gnu-objcopy", "-O", "binary", "-j", ".text", os.path.join(work, "gnu.o"),
                             os.path.join(work, "gnu.bin")], capture_output=True)
    if gnu.returncode != 0 or copied.returncode != 0:
        return "GNU as does not take hsv.w a1, (a0)"
    _, _, ours = run(qovrin, work, "hsv.w a0, a1\n", "rv64")
    if ours != open(os.path.join(work, "gnu.bin"), "rb").read():
        return "hsv.w a0, a1 is not GNU's hsv.w a1, (a0)"
    status, _, _ = run(qovrin, work, "hsv.w a1, (a0)\n", "rv64")
    if status == 0:
        return "hsv.w a1, (a0) is not refused"
    _, _, symbol = run(qovrin, work, "msg:\nsb a0, msg, t1\n", "rv64")
    _, _, offset = run(qovrin, work, "msg:\nsb a0, msg(t1)\n", "rv64")
    if symbol is None or symbol != offset:
        return "sb a0, msg, t1 is not the store to msg(t1)"
def number_forms(qovrin, work):
    _, stderr, data = run(qovrin, work, "mov eax, 017\ndb(017)\nmov eax, (017)\n")
    if data != bytes([0xB8, 17, 0, 0, 0, 15, 0xB8, 15, 0, 0, 0]):
        return "a leading 0 is not decimal in instruction text and octal in meta expressions:\n" + stderr
    return None


def large_define(qovrin, work):
    os.makedirs(os.path.join(work, "src"))
    with open(os.path.join(work, "qovrin.toml"), "w") as handle:
        handle.write('[defines]\nMASK = "0xffffffffffffffff"\n')
    with open(os.path.join(work, "src", "main.qov"), "w") as handle:
        handle.write('dq(map.get(map.get(match.tokens("v:int", MASK), "captures"), "v"))\n')
    done = subprocess.run([qovrin, "build", "--no-progress"], cwd=work, capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=60)
    built = os.path.join(work, "build", "app.bin")
    if done.returncode != 0 or open(built, "rb").read() != b"\xff" * 8:
        return "the string define does not convert to 2^64 - 1:\n" + done.stderr.decode("utf-8", "replace")
    with open(os.path.join(work, "qovrin.toml"), "w") as handle:
        handle.write("[defines]\nMASK = 0xffffffffffffffff\n")
    done = subprocess.run([qovrin, "build", "--no-progress"], cwd=work, capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=60)
    if done.returncode == 0 or b"TOML integers are signed" not in done.stderr:
        return "the integer define of 2^64 - 1 is not refused as past the signed range"
    return None


def limit_names(qovrin, work):
    expected = [
        ("fn f(n) -> u64 {\n  return f(n + 1)\n}\nlet x = f(0)\n", b"InvalidExpression", b"128 calls deep"),
        ("fn g(n) {\n  g(n + 1)\n}\ng(0)\n", b"MetaCallDepthExceeded", b"128 calls deep"),
        ("let i = 0\nwhile i < 2000000 {\n  i = i + 1\n}\n", b"MetaLoopLimitExceeded", b"1,000,000 rounds"),
        ("macro m() {\n  nop\n}\nlet i = 0\nwhile i < 100001 {\n  m\n  i = i + 1\n}\n",
         b"MacroExpansionLimitExceeded", b"100,000 times"),
        ("macro m(...xs) {\n  nop\n}\nm " + ", ".join(["1"] * 257) + "\n", b"InvalidMacroOperands", b"256 operands"),
    ]
    for source, name, note in expected:
        status, stderr, _ = run(qovrin, work, source)
        if status != 1 or name.decode() not in stderr or note.decode() not in stderr:
            return "%s is not refused with %s and a note naming %s:\n%s" % (source[:30], name, note, stderr)
    return None


def warning_cap(qovrin, work):
    _, stderr, _ = run(qovrin, work, 'let i = 0\nwhile i < 150 {\n  warn("again")\n  i = i + 1\n}\n')
    if stderr.count("warning: again") != 100 or '50 more warnings "again" left out' not in stderr:
        return "150 warnings of one text do not print as 100 and a count:\n" + stderr[-300:]
    return None


# (words of the README sentence, its check, the oracle it needs)
CLAIMS = [
    ("`b\"\\x02\"` is the four bytes", byte_strings, None),
    ("`beq a0, a1, 8` skips the next", branch_targets, None),
    ("includes 128 deep", include_depth, None),
    ("(`--target-env vulkan1.3`)", entry_point_interfaces, "spirv-val"),
    ("refused with the list of those it does", init_names, None),
    ("second name of one is written through, as `-o` does", init_force, None),
    ("`sb a0, msg, t1`, is read as a store to `msg(t1)`", riscv_store_operands, "riscv64-linux-gnu-as"),
    ("(`mov eax, 017` is 17), while in a meta expression it is octal", number_forms, None),
    ("a value of 2^63 or more is written as a string and converted in the source", large_define, None),
    ("Each limit has its error name, and a note names the limit", limit_names, None),
    ("A warning of one text is shown 100 times", warning_cap, None),
]


def main():
    qovrin = os.path.abspath(sys.argv[1])
    with open(sys.argv[2], encoding="utf-8") as handle:
        readme = " ".join(handle.read().split())
    problems = []
    for words, check, needs in CLAIMS:
        if words not in readme:
            problems.append("the README no longer says %r" % words)
            continue
        if needs and shutil.which(needs) is None:
            if oracle.missing(needs) != oracle.SKIPPED:
                return 1
            continue
        with tempfile.TemporaryDirectory(prefix="qovrin-readme-") as work:
            problem = check(qovrin, work)
        if problem:
            problems.append("%s: %s" % (words, problem))
    for problem in problems:
        print(problem)
    print("%d of %d README pitfalls hold as written" % (len(CLAIMS) - len(problems), len(CLAIMS)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
