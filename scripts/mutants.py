#!/usr/bin/env python3
"""A mutation sampler: how many small faults in src/ do the host tests catch?

From a fixed seed it picks N single mutations of src/**/*.cpp (a flipped comparison or
logical operator, an integer constant off by one, a removed statement, a replaced return
value), and for each one rebuilds the host test binary incrementally, runs it under a
time limit and restores the file. "The host tests" are the GoogleTest binary
fa9wolt_tests (every host case, the process runner's and the property sweep's included);
the rspcheck command-line checks are left out, they drive the same engine.

Run it on a private copy of the tree, never on a working one: it rewrites src/ files.

  python3 scripts/mutants.py --tree /tmp/mutants-x --seed 23 -n 150 --survivors survivors.txt
  python3 scripts/mutants.py --tree /tmp/mutants-x --seed 23 -n 150 --only 17,42
  python3 scripts/mutants.py --tree /tmp/mutants-x --seed 7 -n 300 --matrix matrix.txt
  python3 scripts/mutants.py --tree /tmp/mutants-x --seed 101 -n 300 --matrix matrix.txt --covering cases.json

With --matrix every case runs for every mutant, and a line a mutant names the cases that
failed: a case that no mutant fails alone catches nothing the others do not. --covering
takes the lines each case runs (scripts/case_coverage.py): only sites on lines some case
runs are sampled, and a mutant runs only the cases that run its line (no other can fail
for it), in one process.

The tree needs a host build configured in <tree>/build/host (cmake --preset host).
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time

KEYWORDS_NOT_STATEMENTS = {
    "return", "break", "continue", "goto", "case", "default", "const", "static", "constexpr",
    "auto", "using", "typedef", "namespace", "extern", "struct", "class", "enum", "template",
    "delete", "throw", "else", "do", "if", "for", "while", "switch", "unsigned", "signed",
    "inline", "virtual", "explicit", "public", "private", "protected", "friend",
}


def mask_line(line, in_block):
    """The line with comments, string and character literals replaced by blanks (same
    length), and whether a block comment is still open at its end."""
    out = []
    i, n = 0, len(line)
    while i < n:
        if in_block:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i = end + 2
            in_block = False
            continue
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if line.startswith("/*", i):
            in_block = True
            out.append("  ")
            i += 2
            continue
        if c in "\"'":
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out)[:n], in_block


KIND_GROUP = {"comparison": "operator", "logical": "operator", "constant": "constant",
              "statement": "statement", "return": "return"}
COMPARISONS = {"==": "!=", "!=": "==", "<=": ">", ">=": "<", "<": ">=", ">": "<="}
STATEMENT = re.compile(r"^\s*(\+\+|--)?[A-Za-z_][\w.\[\]]*(->\w+|::\w+|\.\w+|\[[^\]]*\])*"
                       r"\s*(\(|=[^=]|\+=|-=|\|=|&=|\+\+|--)")


def sites_of(path, lines):
    """Every mutation site of one file: (line index, column, old text, new text, kind)."""
    found = []
    in_block = False
    for idx, raw in enumerate(lines):
        masked, in_block = mask_line(raw.rstrip("\n"), in_block)
        code = masked.strip()
        if not code or code.startswith("#"):
            continue
        # Comparisons: ==, != anywhere; <, >, <=, >= only as spaced binary operators, so
        # templates, includes, shifts and arrows are left alone.
        for m in re.finditer(r"(?<=[\w)\] ])\s*(==|!=)\s*(?=[\w(!'\"-])", masked):
            op = m.group(1)
            col = masked.index(op, m.start())
            found.append((idx, col, op, COMPARISONS[op], "comparison"))
        for m in re.finditer(r" (<=|>=|<|>) ", masked):
            op = m.group(1)
            found.append((idx, m.start(1), op, COMPARISONS[op], "comparison"))
        for m in re.finditer(r"&&|\|\|", masked):
            op = m.group(0)
            found.append((idx, m.start(), op, "||" if op == "&&" else "&&", "logical"))
        # Integer constants (not inside identifiers, not hexadecimal digits of a longer
        # literal); skipped on declarations of arrays, where a change only moves a bound
        # the compiler may reject.
        for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.])", masked):
            value = int(m.group(1))
            new = str(value + 1) if value == 0 or (idx + m.start()) % 2 == 0 else str(value - 1)
            found.append((idx, m.start(), m.group(1), new, "constant"))
        # Statements: a call or an assignment that is the whole line.
        if code.endswith(";") and code.count("(") == code.count(")") and STATEMENT.match(code):
            first = re.match(r"[A-Za-z_]\w*", code.lstrip("+-"))
            if first and first.group(0) not in KEYWORDS_NOT_STATEMENTS:
                start = raw.index(code[0]) if code else 0
                found.append((idx, start, raw.rstrip("\n")[start:], ";", "statement"))
        # Returned values.
        m = re.match(r"^(\s*)return\s+(.+?);\s*$", masked)
        if m:
            expr = raw[m.start(2):m.end(2)]
            col = m.start(2)
            if expr == "true":
                new = "false"
            elif expr == "false":
                new = "true"
            elif expr == "0":
                new = "1"
            elif expr in ("nullptr", "NULL"):
                new = None
            else:
                new = "0"
            if new is not None:
                found.append((idx, col, expr, new, "return"))
    return [(path,) + s for s in found]


def all_sites(tree):
    sites = []
    src = os.path.join(tree, "src")
    for root, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            if not name.endswith(".cpp"):
                continue
            full = os.path.join(root, name)
            rel = os.path.relpath(full, tree)
            with open(full, encoding="latin-1") as f:
                sites.extend(sites_of(rel, f.readlines()))
    sites.sort()
    return sites


def run(cmd, cwd, limit, env=None):
    """Runs cmd in its own process group; returns (exit code or None on time-out, output)."""
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True, env=env)
    try:
        out, _ = proc.communicate(timeout=limit)
        return proc.returncode, out.decode("latin-1")
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return None, out.decode("latin-1")
    finally:
        # Children a mutant left behind (its own group) must not outlive the run.
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def run_tests(binary, jobs, limit, every=False):
    """The test binary as `jobs` gtest shards side by side, each stopping at its first
    failure; (None on time-out, else 0 when every shard passed or the first failing
    shard's exit code, its output). Shards only share out the same cases: a failure in
    any of them is a failure of the run, as in one process. `every`: each shard runs all
    its cases and the output is every shard's, so that it names every case that failed."""
    procs, files = [], []
    for index in range(jobs):
        env = dict(os.environ, GTEST_TOTAL_SHARDS=str(jobs), GTEST_SHARD_INDEX=str(index))
        files.append(tempfile.TemporaryFile())  # a file, not a pipe: a shard never blocks on its output
        command = [binary, "--gtest_brief=1"] + ([] if every else ["--gtest_fail_fast"])
        procs.append(subprocess.Popen(command, cwd=os.path.dirname(binary),
                                      stdout=files[-1], stderr=subprocess.STDOUT, start_new_session=True, env=env))
    deadline = time.time() + limit
    result, failed = 0, None
    try:
        pending = set(range(jobs))
        while pending:
            for index in list(pending):
                if procs[index].poll() is None:
                    continue
                pending.discard(index)
                if procs[index].returncode != 0 and result == 0:
                    result, failed = procs[index].returncode, index
                    if not every:
                        pending.clear()  # one failure decides: stop the other shards
            if pending and time.time() > deadline:
                return None, ""
            time.sleep(0.05)
        shown = files if every else [files[failed if failed is not None else 0]]
        for f in shown:
            f.seek(0)
        return result, "".join(f.read().decode("latin-1") for f in shown)
    finally:
        for proc in procs:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait()
        for f in files:
            f.close()


def test_of(case):
    """The TEST a case belongs to: a parameterised one without its prefix and value."""
    if "/" in case.split(".")[0]:
        case = case.split("/", 1)[1]
    return case.split("/")[0]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tree", required=True, help="private copy of the source tree, with build/host configured")
    ap.add_argument("--seed", type=int, default=23)
    ap.add_argument("-n", type=int, default=150)
    ap.add_argument("--only", default="", help="comma-separated mutant ids to run")
    ap.add_argument("--timeout", type=int, default=240, help="seconds for one test run")
    ap.add_argument("--jobs", type=int, default=2, help="gtest shards run side by side for each mutant")
    ap.add_argument("--survivors", default="", help="file to write the survivors to")
    ap.add_argument("--list", action="store_true", help="print the chosen mutants and stop")
    ap.add_argument("--matrix", default="",
                    help="file to write, a line a mutant, the cases that fail for it: every case runs (slower)")
    ap.add_argument("--covering", default="", help="JSON of the src/ lines each case runs (scripts/case_coverage.py)")
    args = ap.parse_args()

    tree = os.path.abspath(args.tree)
    build = os.path.join(tree, "build", "host")
    binary = os.path.join(build, "tests", "fa9wolt_tests")
    sites = all_sites(tree)
    runners = {}  # "path:line" -> the cases that run it
    if args.covering:
        with open(args.covering) as f:
            for case, lines in json.load(f).items():
                for line in lines:
                    runners.setdefault(line, []).append(case)
        sites = [s for s in sites if f"{s[0]}:{s[1] + 1}" in runners]
    # The kind first, then a site of that kind: each kind weighs the same, so the many
    # numbers of the data tables do not make most of the sample.
    kinds = {}
    for site in sites:
        kinds.setdefault(KIND_GROUP[site[5]], []).append(site)
    rng = random.Random(args.seed)
    chosen, taken = [], set()
    while len(chosen) < min(args.n, len(sites)):
        pool = kinds[rng.choice(sorted(kinds))]
        site = rng.choice(pool)
        if site not in taken:
            taken.add(site)
            chosen.append(site)
    mutants = list(enumerate(chosen, 1))
    if args.only:
        wanted = {int(x) for x in args.only.split(",") if x}
        mutants = [m for m in mutants if m[0] in wanted]
    print(f"{len(sites)} sites in src/, seed {args.seed}, {len(chosen)} chosen", flush=True)
    if args.list:
        for mid, (path, idx, col, old, new, kind) in mutants:
            print(f"{mid:4} {path}:{idx + 1} {kind}: {old!r} -> {new!r}")
        return 0

    # The unmutated tree must build and pass, or every mutant would look killed.
    code, out = run(["ninja", "-j2", "fa9wolt_tests"], build, 1800)
    if code != 0:
        print(out[-3000:])
        print("the unmutated tree does not build")
        return 2
    code, out = run_tests(binary, args.jobs, args.timeout)
    if code != 0:
        print(out[-3000:])
        print("the unmutated tests do not pass")
        return 2

    counts = {"killed": 0, "survived": 0, "timeout": 0, "not-compiled": 0}
    survivors = []
    catches = {}  # with --matrix: test -> [mutants it alone catches, mutants others catch too]
    # Mutants of one file in a row, so a restored file is recompiled once per file.
    for mid, (path, idx, col, old, new, kind) in sorted(mutants, key=lambda m: (m[1][0], m[0])):
        full = os.path.join(tree, path)
        with open(full, encoding="latin-1") as f:
            original = f.read()
        lines = original.splitlines(keepends=True)
        line = lines[idx]
        assert line[col:col + len(old)] == old, (mid, path, idx, col, old)
        lines[idx] = line[:col] + new + line[col + len(old):]
        start = time.time()
        try:
            with open(full, "w", encoding="latin-1") as f:
                f.write("".join(lines))
            code, out = run(["ninja", "-j2", "fa9wolt_tests"], build, 900)
            if code != 0:
                verdict = "not-compiled"
            else:
                if args.covering:
                    cases = "--gtest_filter=" + ":".join(runners[f"{path}:{idx + 1}"])
                    fast = [] if args.matrix else ["--gtest_fail_fast"]
                    code, out = run([binary, "--gtest_brief=1", cases] + fast, os.path.dirname(binary), args.timeout)
                else:
                    code, out = run_tests(binary, args.jobs, args.timeout, every=bool(args.matrix))
                if code is None:
                    verdict = "timeout"
                elif code == 0:
                    verdict = "survived"
                else:
                    verdict = "killed"
        finally:
            with open(full, "w", encoding="latin-1") as f:
                f.write(original)
        counts[verdict] += 1
        desc = f"{path}:{idx + 1} {kind}: {old.strip()!r} -> {new!r}"
        failed = ""
        if verdict == "killed":
            m = re.search(r"\[  FAILED  \] (\S+)", out)
            failed = f" ({m.group(1)})" if m else ""
        print(f"{mid:4} {desc} {verdict}{failed} {time.time() - start:.0f}s", flush=True)
        if verdict == "survived":
            survivors.append(f"{mid:4} {desc}")
        if args.matrix:
            cases = sorted(set(re.findall(r"\[  FAILED  \] (\w\S*\.[^\s,]+)", out))) if verdict == "killed" else []
            with open(args.matrix, "a") as f:
                f.write(f"{mid} {verdict} {path}:{idx + 1} {' '.join(cases)}\n")
            tests = {test_of(case) for case in cases}
            for test in tests:
                catches.setdefault(test, [0, 0])[len(tests) > 1] += 1

    # A time-out counts as killed: the tests did not pass.
    judged = counts["killed"] + counts["timeout"] + counts["survived"]
    share = 100.0 * (counts["killed"] + counts["timeout"]) / judged if judged else 0.0
    print(f"summary: seed {args.seed}, N {len(mutants)}: killed {counts['killed']}, timeout {counts['timeout']}, "
          f"survived {counts['survived']}, not compiled {counts['not-compiled']}; "
          f"killed share {share:.1f}% of {judged} compiled")
    if args.matrix:
        print(f"matrix: {sum(1 for a, _ in catches.values() if a)} tests alone catch a mutant; "
              "these catch some, none alone (alone, with others):")
        for test, (alone, shared) in sorted(catches.items()):
            if not alone:
                print(f"  {test} 0 {shared}")
    if args.survivors:
        with open(args.survivors, "w") as f:
            f.write("\n".join(survivors) + ("\n" if survivors else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
