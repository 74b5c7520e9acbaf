#!/usr/bin/env python3
"""Assembles one source per refusal a newcomer meets on the x86 and RISC-V
targets and checks that every refused line is followed by a note at the same
place that names its cause.

Usage: refusal_survey_test.py <qovrin>
"""

import os
import re
import subprocess
import sys
import tempfile

# (target, source, words the note must hold)
SURVEY = [
    ("x86-64", "  mov eax, bx\n", r"sizes differ.*'bx' is 16-bit"),
    ("x86-64", "x86.use32()\n  mov rax, 1\n", r"not encodable in 32-bit mode"),
    ("x86-64", "  push eax\n", r"not encodable in 64-bit mode"),
    ("x86-64", "  add r99, 1\n", r"no register 'r99'"),
    ("x86-64", "  movaps xmm0, xmm40\n", r"no register 'xmm40'"),
    ("x86-32", "  mov ax, [ax]\n", r"'ax' cannot address memory"),
    ("x86-64", "  mov ax, [ax]\n", r"'ax' cannot address memory in 64-bit mode"),
    ("x86-64", "  add rax, [eax+rbx]\n", r"an address takes registers of one size"),
    ("x86-64", "  mov eax, 1 ; one\n", r"only '//' ends an instruction line"),
    ("x86-64", "  mov eax, 1 # one\n", r"only '//' ends an instruction line"),
    ("x86-64", "x86.use32()\n  a64\n", r"'a64' is a prefix valid only in 64-bit code"),
    ("x86-64", "x86.use16()\n  o64\n", r"'o64' is a prefix valid only in 64-bit code"),
    ("x86-64", "  rep repne movsb\n", r"'repne' follows another repeat prefix"),
    ("rv64", "  beq a0, a1, 3\n", r"offset 3 is not a multiple of 2"),
    ("rv64", "  c.lwsp a0, 256\n", r"offset 256 is out of range: 'c\.lwsp' takes 0 to 252"),
    ("rv64", "  c.lui a0, 131072\n", r"131072 is out of range: 'c\.lui'"),
    ("rv64", "  c.and a6, a0\n", r"'c\.and' takes x8-x15"),
    ("rv64", "  addi a0, 5, a0\n", r"'5' is a value, but 'addi' takes a register"),
    ("rv32", "  addiw a0, a0, 1\n", r"'addiw' is RV64 only"),
    ("rv32", "  c.slli a0, 1\n", r"write c\.slli\.rv32"),
    ("rv64", "  beq a0, a1, F30\n", r"'F30' reads as a register"),
    ("rv64", "  add.aq a0, a1, a2\n", r"'add' has no aq/rl bits"),
    ("rv64", "  lw a0, 0(a9)\n", r"'a9' is not a register"),
    ("rv64", "  lw a0, 4(a1\n", r"no closing '\)'"),
    ("rv64", "  c.lwsp a0, 12(sp)\n", r"sp is implicit in 'c\.lwsp'"),
    ("x86-64", "if 1 == 1 {\n  nop\n}\nelse {\n  nop\n}\n", r"'else' goes on the line of the '}'"),
    ("x86-64", "let i = 0\nwhile(i < 2) {\n  i = i + 1\n}\n", r"needs a blank before its condition"),
    ("x86-64", "for i in range(0, 2) {\n  i = 5\n}\n", r"the variable of a 'for' loop"),
    ("x86-64", "defer {\n  list.push_mut(l, 1)\n}\n", r"only print, warn, err, assert"),
    ("rv64", 'let m = map.new()\nmap.set(m, "k", 1)\n', r"m = map\.set\(\.\.\.\)"),
    ("x86-32", "  call far 0x1234\n", r"value referenced by FAR is not relocatable"),
    ("x86-64", "  push (8)\n", r"'push' is an instruction, but a name followed by '\(' is read as a call"),
    ("rv64", "  prefetch.i 3(a0)\n", r"offset 3 is not a multiple of 32"),
    ("rv64", "  prefetch.w 4096(a0)\n", r"4096 does not fit the 12-bit signed immediate"),
    ("rv64", "  add " + ", ".join(["a0"] * 17) + "\n", r"'add' takes 3 operands here"),
    ("rv64", "  " + "addi" * 25 + " a0, a0, 1\n", r"no instruction named 'addiaddi"),
    ("rv64", "  vror.vi v1, v2, 64\n", r"64 does not fit the 6-bit unsigned immediate"),
    ("rv64", "  cbo.zero (a0)\n", r"'cbo\.zero' is an instruction"),
    ("x86-64", "  mov eax, [ebx + -8]\n", r"'\+ -8' has two signs in a row"),
    ("x86-64", "  mov rax, 99999999999999999999\n", r"integers have at most 64 bits"),
    ("rv64", "a: // c\n  nop\n", r"a label line cannot end with a comment"),
    ("x86-64", "  mov eax, 0xg\n", r"'0xg' does not read as a number: 'g' is no hex digit"),
    ("x86-64", "  mov rax, 5 / (3 - 3)\n", r"'5 / \(3 - 3\)' cannot be evaluated: division by zero"),
    ("x86-64", "  mov eax, 1 % 0\n", r"'1 % 0' cannot be evaluated: division by zero"),
    ("x86-64", "region.begin(0x8000)\n", r"'region\.begin' takes 3 arguments, 1 given"),
    ("rv64", "fn f(let l) -> u64 {\n  return 1\n}\n", r"'l' is a 'let' parameter"),
    ("x86-64", "macro m(x) {\n  emit.u8(operand.eval(x) + 1)\n}\nm nothere + 1\n", r"'nothere' is not defined"),
    # Notes that pointed the wrong way.
    ("x86-32", "  fs mov eax, [eax]\n", r"a segment goes inside the memory operand: 'mov eax, \[fs:eax\]'"),
    ("x86-64", "  o16 push 1\n", r"a prefix word stands on a line of its own, the line before 'push 1'"),
    ("x86-32", "L:\n  a32 loop L\n", r"'a32' before 'loop' is read as the instruction"),
    ("x86-64", "  mov eax, 'a' << 8\n", r"it combines a string with an integer"),
]

LOCATED = re.compile(r"^main\.qov:(\d+):(\d+): (error|note): (.*)$")


def survey(qovrin, target, source, cause):
    with tempfile.TemporaryDirectory(prefix="qovrin-survey-") as work:
        with open(os.path.join(work, "main.qov"), "w") as handle:
            handle.write(source)
        run = subprocess.run([qovrin, "main.qov", "--no-progress", "--target", target], cwd=work,
                             capture_output=True, stdin=subprocess.DEVNULL, timeout=60)
    stderr = run.stderr.decode("utf-8", "replace")
    if run.returncode == 0:
        return "was not refused"
    lines = [LOCATED.match(line) for line in stderr.splitlines()]
    errors = [line for line in lines if line and line.group(3) == "error"]
    if not errors:
        return "no located error in:\n" + stderr
    place = errors[0].group(1, 2)
    notes = [line.group(4) for line in lines if line and line.group(3) == "note" and line.group(1, 2) == place]
    if not any(re.search(cause, note) for note in notes):
        return "no note at %s:%s naming /%s/ in:\n%s" % (place + (cause, stderr))
    return None


def main():
    qovrin = os.path.abspath(sys.argv[1])
    failures = []
    for target, source, cause in SURVEY:
        problem = survey(qovrin, target, source, cause)
        if problem:
            failures.append("%s %r: %s" % (target, source, problem))
    for failure in failures:
        print(failure)
    print("%d of %d refusals say their cause" % (len(SURVEY) - len(failures), len(SURVEY)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
