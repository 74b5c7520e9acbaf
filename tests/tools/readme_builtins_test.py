#!/usr/bin/env python3
"""Checks the README's list of each builtin family's members against the
program: a name outside a dotted family draws a note that lists the
family's members, which must be the README's, every name the README
lists must be one the program knows, and the arguments the README writes
beside a member must be the form the program's note gives when a call
passes another number of them.

Usage: readme_builtins_test.py <qovrin> <README.md>
"""

import os
import re
import subprocess
import sys
import tempfile

NO_SUCH = "there is no builtin or function named"


def families(readme):
    """{prefix: (builtins, statements, {builtin: form})} from the lines after
    the sentence that introduces them."""
    at = readme.index("The families' members")
    block = readme[at:readme.index("\n## ", at)]
    found = {}
    for item in re.split(r"\n  - ", block)[1:]:
        item = " ".join(item.split())
        prefix = re.match(r"`([a-z]+[._])`:", item).group(1)
        # What follows a ';' or ' (' is said about the members, not listed.
        listed, _, statements = re.split(r";| \(", item)[0].partition("the statement")
        names, forms = [], {}
        for written in re.findall(r"`([^`]+)`", listed)[1:]:
            name = written.split("(")[0]
            # Dotted families list their members without the prefix.
            name = name if name.startswith(prefix) else prefix + name
            if name not in forms:
                names.append(name)
            form = written if written.startswith(prefix) else prefix + written
            forms[name] = forms[name] + " or " + form if name in forms else form
        found[prefix] = (names, re.findall(r"`([a-z0-9_.]+)`", statements), forms)
    return found


def noted_form(qovrin, work, name):
    """The argument form the note beside a call of the wrong count gives."""
    for count in range(8):
        stderr = refusal(qovrin, work, "let x = %s(%s)\n" % (name, ", ".join(["1"] * count)))
        match = re.search(r"'%s' takes [^,]*(?:, \d+ given)?: (.*)$" % re.escape(name), stderr, re.M)
        if match and " given: " in stderr:
            return match.group(1)
    return None


def refusal(qovrin, work, source):
    with open(os.path.join(work, "main.qov"), "w") as handle:
        handle.write(source)
    run = subprocess.run([qovrin, "main.qov", "--no-progress", "-o", "out.bin"], cwd=work, capture_output=True,
                         stdin=subprocess.DEVNULL, timeout=60)
    return run.stderr.decode("utf-8", "replace")


def listed_in_note(stderr, family):
    match = re.search(r"the %s builtins are (.*?)(?:, and (.*) changes?|$)" % re.escape(family), stderr, re.M)
    if not match:
        return None
    split = lambda text: [name for name in re.split(r", | and ", text or "") if name]
    return split(match.group(1)), split(match.group(2))


def main():
    qovrin = os.path.abspath(sys.argv[1])
    with open(sys.argv[2], encoding="utf-8") as handle:
        readme = handle.read()
    problems = []
    with tempfile.TemporaryDirectory(prefix="qovrin-readme-") as work:
        for prefix, (names, statements, forms) in families(readme).items():
            if prefix.endswith("."):
                stderr = refusal(qovrin, work, "let x = %sno_such_member(1)\n" % prefix)
                if listed_in_note(stderr, prefix[:-1]) != (names, statements):
                    problems.append("%s: the README lists %s and %s, the note says:\n%s" %
                                    (prefix, names, statements, stderr))
            for name in names:
                if NO_SUCH in refusal(qovrin, work, "let x = %s()\n" % name):
                    problems.append("the README lists %s, which the program does not know" % name)
                # A member that takes any count has no note to compare with.
                noted = noted_form(qovrin, work, name)
                if noted != forms[name] and not (noted is None and forms[name].endswith(", ...)")):
                    problems.append("the README writes %s, the program's note %s" % (forms[name], noted))
    for problem in problems:
        print(problem)
    print("%d problems in the README's builtin families" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
