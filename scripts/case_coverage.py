#!/usr/bin/env python3
"""The lines of src/ each host case runs, as JSON {case: ["src/...:line", ...]}: for
`mutants.py --covering`, and to see which cases run a line no other case runs.

It needs the host test binary built by clang with coverage mapping, in a private copy of
the tree (the build writes no file of the tree itself):

  cmake -S . -B build/cov -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \\
        -DCMAKE_CXX_COMPILER=clang++ "-DCMAKE_C_FLAGS=-fprofile-instr-generate -fcoverage-mapping" \\
        "-DCMAKE_CXX_FLAGS=-fprofile-instr-generate -fcoverage-mapping" \\
        -DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate -DCMAKE_SHARED_LINKER_FLAGS=-fprofile-instr-generate
  cmake --build build/cov --target fa9wolt_tests
  python3 scripts/case_coverage.py --tree . --build build/cov --out cases.json

Each case runs alone (about a second each with the profile's export).
"""
import argparse
import json
import os
import subprocess
import tempfile


def cases_of(binary):
    listing = subprocess.run([binary, "--gtest_list_tests"], capture_output=True, text=True,
                             cwd=os.path.dirname(binary)).stdout
    cases, suite = [], None
    for line in listing.splitlines():
        if not line.strip() or line.startswith("Running"):
            continue
        if line.startswith(" "):
            cases.append(suite + line.split()[0])
        else:
            suite = line.split()[0]
    return cases


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tree", required=True, help="the source tree the build was made from")
    ap.add_argument("--build", required=True, help="its coverage build")
    ap.add_argument("--out", required=True)
    args = ap.parse_args()
    tree = os.path.abspath(args.tree)
    binary = os.path.join(os.path.abspath(args.build), "tests", "fa9wolt_tests")
    result = {}
    with tempfile.TemporaryDirectory() as work:
        for case in cases_of(binary):
            # The children the case starts write profiles of their own; only the test binary's counts.
            env = dict(os.environ, LLVM_PROFILE_FILE=os.path.join(work, "%p.profraw"))
            subprocess.run([binary, "--gtest_filter=" + case], capture_output=True, cwd=os.path.dirname(binary),
                           env=env)
            raws = [os.path.join(work, f) for f in os.listdir(work) if f.endswith(".profraw")]
            merged = os.path.join(work, "case.profdata")
            subprocess.run(["llvm-profdata-14", "merge", "-sparse", "-o", merged] + raws, capture_output=True)
            lcov = subprocess.run(["llvm-cov-14", "export", "-format=lcov", "-skip-expansions", "-skip-functions",
                                   "-instr-profile", merged, binary, os.path.join(tree, "src")],
                                  capture_output=True, text=True).stdout
            lines, source = [], None
            for row in lcov.splitlines():
                if row.startswith("SF:"):
                    source = os.path.relpath(row[3:], tree)
                elif row.startswith("DA:") and int(row[3:].split(",")[1]) > 0:
                    lines.append(f"{source}:{row[3:].split(',')[0]}")
            result[case] = lines
            for f in raws + [merged]:
                os.remove(f)
            print(f"{case}: {len(lines)} lines", flush=True)
    with open(args.out, "w") as f:
        json.dump(result, f)


if __name__ == "__main__":
    main()
