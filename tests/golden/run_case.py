#!/usr/bin/env python3
"""Runs one end-to-end case of the qovrin command and compares what it did.

A case is a folder:
  cmd        the arguments after the program name, split like a shell would
  status     the expected exit status (default 0)
  stdout     the expected standard output, exactly (default: empty)
  stderr     the expected standard error, exactly (default: empty)
  stdout.re  instead of stdout: a regular expression the whole output must match
  stderr.re  the same for the standard error
  expect/    files that the run must leave with exactly this content, at the
             same place under the working directory
  exe        a path in the working directory to copy the qovrin program to
             and run it from (for the include folder beside the program)
  outputs    lines "<path> <hex bytes ...>" (the file must hold exactly these
             bytes) or "<path> absent" (the file must not exist)
A line "@help", "@help-init" or "@help-targets" in an expected output stands
for the whole text of that help file beside this script.
Every other file and folder of the case is copied into a fresh working
directory, where the command runs without a terminal; a symbolic link that
reaches no file is copied as the link it is.
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

META = {"exe", "expect", "cmd", "status", "stdout", "stderr", "stdout.re", "stderr.re", "outputs"}


def read(case, name, default=None):
    path = os.path.join(case, name)
    if not os.path.exists(path):
        return default
    with open(path, "rb") as handle:
        return expand(handle.read().decode("utf-8", "surrogateescape"))


def expand(text):
    if text is None:
        return None
    here = os.path.dirname(os.path.abspath(__file__))
    lines = []
    for line in text.splitlines(keepends=True):
        name = line.strip()
        if name in ("@help", "@help-init", "@help-targets"):
            with open(os.path.join(here, name[1:] + ".txt")) as handle:
                lines.append(handle.read())
        else:
            lines.append(line)
    return "".join(lines)


def main():
    qovrin, case = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    failures = []
    with tempfile.TemporaryDirectory(prefix="qovrin-golden-") as work:
        for entry in os.listdir(case):
            if entry in META:
                continue
            source = os.path.join(case, entry)
            target = os.path.join(work, entry)
            if os.path.islink(source) and not os.path.exists(source):
                # A link that leads nowhere, or round in a loop, is what the case is about.
                os.symlink(os.readlink(source), target)
            elif os.path.isdir(source):
                shutil.copytree(source, target)
            else:
                shutil.copy(source, target)
        arguments = shlex.split(read(case, "cmd", ""))
        copy_to = read(case, "exe")
        if copy_to is not None:
            program = os.path.join(work, copy_to.strip())
            os.makedirs(os.path.dirname(program), exist_ok=True)
            shutil.copy(qovrin, program)
            qovrin = program
        run = subprocess.run([qovrin] + arguments, cwd=work, capture_output=True, stdin=subprocess.DEVNULL,
                             timeout=120)
        stdout = run.stdout.decode("utf-8", "surrogateescape")
        stderr = run.stderr.decode("utf-8", "surrogateescape")

        status = int(read(case, "status", "0").strip())
        if run.returncode != status:
            failures.append(f"exit status {run.returncode}, expected {status}")
        for name, got in (("stdout", stdout), ("stderr", stderr)):
            pattern = read(case, name + ".re")
            if pattern is not None:
                if not re.fullmatch(pattern.rstrip("\n") + "\n?", got, re.DOTALL):
                    failures.append(f"{name} does not match {pattern!r}:\n{got}")
            elif got != read(case, name, ""):
                failures.append(f"{name} differs:\n--- got\n{got}--- expected\n{read(case, name, '')}")

        for line in read(case, "outputs", "").splitlines():
            if not line.strip():
                continue
            path, _, expected = line.partition(" ")
            full = os.path.join(work, path)
            if expected.strip() == "absent":
                if os.path.exists(full):
                    failures.append(f"{path} exists, expected none")
                continue
            if not os.path.isfile(full):
                failures.append(f"{path} was not written")
                continue
            with open(full, "rb") as handle:
                got = handle.read().hex(" ")
            want = bytes.fromhex(expected).hex(" ")
            if got != want:
                failures.append(f"{path} holds [{got}], expected [{want}]")

        expected_root = os.path.join(case, "expect")
        for folder, _, names in os.walk(expected_root):
            for name in names:
                relative = os.path.relpath(os.path.join(folder, name), expected_root)
                with open(os.path.join(expected_root, relative), "rb") as handle:
                    want = handle.read()
                full = os.path.join(work, relative)
                if not os.path.isfile(full):
                    failures.append(f"{relative} was not written")
                    continue
                with open(full, "rb") as handle:
                    if handle.read() != want:
                        failures.append(f"{relative} differs from expect/{relative}")

    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
