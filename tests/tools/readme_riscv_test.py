#!/usr/bin/env python3
"""Checks what the README says about reaching a label on RV64: the address
its PC-relative forms compute, read back from the assembled words, and its
bare-metal program run under qemu when qemu-system-riscv64 is installed
(skipped otherwise).

Usage: readme_riscv_test.py <qovrin> <README.md>
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77
BASE = 0x80000000


def signed(value, bits):
    return value - (1 << bits) if value & (1 << (bits - 1)) else value


def loaded_address(image, at):
    """The 64-bit register value after the auipc or lui and the addi at byte
    `at` of an image based at BASE; None for other instructions."""
    upper = int.from_bytes(image[at:at + 4], "little")
    addi = int.from_bytes(image[at + 4:at + 8], "little")
    if upper & 0x7F not in (0x17, 0x37) or addi & 0x7F != 0x13:
        return None
    # Both sign-extend their 32-bit result on RV64; auipc adds the pc.
    value = signed(upper & 0xFFFFF000, 32) + (BASE + at if upper & 0x7F == 0x17 else 0)
    return (value + signed(addi >> 20, 12)) % (1 << 64)


def assemble(qovrin, work, source, name):
    path = os.path.join(work, name + ".qov")
    with open(path, "w") as handle:
        handle.write(source)
    output = os.path.join(work, name + ".bin")
    run = subprocess.run([qovrin, path, "--no-progress", "--target", "rv64", "-o", output], capture_output=True,
                         stdin=subprocess.DEVNULL, timeout=60)
    if run.returncode != 0:
        raise ValueError("%s was refused:\n%s" % (name, run.stderr.decode("utf-8", "replace")))
    with open(output, "rb") as handle:
        return output, handle.read()


def readme_program(readme):
    """The indented program after the sentence that introduces it."""
    at = readme.index("This bare-metal program prints")
    lines = readme[at:].splitlines()
    start = next(index for index, line in enumerate(lines) if line.startswith("      ") and line.strip())
    program = []
    for line in lines[start:]:
        if line.strip() and not line.startswith("      "):
            break
        program.append(line[6:])
    return "\n".join(program).strip() + "\n"


def far_forms(readme):
    """The high and low part the README gives for a label farther away."""
    text = " ".join(readme.split())
    high = re.search(r"`(auipc a0, \(msg - here[^`]*)`", text).group(1)
    low = re.search(r"`(addi a0, a0, msg - here - [^`]*)`", text).group(1)
    return high, low


def check_far(qovrin, work, readme):
    high, low = far_forms(readme)
    problems = []
    for distance in (8, 0x7FC, 0x800, 0x1000, 0x17FC, 0x12344):
        source = "riscv.use64()\norigin(0x%x)\nhere:\n    %s\n    %s\npad_to(%d)\nmsg:\ndb(1)\n" % (
            BASE, high, low, distance)
        _, image = assemble(qovrin, work, source, "far")
        reached = loaded_address(image, 0)
        if reached != BASE + distance:
            problems.append("the far form reaches %s, not 0x%x" % (reached and hex(reached), BASE + distance))
    return problems


def main():
    qovrin = os.path.abspath(sys.argv[1])
    with open(sys.argv[2], encoding="utf-8") as handle:
        readme = handle.read()
    program = readme_program(readme)
    greeting = re.search(r'db\("([^"]*)"', program).group(1)
    with tempfile.TemporaryDirectory(prefix="qovrin-readme-") as work:
        problems = check_far(qovrin, work, readme)
        kernel, image = assemble(qovrin, work, program, "hello")
        reached = loaded_address(image, 0)
        if reached != BASE + image.index(greeting.encode()):
            problems.append("the program's first two instructions reach %s, not its greeting" % (reached and hex(reached)))
        qemu = shutil.which("qemu-system-riscv64")
        if qemu and not problems:
            try:
                run = subprocess.run([qemu, "-machine", "virt", "-bios", "none", "-nographic", "-kernel", kernel],
                                     capture_output=True, stdin=subprocess.DEVNULL, timeout=30, cwd=work)
                shown = run.stdout.decode("utf-8", "replace")
                if run.returncode != 0 or greeting not in shown:
                    problems.append("under qemu: status %d, output %r" % (run.returncode, shown))
            except subprocess.TimeoutExpired:
                problems.append("under qemu the program did not end within 30 seconds")
    for problem in problems:
        print(problem)
    if problems:
        return 1
    if not qemu:
        print("skipped: qemu-system-riscv64 is not installed; the addresses were checked without running")
        return SKIPPED
    print("the README's RV64 program prints its greeting under qemu")
    return 0


if __name__ == "__main__":
    sys.exit(main())
