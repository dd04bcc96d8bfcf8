#!/usr/bin/env python3
"""Puts one seeded fault at a time (scripts/mutations.txt) into a copy of the tree, rebuilds it
incrementally, runs the whole suite as CI does (warnings as errors, CI=true: a test that would skip
fails, every label) and reports which faults it catches and which survive.

    scripts/mutation-check.py [--rev REV] [--work DIR] [--only ID,ID] [--tests REGEX] [--list]

--rev takes the tree of a commit (to check an older suite with today's faults); without it the
working tree is copied, uncommitted changes included. The copy and its build stay in --work, so a
second run rebuilds only what changed. --tests builds and runs only the tests whose names match
(a quick check of one suite while others are being written). Run it as root: the end-to-end tests
need the sandbox.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Cheap suites first: a fault that a unit test catches costs no end-to-end run. Every label of
# tests/CMakeLists.txt is here (checked before the first fault).
STAGES = ["unit", "install", "gui", "e2e"]
CI_ENVIRONMENT = dict(os.environ, CI="true")


class Fault:
    def __init__(self, ident, summary):
        self.ident = ident
        self.summary = summary
        self.hunks = []  # [path, old text, new text]


def parse_faults(path):
    faults = []
    hunk = None
    with open(path, encoding="utf-8") as text:
        for number, line in enumerate(text, 1):
            line = line.rstrip("\n")
            where = f"{path}:{number}"
            if not line or line.startswith("#"):
                continue
            if line.startswith("== "):
                ident, _, summary = line[3:].partition(": ")
                faults.append(Fault(ident.strip(), summary.strip()))
                hunk = None
            elif line.startswith("@ "):
                if not faults:
                    sys.exit(f"{where}: a hunk before the first fault")
                hunk = [line[2:].strip(), [], []]
                faults[-1].hunks.append(hunk)
            elif line[:1] in "-+" and hunk is not None:
                hunk[1 if line[0] == "-" else 2].append(line[2:])
            else:
                sys.exit(f"{where}: cannot read {line!r}")
    for fault in faults:
        if not fault.hunks or any(not old for _, old, _ in fault.hunks):
            sys.exit(f"{path}: fault {fault.ident} has a hunk without text to replace")
    return faults


def run(command, cwd=None, log=None):
    return subprocess.run(command, cwd=cwd, stdout=log or subprocess.DEVNULL,
                          stderr=subprocess.STDOUT, text=True).returncode


def tree_files(rev, staging):
    """The folder holding the tree to check, and the paths of its files."""
    if rev:
        archive = subprocess.run(["git", "archive", rev], cwd=ROOT, check=True,
                                 capture_output=True).stdout
        subprocess.run(["tar", "-x", "-C", staging], input=archive, check=True)
        paths = [os.path.relpath(os.path.join(folder, name), staging)
                 for folder, _, files in os.walk(staging) for name in files]
        return staging, paths
    names = subprocess.run(["git", "ls-files", "-z", "-co", "--exclude-standard"], cwd=ROOT,
                           check=True, capture_output=True).stdout.split(b"\0")
    paths = [name.decode() for name in names if name]
    return ROOT, [path for path in paths if os.path.isfile(os.path.join(ROOT, path))]


def sync_tree(rev, source):
    """Makes `source` hold the tree; files whose bytes did not change keep their time stamps, so
    that the build after it is incremental."""
    with tempfile.TemporaryDirectory() as staging:
        origin, paths = tree_files(rev, staging)
        for path in paths:
            target = os.path.join(source, path)
            with open(os.path.join(origin, path), "rb") as new:
                content = new.read()
            if os.path.isfile(target):
                with open(target, "rb") as old:
                    if old.read() == content:
                        continue
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(os.path.join(origin, path), target)
            shutil.copymode(os.path.join(origin, path), target)
    wanted = set(paths)
    for folder, _, files in os.walk(source):
        for name in files:
            if os.path.relpath(os.path.join(folder, name), source) not in wanted:
                os.remove(os.path.join(folder, name))


def apply(fault, source):
    """The files' original texts, after putting the fault in; None where its text is not found
    exactly once."""
    originals = {}
    for path, old, new in fault.hunks:
        full = os.path.join(source, path)
        with open(full, encoding="utf-8") as text:
            content = text.read()
        if full not in originals:
            originals[full] = content
        old_text, new_text = "\n".join(old), "\n".join(new)
        if content.count(old_text) != 1:
            restore(originals)
            return None
        with open(full, "w", encoding="utf-8") as out:
            out.write(content.replace(old_text, new_text))
    return originals


def restore(originals):
    for full, content in originals.items():
        with open(full, "w", encoding="utf-8") as out:
            out.write(content)


def build_tree(build, tests, log):
    """True when the tree (or only the program and the tests matching `tests`) builds."""
    command = ["cmake", "--build", build]
    if tests:
        listed = subprocess.run(["ctest", "--test-dir", build, "-N", "-R", tests], capture_output=True,
                                text=True).stdout
        # The install test is a script: it needs the program alone (and the configured packaging).
        command += ["--target", "tarnowlock"] + re.findall(r"Test +#\d+: (?!install/)\w+/(\w+)", listed)
    return run(command, log=log) == 0


def failing_tests(build, tests, log):
    """Runs the suite stage by stage until one fails; the failing tests' names."""
    for stage in STAGES:
        output = subprocess.run(["ctest", "--test-dir", build, "-L", f"^{stage}$", "--stop-on-failure",
                                 f"-j{os.cpu_count()}"] + (["-R", tests] if tests else []),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                env=CI_ENVIRONMENT).stdout
        log.write(output)
        failed = re.findall(r"^\s*\d+ - (\S+) \(", output.split("The following tests FAILED:")[-1],
                            re.MULTILINE) if "The following tests FAILED:" in output else []
        if failed:
            return failed
    return []


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rev", help="check the tree of this commit instead of the working tree")
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "tarnowlock-mutation"))
    parser.add_argument("--only", help="comma-separated fault ids")
    parser.add_argument("--tests", help="only the tests whose names match this regular expression")
    parser.add_argument("--faults", default=os.path.join(ROOT, "scripts", "mutations.txt"))
    parser.add_argument("--list", action="store_true", help="list the faults and end")
    args = parser.parse_args()

    faults = parse_faults(args.faults)
    if args.only:
        chosen = set(args.only.split(","))
        faults = [fault for fault in faults if fault.ident in chosen]
    if args.list:
        for fault in faults:
            print(f"{fault.ident}: {fault.summary}")
        return 0

    source, build = os.path.join(args.work, "src"), os.path.join(args.work, "build")
    os.makedirs(source, exist_ok=True)
    sync_tree(args.rev, source)
    log_path = os.path.join(args.work, "log.txt")
    with open(log_path, "w") as log:
        # CI's configuration (scripts/build.sh, .ci/run): a fault must build with -Werror.
        configure = ["cmake", "-S", source, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                     "-DTARNOWLOCK_WERROR=ON", "-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON"]
        if run(configure, log=log) or not build_tree(build, args.tests, log):
            sys.exit(f"mutation-check: the unchanged tree does not build (see {log_path})")
        labels = subprocess.run(["ctest", "--test-dir", build, "--print-labels"], capture_output=True,
                                text=True).stdout.partition("All Labels:")[2].split()
        unrun = set(labels) - set(STAGES)
        if unrun:
            sys.exit(f"mutation-check: STAGES misses the labels {', '.join(sorted(unrun))}")
        baseline = failing_tests(build, args.tests, log)
        if baseline:
            sys.exit(f"mutation-check: the unchanged tree fails {', '.join(baseline)} (see {log_path})")

        rows = []
        for fault in faults:
            started = time.time()
            originals = apply(fault, source)
            if originals is None:
                outcome = "NOT APPLIED (text not found once)"
            elif not build_tree(build, args.tests, log):
                outcome = "DOES NOT BUILD"
            else:
                failed = failing_tests(build, args.tests, log)
                outcome = "caught by " + ", ".join(failed) if failed else "SURVIVED"
            if originals is not None:
                restore(originals)
            rows.append((fault, outcome))
            print(f"{fault.ident}: {outcome} ({time.time() - started:.0f} s)", flush=True)
        # Leave the build matching the unchanged tree for the next run.
        build_tree(build, args.tests, log)

    print("\n| fault | outcome |\n|---|---|")
    for fault, outcome in rows:
        print(f"| {fault.ident}: {fault.summary} | {outcome} |")
    survived = [fault.ident for fault, outcome in rows if not outcome.startswith("caught")]
    print(f"\n{len(rows) - len(survived)} of {len(rows)} faults caught")
    return 1 if survived else 0


if __name__ == "__main__":
    sys.exit(main())
