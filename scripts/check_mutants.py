#!/usr/bin/env python3
"""Mutation check: applies each mutant of tests/mutants.txt to a scratch copy
of the tree, rebuilds it incrementally and runs the tests that link the
mutated code, to learn which tests catch which fault.

Python standard library only. Entry point: scripts/check-mutants.sh.
"""

import argparse
import fcntl
import json
import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CATALOGUE = ROOT / "tests" / "mutants.txt"
WORK = ROOT / "build-mutants"
TREE = WORK / "tree"
BUILD = WORK / "build"
LOGS = WORK / "logs"
RESULTS = WORK / "results.tsv"
PREVIOUS = WORK / "results-previous.tsv"

ALL_LABELS = ["core", "sound", "ui", "durability", "e2e"]
# Mirrors the globs of CMakeLists.txt: these files go into sonavel_ui, which
# only ui_tests and the program itself (the e2e tests) link.
UI_LIBRARY = re.compile(
    r"^src/(ui/|platform/qt/|midi/frm|startup/mod)")


class Mutant:
    def __init__(self, ident, path, occurrence, original, replacement, fault, line):
        self.ident = ident
        self.path = path
        self.occurrence = occurrence
        self.original = original
        self.replacement = replacement
        self.fault = fault
        self.line = line

    def labels(self):
        if self.path == "src/main.cpp":
            return ["e2e"]
        if UI_LIBRARY.match(self.path):
            return ["ui", "e2e"]
        return ALL_LABELS


def unescape(text):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            out.append({"n": "\n", "|": "|", "\\": "\\"}.get(n, "\\" + n))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def read_catalogue():
    mutants, problems, seen = [], [], set()
    for number, raw in enumerate(CATALOGUE.read_text().splitlines(), 1):
        if not raw.strip() or raw.lstrip().startswith("#"):
            continue
        fields = raw.split(" | ")
        if len(fields) != 5:
            problems.append(f"line {number}: {len(fields)} fields, not 5")
            continue
        ident, where, original, replacement, fault = (f.strip() for f in fields)
        path, _, nth = where.partition("@")
        if ident in seen:
            problems.append(f"line {number}: id {ident} given twice")
        seen.add(ident)
        mutants.append(Mutant(ident, path, int(nth) if nth else 0,
                              unescape(original), unescape(replacement), fault, number))
    return mutants, problems


def apply_to(text, m):
    """The mutated text, or a reason why the mutant does not apply."""
    count = text.count(m.original)
    if not m.original:
        return None, "empty original"
    if m.occurrence:
        if count < m.occurrence:
            return None, f"occurrence {m.occurrence} asked, {count} found"
        at = -1
        for _ in range(m.occurrence):
            at = text.find(m.original, at + 1)
    else:
        if count != 1:
            return None, f"original found {count} times"
        at = text.find(m.original)
    if m.original == m.replacement:
        return None, "replacement equals original"
    return text[:at] + m.replacement + text[at + len(m.original):], None


def check_applies(mutants, base):
    bad = []
    for m in mutants:
        f = base / m.path
        if not f.is_file():
            bad.append((m, "no such file"))
            continue
        _, why = apply_to(f.read_text(), m)
        if why:
            bad.append((m, why))
    return bad


def project_files():
    out = subprocess.run(
        ["git", "-C", str(ROOT), "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        check=True, capture_output=True).stdout.decode()
    return sorted({p for p in out.split("\0") if p and (ROOT / p).is_file()})


def sync_tree():
    """Copies the working tree into TREE, touching only files that differ, so
    that a second run rebuilds only what changed."""
    files = project_files()
    wanted = set(files)
    for rel in files:
        src, dst = ROOT / rel, TREE / rel
        if dst.is_file() and dst.read_bytes() == src.read_bytes():
            continue
        dst.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(src, dst)
        os.utime(dst)  # newer than anything built from an older copy
    for dst in list(TREE.rglob("*")):
        if dst.is_file() and str(dst.relative_to(TREE)) not in wanted:
            dst.unlink()


def nice(cmd):
    return ["nice", "-n", "10"] + cmd


def configure():
    if (BUILD / "build.ninja").exists():
        return
    cmd = ["cmake", "-S", str(TREE), "-B", str(BUILD), "-G", "Ninja",
           "-DSONAVEL_BUILD_TESTS=ON", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
    if shutil.which("ccache"):
        cmd.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
    subprocess.run(cmd, check=True)


def build(log):
    with open(log, "a") as out:
        r = subprocess.run(nice(["ninja", "-C", str(BUILD), "-j2"]), stdout=out,
                           stderr=subprocess.STDOUT)
    return r.returncode == 0


def ctest_names():
    out = subprocess.run(["ctest", "--test-dir", str(BUILD), "--show-only=json-v1"],
                         check=True, capture_output=True).stdout
    return [t["name"] for t in json.loads(out)["tests"]]


def cmake_regex(names):
    special = set(".^$*+?()[]\\|")
    return "|".join("^" + "".join("\\" + c if c in special else c for c in n) + "$"
                    for n in names)


def run_tests(labels, timeout, junit, log, names=None, stop=False):
    """Runs the tests with one of the labels (or exactly the named ones) and
    returns {test name: 'pass' | 'fail' | 'skip'}; with stop, no test starts
    after the first failure."""
    cmd = ["ctest", "--test-dir", str(BUILD), "-j2", "--timeout", str(timeout),
           "--output-junit", str(junit)]
    if stop:
        cmd.append("--stop-on-failure")
        # Without the costs of earlier runs ctest keeps the order of the test
        # files, quick model tests first, so the first failure comes soon.
        (BUILD / "Testing" / "Temporary" / "CTestCostData.txt").unlink(missing_ok=True)
    if names is not None:
        cmd += ["-R", cmake_regex(names)]
    elif set(labels) != set(ALL_LABELS):
        cmd += ["-L", "|".join(labels)]
    if junit.exists():
        junit.unlink()
    with open(log, "a") as out:
        out.write("$ " + " ".join(cmd) + "\n")
        out.flush()
        subprocess.run(nice(cmd), stdout=out, stderr=subprocess.STDOUT)
    results = {}
    if not junit.exists():
        return results
    for case in ET.parse(junit).getroot().iter("testcase"):
        status = case.get("status", "")
        if case.find("failure") is not None or case.find("error") is not None or status == "fail":
            results[case.get("name")] = "fail"
        elif status == "run":
            results[case.get("name")] = "pass"
        else:  # notrun, disabled, skipped: not a verdict either way
            results[case.get("name")] = "skip"
    return results


def read_results(path):
    out = {}
    if path.exists():
        for line in path.read_text().splitlines()[1:]:
            parts = line.split("\t")
            if len(parts) >= 2:
                out[parts[0]] = parts[1]
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--only", help="comma-separated mutant ids")
    ap.add_argument("--match", help="regular expression on the id or the file")
    ap.add_argument("--list", action="store_true",
                    help="check that every entry applies exactly once; build nothing")
    ap.add_argument("--keep-going", action="store_true",
                    help="skip entries that do not apply instead of stopping")
    ap.add_argument("--score-only", action="store_true",
                    help="stop each mutant's tests at the first failure: the score in a "
                         "fraction of the time, but not which tests alone kill a mutant")
    ap.add_argument("--timeout", type=int, default=90,
                    help="seconds per test before it counts as failing (default 90)")
    args = ap.parse_args()

    mutants, problems = read_catalogue()
    if args.only:
        wanted = set(args.only.split(","))
        unknown = wanted - {m.ident for m in mutants}
        if unknown:
            sys.exit(f"unknown mutant ids: {', '.join(sorted(unknown))}")
        mutants = [m for m in mutants if m.ident in wanted]
    if args.match:
        rx = re.compile(args.match)
        mutants = [m for m in mutants if rx.search(m.ident) or rx.search(m.path)]

    bad = check_applies(mutants, ROOT)
    for p in problems:
        print(f"catalogue: {p}")
    for m, why in bad:
        print(f"does not apply: {m.ident} ({m.path}, line {m.line}): {why}")
    if args.list:
        by_folder = {}
        for m in mutants:
            folder = m.path.split("/")[1] if m.path.count("/") > 1 else "."
            by_folder[folder] = by_folder.get(folder, 0) + 1
        print("per folder: " + ", ".join(f"{k} {v}" for k, v in sorted(by_folder.items())))
        ok = len(mutants) - len(bad)
        print(f"{ok} of {len(mutants)} entries apply exactly once")
        return 0 if not bad and not problems else 1
    if (bad or problems) and not args.keep_going:
        sys.exit("fix the catalogue, or pass --keep-going to leave those entries out")
    skipped = {m.ident for m, _ in bad}
    mutants = [m for m in mutants if m.ident not in skipped]

    WORK.mkdir(exist_ok=True)
    lock = open(WORK / ".lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.exit("another mutation run is using build-mutants/")
    LOGS.mkdir(exist_ok=True)
    started = time.monotonic()

    print("copying the tree to build-mutants/tree", flush=True)
    sync_tree()
    configure()
    base_log = LOGS / "unmutated.log"
    base_log.write_text("")
    if not build(base_log):
        sys.exit(f"the unmutated tree does not build: see {base_log}")
    print("running the whole suite unmutated", flush=True)
    base = run_tests(ALL_LABELS, args.timeout, WORK / "unmutated.xml", base_log)
    if not base:
        sys.exit(f"no test results from the unmutated run: see {base_log}")
    passing = {n for n, s in base.items() if s == "pass"}
    left_out = sorted(n for n, s in base.items() if s != "pass")
    print(f"{len(passing)} tests pass unmutated ({time.monotonic() - started:.0f} s so far)")
    for n in left_out:
        print(f"  left out, {'fails' if base[n] == 'fail' else 'skipped'} unmutated: {n}")

    previous = read_results(RESULTS)
    if RESULTS.exists():
        RESULTS.replace(PREVIOUS)
    table = open(RESULTS, "w")
    table.write("id\tstatus\tkilled_by\n")
    table.flush()

    outcome = {}  # id -> (status, killers)
    for i, m in enumerate(mutants, 1):
        t0 = time.monotonic()
        target = TREE / m.path
        original = target.read_text()
        mutated, why = apply_to(original, m)
        log = LOGS / f"{m.ident}.log"
        log.write_text(f"{m.ident}: {m.path}: {m.fault}\n")
        if mutated is None:  # the scratch tree differs from the worktree
            print(f"[{i}/{len(mutants)}] {m.ident}: does not apply in the copy: {why}")
            continue
        try:
            target.write_text(mutated)
            if not build(log):
                status, killers = "no-build", []
            else:
                got = run_tests(m.labels(), args.timeout, WORK / "mutant.xml", log,
                                stop=args.score_only)
                failed = sorted(n for n, s in got.items() if s == "fail" and n in passing)
                # A failure counts only when it happens again: a flaky test must
                # not pass for the only one to catch a fault.
                if failed:
                    again = run_tests(m.labels(), args.timeout, WORK / "again.xml", log,
                                      names=failed)
                    failed = [n for n in failed if again.get(n) == "fail"]
                status, killers = ("killed" if failed else "survived"), failed
        finally:
            target.write_text(original)
            os.utime(target)  # so that the next build compiles the restored file
        outcome[m.ident] = (status, killers)
        table.write(f"{m.ident}\t{status}\t{','.join(killers)}\n")
        table.flush()
        print(f"[{i}/{len(mutants)}] {m.ident} {status}"
              + (f" by {len(killers)} tests" if killers else "")
              + f" ({time.monotonic() - t0:.0f} s)", flush=True)
    table.close()
    build(base_log)  # leave the scratch build unmutated

    report(mutants, outcome, passing, previous, time.monotonic() - started, args.score_only)
    return 0


def report(mutants, outcome, passing, previous, seconds, score_only=False):
    by_id = {m.ident: m for m in mutants}
    scored = {k: v for k, v in outcome.items() if v[0] != "no-build"}
    killed = [k for k, v in scored.items() if v[0] == "killed"]
    print()
    print(f"{len(outcome)} mutants in {seconds / 60:.0f} min")
    for k, v in outcome.items():
        if v[0] == "no-build":
            print(f"does not build (left out of the score): {k}: {by_id[k].fault}")
    total = len(scored)
    percent = 100.0 * len(killed) / total if total else 0.0
    print()
    print("Mutation score:")
    print(f"{len(killed)}/{total} ({percent:.1f}%)")
    print()
    print("Survivors:")
    for k, v in outcome.items():
        if v[0] == "survived":
            print(f"  {k} ({by_id[k].path}): {by_id[k].fault}")
    if score_only:
        print()
        print("(--score-only: each mutant's tests stopped at its first killer)")
    else:
        unique = {}
        for k in killed:
            killers = outcome[k][1]
            if len(killers) == 1:
                unique.setdefault(killers[0], []).append(k)
        print()
        print("Tests that alone kill a mutant:")
        for test in sorted(unique):
            print(f"  {test}: {', '.join(sorted(unique[test]))}")
        print(f"{len(passing) - len(unique)} of {len(passing)} tests kill nothing unique")
    changed = [(k, previous[k], v[0]) for k, v in outcome.items()
               if k in previous and previous[k] != v[0]]
    if changed:
        print()
        print("Changed since the previous run (results-previous.tsv):")
        for k, was, now in changed:
            print(f"  {k}: {was} -> {now}")


if __name__ == "__main__":
    sys.exit(main())
