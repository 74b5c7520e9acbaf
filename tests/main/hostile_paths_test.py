#!/usr/bin/env python3
"""Runs the qovrin command where its files are hostile: FIFOs and links that
lead nowhere where `init` puts its files and folders, a FIFO as the
project's source, a project file that is a link leading nowhere, paths that
hold a NUL byte, and outputs written in place that cannot take their new
bytes.

usage: hostile_paths_test.py <qovrin>
"""
import os
import resource
import subprocess
import sys
import tempfile

# A run that waits on a FIFO never ends by itself: this fails it instead.
TIMEOUT = 30


class Runner:
    def __init__(self, qovrin, work):
        self.qovrin = qovrin
        self.work = work
        self.failures = []

    def folder(self, name):
        path = os.path.join(self.work, name)
        os.makedirs(path)
        return path

    def run(self, name, arguments, cwd, prefix=(), limits=()):
        def lower_limits():
            for which, value in limits:
                resource.setrlimit(which, (value, value))

        try:
            # init draws no progress and takes no option for it.
            quiet = [] if arguments[0] == "init" else ["--no-progress"]
            return subprocess.run([*prefix, self.qovrin, *arguments, *quiet], cwd=cwd, capture_output=True,
                                  timeout=TIMEOUT, preexec_fn=lower_limits, stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            self.failures.append(f"{name}: still running after {TIMEOUT} s")
            return None

    def expect(self, name, condition, run):
        if not condition:
            detail = "" if run is None else f" (status {run.returncode}, stderr {run.stderr[-400:]!r})"
            self.failures.append(name + detail)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as handle:
        handle.write(text)


def read(path):
    with open(path, "rb") as handle:
        return handle.read()


# Something in the way of one file or folder `init` writes: the run refuses
# before it writes anything, with or without --force.
FILE_TAKEN = "PathAlreadyExists"
FOLDER_TAKEN = "FileNotFound"
NOWHERE = "is a symbolic link that leads nowhere; move it away first"
FIFO_FOR_FILE = "is a FIFO where the project puts a file; move it away first"
INIT_CASES = [
    ("toml-fifo", "qovrin.toml", "fifo", FILE_TAKEN, FIFO_FOR_FILE),
    ("source-dangling", "src/main.qov", "dangling", FILE_TAKEN, NOWHERE),
    ("readme-fifo", "include/README.md", "fifo", FILE_TAKEN, FIFO_FOR_FILE),
    ("src-fifo", "src", "fifo", FOLDER_TAKEN, "is not a folder but a FIFO; the project needs a folder there"),
    ("src-dangling", "src", "dangling", FOLDER_TAKEN, NOWHERE),
    ("include-fifo", "include", "fifo", FOLDER_TAKEN, "is not a folder but a FIFO; the project needs a folder there"),
    ("include-dangling", "include", "dangling", FOLDER_TAKEN, NOWHERE),
]


def check_init(runner):
    for name, blocked, kind, error, note in INIT_CASES:
        for force in ([], ["--force"]):
            case = name + ("-force" if force else "")
            work = runner.folder(case)
            path = os.path.join(work, "p", blocked)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if kind == "fifo":
                os.mkfifo(path)
            else:
                os.symlink("nowhere/at/all", path)
            run = runner.run(case, ["init", "p", *force], work)
            if run is None:
                continue
            made = sorted(os.listdir(os.path.join(work, "p")))
            expected_made = sorted({blocked.split("/")[0]})
            runner.expect(f"{case}: {error} before anything is written (made {made})",
                          run.returncode == 1 and
                          run.stderr.decode() == f"error: {error}\nnote: 'p/{blocked}' {note}\n" and
                          made == expected_made and sorted(os.listdir(os.path.dirname(path))) ==
                          [os.path.basename(blocked)], run)


def check_build_source(runner):
    """Only a source named on the command line may be a pipe."""
    cases = [
        ("source-named-fifo", '[build]\nsource = "pipe.qov"\n', "pipe.qov"),
        ("source-default-fifo", None, "src/main.qov"),
    ]
    for name, project, source in cases:
        work = runner.folder(name)
        if project is not None:
            write(os.path.join(work, "qovrin.toml"), project)
        os.makedirs(os.path.dirname(os.path.join(work, source)), exist_ok=True)
        os.mkfifo(os.path.join(work, source))
        run = runner.run(name, ["build"], work)
        if run is None:
            continue
        stderr = run.stderr.decode()
        runner.expect(f"{name}: the FIFO {source} is refused as no regular file",
                      run.returncode == 1 and stderr.startswith(f"error: ReadFailed\nnote: '{source}' is not a regular "
                                                                f"file\n") and
                      not os.path.exists(os.path.join(work, "build")), run)


def check_project_link(runner):
    """A project file that is a link leading nowhere is refused by name, not
    taken for no project file."""
    work = runner.folder("project-dangling")
    write(os.path.join(work, "src", "main.qov"), "db(1)\n")
    os.symlink("moved/qovrin.toml", os.path.join(work, "qovrin.toml"))
    run = runner.run("project-dangling", ["build"], work)
    if run is not None:
        runner.expect("project-dangling: FileNotFound naming the link, nothing built",
                      run.returncode == 1 and run.stderr.decode() == "error: FileNotFound\nnote: 'qovrin.toml' is a "
                      "symbolic link that leads nowhere\n" and not os.path.exists(os.path.join(work, "build")), run)


# Every call that names a file, given a name that a NUL byte would cut short
# to one that is there ("x.inc" a file, "sub" a folder).
NUL_FORMS = [
    ('include("x.inc\0junk")', "IncludeNotAvailable"),
    ('import("x.inc\0junk")', "IncludeNotAvailable"),
    ('emit.file("x.inc\0junk")', "FileNotAvailable"),
    ('emit.file("x.inc\0junk", 0, 1)', "FileNotAvailable"),
    ('let t = fs.read_text("x.inc\0junk")', "FileNotAvailable"),
    ('let b = fs.read_bytes("x.inc\0junk", 0, 1)', "FileNotAvailable"),
    ('let j = json.file("x.inc\0junk")', "FileNotAvailable"),
    ('let t = toml.file("x.inc\0junk")', "FileNotAvailable"),
    ('let e = fs.exists("x.inc\0junk")', "FileNotAvailable"),
    ('let l = fs.list_dir("sub\0junk")', "FileNotAvailable"),
    ('let d = fs.is_dir("sub\0junk")', "FileNotAvailable"),
]

# Paths of the project file written with the escape \u0000.
NUL_PROJECTS = [
    ('[build]\nsource = "src/main.qov\\u0000x"\n', "2:10: note: 'source' in [build]"),
    ('[build]\noutput = "out.bin\\u0000x"\n', "2:10: note: 'output' in [build]"),
    ('[include]\nfiles = ["src/main.qov\\u0000x"]\n', "2:10: note: an element of 'files' in [include]"),
]


def check_nul_paths(runner):
    """A NUL byte in a path is refused with a note, never cut short."""
    work = runner.folder("nul")
    write(os.path.join(work, "x.inc"), "db(1)\n")
    os.mkdir(os.path.join(work, "sub"))
    for index, (form, error) in enumerate(NUL_FORMS):
        name = f"nul-{index}"
        write(os.path.join(work, name + ".qov"), form + "\n")
        run = runner.run(name, [name + ".qov"], work)
        if run is None:
            continue
        runner.expect(f"{name}: {form!r} fails with {error} and a note",
                      run.returncode == 1 and f"error: lowering failed: {error}\n".encode() in run.stderr and
                      b"note: '" in run.stderr and b"cannot be read: a file name cannot hold a NUL byte\n" in run.stderr
                      and not os.path.exists(os.path.join(work, name + ".bin")), run)
    for index, (project, note) in enumerate(NUL_PROJECTS):
        name = f"nul-project-{index}"
        folder = runner.folder(name)
        write(os.path.join(folder, "src", "main.qov"), "db(1)\n")
        write(os.path.join(folder, "qovrin.toml"), project)
        run = runner.run(name, ["build"], folder)
        if run is None:
            continue
        runner.expect(f"{name}: {project!r} is refused",
                      run.returncode == 1 and run.stderr.decode() == "error: InvalidBuildConfig\nqovrin.toml:" + note +
                      " holds a NUL byte, which no path can hold\n" and
                      sorted(os.listdir(folder)) == ["qovrin.toml", "src"], run)


# An image that fits under the file size limit, with a listing that does not.
PAIR_SOURCE = "pad(4096)\n"
PAIR_SIZE_LIMIT = 16384


def check_written_in_place(runner):
    """An output and a listing written in place, the listing over the file
    size limit: both stay as they were."""
    work = runner.folder("in-place-pair")
    write(os.path.join(work, "pair.qov"), PAIR_SOURCE)
    for file in ("pair.bin", "pair.lst"):
        write(os.path.join(work, file), "old")
        os.link(os.path.join(work, file), os.path.join(work, "alias-" + file))
    run = runner.run("in-place-pair", ["pair.qov", "-o", "pair.bin", "--listing", "pair.lst"], work,
                     limits=[(resource.RLIMIT_FSIZE, PAIR_SIZE_LIMIT)])
    if run is not None:
        runner.expect("in-place-pair: WriteFailed for the listing, output and listing both old",
                      run.returncode == 1 and run.stderr.decode().startswith(
                          "error: WriteFailed\nnote: cannot write pair.lst: File too large (") and
                      read(os.path.join(work, "pair.bin")) == read(os.path.join(work, "pair.lst")) == b"old", run)


def main():
    qovrin = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="qovrin-hostile-") as work:
        runner = Runner(qovrin, work)
        check_init(runner)
        check_build_source(runner)
        check_project_link(runner)
        check_nul_paths(runner)
        check_written_in_place(runner)
    for failure in runner.failures:
        print("FAIL", failure)
    return 1 if runner.failures else 0


if __name__ == "__main__":
    sys.exit(main())
