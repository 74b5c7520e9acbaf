#!/usr/bin/env python3
"""Runs the qovrin command with its output or listing going to its own
standard output, through a link in a scratch folder, with standard output a
pipe and a file; and with a standard stream that takes no more bytes.

Run as root, the runs that lead to standard output drop to an unprivileged
user first, so that a faulty build that replaced what the links name instead
of writing through them could not replace /dev/stdout; a link of the test's
own, in the scratch folder, is there for such a build to replace instead.

usage: standard_output_test.py <qovrin>
"""
import os
import pwd
import stat
import subprocess
import sys
import tempfile

TIMEOUT = 60
SOURCE = "db(0x51, 0x4f, 0x56, 0x00, 0xff)\n"
IMAGE = bytes([0x51, 0x4F, 0x56, 0x00, 0xFF])
SUMMARY = b"assembled output (5 bytes, 0 instruction fragments, target x86-64)\n"
# Each leads through /proc to the descriptor the process has as its fd 1;
# None stands for a link of the test's own, made as /dev/stdout is made.
SYSTEM_STDOUT = "/dev/stdout"
PROC_STDOUT = "/proc/self/fd/1"
LINK_TARGETS = [SYSTEM_STDOUT, PROC_STDOUT, None]
OWN_STDOUT = "own-stdout"


def unprivileged_user():
    """The user and group to drop to before a run, or None where the test
    runs unprivileged already."""
    if os.geteuid() != 0:
        return None
    try:
        entry = pwd.getpwnam("nobody")
        return entry.pw_uid, entry.pw_gid
    except KeyError:
        return 65534, 65534


def system_stdout_broken():
    """Why /dev/stdout is not the link to /proc/self/fd/1 it should be, or
    None when it is."""
    if not os.path.islink(SYSTEM_STDOUT):
        kind = "missing" if not os.path.lexists(SYSTEM_STDOUT) else "not a symbolic link"
        return f"{SYSTEM_STDOUT} on this machine is {kind}"
    if os.readlink(SYSTEM_STDOUT) != PROC_STDOUT:
        return f"{SYSTEM_STDOUT} on this machine leads to {os.readlink(SYSTEM_STDOUT)}, not {PROC_STDOUT}"
    return None


# Commands, the stream they write to, and the status when that stream takes
# no bytes: a failed write is the run's failure, named when it is standard
# output that failed, with the note that says which files are complete all
# the same when only the summary after them failed.
FAILED_STREAMS = [
    (["demo.qov", "-o", "demo.bin"], "stdout", 1, "the output demo.bin is complete"),
    (["demo.qov", "-o", "demo.bin", "--listing", "demo.lst", "--timings"], "stdout", 1,
     "the output demo.bin and the listing demo.lst are complete"),
    (["--version"], "stdout", 1, None),
    (["help", "targets"], "stdout", 1, None),
    (["build"], "stdout", 1, "the output built.bin is complete"),
    (["init", "fresh"], "stdout", 1, None),
    (["broken.qov", "-o", "broken.bin"], "stderr", 1, None),
    # A command-line issue would be status 2 if its message got out.
    (["demo.qov", "--bogus"], "stderr", 1, None),
    (["demo.qov", "-o", "quiet.bin"], "stderr", 0, None),
]


def read_file(path):
    """The bytes of the file, or None when there is none."""
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as handle:
        return handle.read()


def check_failed_streams(qovrin, failures):
    """Standard output or error full (/dev/full) or a pipe nobody reads."""
    for target in ("full", "closed pipe"):
        for index, (arguments, stream, status, complete) in enumerate(FAILED_STREAMS):
            with tempfile.TemporaryDirectory(prefix="qovrin-streams-") as work:
                with open(os.path.join(work, "demo.qov"), "w") as handle:
                    handle.write(SOURCE)
                with open(os.path.join(work, "broken.qov"), "w") as handle:
                    handle.write("db(missing)\n")
                with open(os.path.join(work, "qovrin.toml"), "w") as handle:
                    handle.write('[build]\nsource = "demo.qov"\noutput = "built.bin"\n')
                if target == "full":
                    sink = os.open("/dev/full", os.O_WRONLY)
                else:
                    reader, sink = os.pipe()
                    os.close(reader)
                streams = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE, stream: sink}
                run = subprocess.run([qovrin, *arguments], cwd=work, timeout=TIMEOUT, **streams)
                os.close(sink)
                written = os.path.join(work, complete.split()[2]) if complete else None
                if written and read_file(written) != IMAGE:
                    failures.append(f"{' '.join(arguments)} with {stream} a {target}: {written} is not the image")
            said = b"error: WriteFailed\n"
            if complete:
                said += f"note: only the summary on standard output could not be written; {complete}\n".encode()
            named = stream == "stderr" or run.stderr == said
            if run.returncode != status or not named:
                output = "" if run.stdout is None else f", stdout {run.stdout[:200]!r}"
                failures.append(f"{' '.join(arguments)} with {stream} a {target}: status {status}"
                                f"{', ' + said.decode() if stream == 'stdout' else ''}"
                                f" (status {run.returncode}{output}, stderr {run.stderr!r})")


def main():
    qovrin = os.path.abspath(sys.argv[1])
    failures = []

    def expect(name, condition, run):
        if not condition:
            stdout = "" if run.stdout is None else f", stdout {run.stdout[:200]!r}"
            failures.append(f"{name} (status {run.returncode}{stdout}, stderr {run.stderr!r})")

    broken = system_stdout_broken()
    if broken:
        failures.append(f"{broken}, found so before this test ran anything: the cases through it are not run; "
                        f"'ln -sfn {PROC_STDOUT} {SYSTEM_STDOUT}' as root restores it")
    user = unprivileged_user()

    def drop():
        if user is not None:
            # The pipe standard output may be is the test's own, as is the
            # file: the user may open it again through the links.
            if stat.S_ISFIFO(os.fstat(1).st_mode):
                os.fchown(1, *user)
            os.setgroups([])
            os.setgid(user[1])
            os.setuid(user[0])

    with tempfile.TemporaryDirectory(prefix="qovrin-stdout-") as work:
        # The unprivileged user writes its outputs here, and nowhere else.
        os.chmod(work, 0o777)
        with open(os.path.join(work, "demo.qov"), "w") as handle:
            handle.write(SOURCE)
        own = os.path.join(work, OWN_STDOUT)
        os.symlink(PROC_STDOUT, own)

        def run(arguments, stdout):
            return subprocess.run([qovrin, "demo.qov", *arguments, "--no-progress"], cwd=work, stdout=stdout,
                                  stderr=subprocess.PIPE, timeout=TIMEOUT, preexec_fn=drop)

        for index, target in enumerate(LINK_TARGETS):
            if target == SYSTEM_STDOUT and broken:
                continue
            link = f"out-{index}"
            os.symlink(own if target is None else target, os.path.join(work, link))
            target = target or f"{OWN_STDOUT} (a link to {PROC_STDOUT})"

            piped = run(["-o", link], subprocess.PIPE)
            expect(f"{target} as a pipe: exactly the image, the summary on stderr",
                   piped.returncode == 0 and piped.stdout == IMAGE and piped.stderr == SUMMARY, piped)

            # Standard output a file holding more than the image: the same
            # file, cut to the image, not replaced by a new one.
            captured = os.path.join(work, f"captured-{index}.bin")
            with open(captured, "wb") as handle:
                handle.write(b"an older and longer content")
            if user is not None:
                os.chown(captured, *user)
            before = os.stat(captured).st_ino
            with open(captured, "r+b") as handle:
                into_file = run(["-o", link], handle)
            with open(captured, "rb") as handle:
                kept = handle.read()
            expect(f"{target} as a file: that file holds exactly the image",
                   into_file.returncode == 0 and kept == IMAGE and os.stat(captured).st_ino == before
                   and into_file.stderr == SUMMARY and os.path.islink(os.path.join(work, link)), into_file)

            listed = run(["-o", "demo.bin", "--listing", link], subprocess.PIPE)
            expect(f"{target} as the listing: the listing alone on stdout",
                   listed.returncode == 0 and listed.stdout.startswith(b"QOVRIN listing\n")
                   and SUMMARY not in listed.stdout and listed.stderr == SUMMARY, listed)

            # Nothing the links lead through was replaced on the way.
            expect(f"{target}: the link of the test's own still leads to {PROC_STDOUT}",
                   os.path.islink(own) and os.readlink(own) == PROC_STDOUT, listed)

        # The summary stays on standard output when the output is elsewhere.
        plain = run(["-o", "demo.bin"], subprocess.PIPE)
        expect("another output: the summary on stdout", plain.returncode == 0 and plain.stdout == SUMMARY, plain)

    if not broken and system_stdout_broken():
        failures.append(f"{system_stdout_broken()} after this test's runs: one of them replaced it")

    check_failed_streams(qovrin, failures)

    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
