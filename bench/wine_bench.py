#!/usr/bin/env python3
"""What the custom actions add to an installation in the real engine: Wine's msiexec
installs the package (its nine VC80 runtime rows at their real sizes, 4.1 MB in all) on
the default machine, once with the product's fa9wolt.dll, once with a DLL of the same
exports that all return at once (the no-op), and once with that no-op DLL whose
InitializeWOLTInstallCA copies the same runtime rows with 64 KB reads (the minimal
extractor) and whose DetectDotNetDataProviderInstalledCA only runs the copied
commontoolreg.exe /checkprovider and waits for it (the provider program's own run), and
whose DetectDOTNETEnvCA and SetWOLTDialogTitlePropertiesCA make only the calls to the
installer that the product's make (what those calls alone cost here); the three
alternate, each on a fresh copy of the prepared prefix.

    python3 bench/wine_bench.py [--build-dir build/mingw-x86_64] [--runs 5]
        [--mode install|repair|remove|transform] [--compare OTHER_DLL]

--mode times another run than a first installation: a repair (msiexec /i with
REINSTALL=ALL REINSTALLMODE=omus) or a removal (/x) of the package installed just before
in the same prefix (untimed), or a first installation with a transform that adds two
Property rows (bench/wine/msi_transform.py writes it; nothing here builds a patch).
--compare alternates a fourth package, carrying another build of the DLL, with the three.

An action's time runs from Wine loading the action's DLL in the custom-action server to
unloading it (Wine's loaddll channel with +timestamp, millisecond stamps), so it holds
the DLL's own loading and everything the action asks of the installer. Printed: the
median of each action under each DLL, the time each adds over the no-op (and where the
yardstick DLL does some of the action's work, what that adds: its yardstick), the
extraction's time over the minimal extractor's (both over the no-op), the whole run's
ratio to the no-op's, and the immediate phase: all the DLL's immediate actions of the
execute sequence together, what they add over the no-op's set against the budget of the
extraction's own cost plus the provider program's own run plus 60 ms (each figure the
median of the per-run differences between runs made side by side).
"""

import argparse
import os
import random
import re
import statistics
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "e2e"))
import wine_e2e  # noqa: E402

MACHINE = os.path.join(REPO, "e2e", "machines", "vs2005-vs2008.reg")

# The VC80 runtime rows at the sizes of the redistributable the product carries
# (4.1 MB in all); their bytes are filler, nothing loads them.
VC80_ROWS = {
    "msvcm80.dll": 479232,
    "msvcp80.dll": 548864,
    "msvcr80.dll": 626688,
    "microsoft.vc80.crt.manifest": 1859,
    "mfc80.dll": 1093632,
    "mfc80u.dll": 1101824,
    "mfcm80.dll": 69632,
    "mfcm80u.dll": 69632,
    "microsoft.vc80.mfc.manifest": 1345,
}
# The padding up to 4.1 MB is spread over the two largest rows.
PAD = (4100000 - sum(VC80_ROWS.values())) // 2
VC80_ROWS["mfc80.dll"] += PAD
VC80_ROWS["mfc80u.dll"] += PAD

VARIANTS = ("product", "noop", "extractor")
COMPARE = "compare"  # another build of the product (--compare), alternated with the rest
WHOLE = "(whole msiexec run)"
IMMEDIATE = "(immediate actions together)"
EXTRACTION = "InitializeWOLTInstallCA"
PROVIDER = "DetectDotNetDataProviderInstalledCA"
# What the immediate phase may add over the no-op beyond the extraction and the
# provider program's run.
IMMEDIATE_ALLOWANCE = 0.060

# trace:loaddll lines with +timestamp: "<seconds>.<ms>:<pid>:<tid>:trace:loaddll:... Loaded L"<path>" ..."
LOADDLL = re.compile(r'^(\d+\.\d+):.*?trace:loaddll:\w+ (Loaded|Unloaded module) L?"([^"]+)"')
ACTION_START = re.compile(r"^Action start \d+:\d+:\d+: (\S+?)\.\s*$")


def rows_dir(work):
    out = os.path.join(work, "rows")
    os.makedirs(out, exist_ok=True)
    files = {}
    for name, size in VC80_ROWS.items():
        path = os.path.join(out, name)
        if not os.path.exists(path) or os.path.getsize(path) != size:
            rng = random.Random(name)
            with open(path, "wb") as f:
                f.write(rng.randbytes(size))
        files[name] = path
    return files


def build_stubs(work):
    """The no-op DLL and the minimal extractor, with the exports of src/actions/fa9wolt.def."""
    out = os.path.join(work, "stubs")
    os.makedirs(out, exist_ok=True)
    names = []
    with open(os.path.join(REPO, "src", "actions", "fa9wolt.def")) as f:
        on = False
        for line in f:
            word = line.split(";")[0].strip()
            if word == "EXPORTS":
                on = True
            elif on and word:
                names.append(word.split()[0])
    with open(os.path.join(out, "stub_exports.h"), "w") as f:
        for n in names:
            f.write("#ifndef SKIP_%s\nSTUB(%s)\n#endif\n" % (n, n))
    dlls = {}
    for variant, flags in (("noop", []), ("extractor", ["-DMINIMAL_EXTRACTOR", "-DPROVIDER_RUN", "-DCALL_FLOORS"])):
        dll = os.path.join(out, variant, "fa9wolt.dll")
        os.makedirs(os.path.dirname(dll), exist_ok=True)
        wine_e2e.run(["x86_64-w64-mingw32-gcc", "-shared", "-O2", "-s", "-static-libgcc", "-Wall", "-I", out] + flags +
                     ["-o", dll, os.path.join(HERE, "wine", "stub_actions.c"), "-lmsi"])
        dlls[variant] = dll
    return dlls


def build_packages(build_dir, work, product_dll=None, compare_dll=None):
    rows = rows_dir(work)
    dlls = build_stubs(work)
    dlls["product"] = product_dll or os.path.join(build_dir, "src", "fa9wolt.dll")
    if compare_dll:
        dlls[COMPARE] = compare_dll
    options = []
    for name, path in rows.items():
        options += ["--row", "%s=%s" % (name, path)]
    packages = {}
    for variant in dlls:
        msi = os.path.join(work, "packages", variant, "fa9wolt.msi")
        packages[variant] = wine_e2e.build_package(build_dir, msi, ["--dll", dlls[variant]] + options,
                                                   cache_dir=os.path.join(work, "packages"))
    return packages


def dll_actions(package):
    """{action: custom-action type} of the rows that call the package's fa9wolt.dll."""
    out = wine_e2e.run(["msiinfo", "export", package.path, "CustomAction"]).stdout.decode()
    actions = {}
    for line in out.splitlines()[3:]:
        parts = line.split("\t")
        if len(parts) >= 4 and parts[2] == "fa9wolt.dll":
            actions[parts[0]] = int(parts[1])
    return actions


def executed_actions(log_path, actions):
    """The DLL actions in the order they ran: immediate ones where the log starts them,
    deferred ones when InstallFinalize runs the script (their first mention only
    schedules them); rollback rows do not run in a successful installation."""
    order, in_script = [], False
    with open(log_path, encoding="latin-1") as f:
        for line in f:
            m = ACTION_START.match(line.strip())
            if not m:
                if line.startswith("Action ended") and "InstallFinalize" in line:
                    in_script = False
                continue
            name = m.group(1)
            if name == "InstallFinalize":
                in_script = True
            kind = actions.get(name)
            if kind is None:
                continue
            deferred = kind & 0x400
            rollback = kind & 0x100
            if rollback:
                continue
            if bool(deferred) == in_script:
                order.append(name)
    return order


def action_times(stderr, order, immediate):
    """{action: seconds} from the loads and unloads of the custom-action DLL (Wine keeps
    it as a temporary msi*.tmp file), and under IMMEDIATE the sum of the `immediate` ones."""
    spans, start = [], None
    for line in stderr.splitlines():
        m = LOADDLL.match(line)
        if not m or not re.search(r"\\msi[0-9A-Fa-f]+\.tmp$", m.group(3)):
            continue
        t = float(m.group(1))
        if m.group(2) == "Loaded":
            start = t
        elif start is not None:
            spans.append(t - start)
            start = None
    if len(spans) != len(order):
        raise wine_e2e.E2EError("%d DLL loads for %d actions: %s" % (len(spans), len(order), order))
    times = {IMMEDIATE: 0.0}
    for name, span in zip(order, spans):
        times[name] = times.get(name, 0.0) + span
        if name in immediate:
            times[IMMEDIATE] += span
    return times


# What each mode runs before the timed msiexec run, and the timed run's arguments after
# the package (a repair as the e2e scenarios make one; "/fa" is not what they use).
MODES = {
    "install": ([], ["/i"], []),
    "repair": ([["/i"]], ["/i"], ["REINSTALL=ALL", "REINSTALLMODE=omus"]),
    "remove": ([["/i"]], ["/x"], []),
    "transform": ([], ["/i"], ["TRANSFORMS={transform}"]),
}


def transform_file(work):
    """The transform of the "transform" mode: two Property rows added."""
    sys.path.insert(0, os.path.join(HERE, "wine"))
    import msi_transform
    path = os.path.join(work, "bench.mst")
    with open(path, "wb") as f:
        f.write(msi_transform.property_transform({"FA9_BENCH_TRANSFORM": "1", "FA9_BENCH_SITE": "bench"}))
    return path


def msiexec_once(wine_run, m, package, args, label):
    """One msiexec run under the launcher: (stderr, seconds); fails unless it answered 0."""
    log = os.path.join(m.dir, label + ".log")
    code_file = os.path.join(m.dir, label + ".code")
    t0 = time.monotonic()
    p = wine_e2e.run([wine_e2e.WINE, wine_run.helpers["launch"], wine_e2e.win_path(code_file), "msiexec", args[0],
                      wine_e2e.win_path(package.path), "/l*v", wine_e2e.win_path(log), "/qn"] + args[1:],
                     env=m.env, timeout=300, check=False, may_retry=lambda: not os.path.exists(log))
    whole = time.monotonic() - t0
    with open(os.path.join(m.dir, label + ".stderr"), "wb") as f:
        f.write(p.stderr)
    with open(code_file) as f:
        code = int(f.read().strip())
    if code != 0:
        raise wine_e2e.E2EError("%s: msiexec answered %d (log %s)" % (label, code, log))
    return p.stderr, log, whole


def install_once(wine_run, package, label, mode="install", transform=None):
    before, action, extra = MODES[mode]
    with wine_run.machine(label) as m:
        m.seed_registry(wine_e2e.read_reg_file(MACHINE), "machine")
        m.add_programs()
        for i, args in enumerate(before):
            m.env["WINEDEBUG"] = "fixme-all"
            msiexec_once(wine_run, m, package, args, "before%d" % i)
        m.env["WINEDEBUG"] = "fixme-all,+timestamp,+loaddll"
        args = action + [a.format(transform=transform and wine_e2e.win_path(transform)) for a in extra]
        stderr, log, whole = msiexec_once(wine_run, m, package, args, mode)
        actions = dll_actions(package)
        order = executed_actions(log, actions)
        immediate = {name for name in order if not actions[name] & 0x400}
        times = action_times(stderr.decode(errors="replace"), order, immediate)
        times[WHOLE] = whole
        return times


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build-dir", default=os.path.join(REPO, "build", "mingw-x86_64"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--work-dir", default=None)
    ap.add_argument("--json", default=None, help="also write the medians here")
    ap.add_argument("--dll", default=None, help="another product DLL (default: the build's)")
    ap.add_argument("--compare", default=None, metavar="DLL",
                    help="another build of fa9wolt.dll, run alternately with the others: what each action adds "
                         "with it beside what it adds with the product DLL")
    ap.add_argument("--mode", choices=sorted(MODES), default="install",
                    help="the timed run: a first installation (default), a repair or a removal of an installed "
                         "package, or a first installation with a transform that adds Property rows")
    args = ap.parse_args()
    build_dir = os.path.abspath(args.build_dir)
    work = os.path.abspath(args.work_dir or os.path.join(build_dir, "bench-wine"))
    packages = build_packages(build_dir, work, args.dll and os.path.abspath(args.dll),
                              args.compare and os.path.abspath(args.compare))
    variants = VARIANTS + ((COMPARE,) if args.compare else ())
    samples = {v: {} for v in variants}
    transform = transform_file(work) if args.mode == "transform" else None
    with wine_e2e.WineRun(os.path.join(work, "wine")) as wine_run:
        for i in range(args.runs):
            for variant in variants:
                times = install_once(wine_run, packages[variant], "%s-%d" % (variant, i), args.mode, transform)
                for name, t in times.items():
                    samples[variant].setdefault(name, []).append(t)
    med = {v: {n: statistics.median(ts) for n, ts in samples[v].items()} for v in variants}
    report(med, args.runs, args.mode)
    budget = immediate_budget(samples)
    report_budget(budget)
    if args.compare:
        report_compare(med)
    if args.json:
        import json
        with open(args.json, "w") as f:
            json.dump({"medians": med, "immediate_budget": budget}, f, indent=1)


# What the yardstick DLL's own action stands for, where it is more than the no-op's.
YARDSTICKS = {
    EXTRACTION: "the minimal extractor",
    PROVIDER: "the program's bare run",
    "DetectDOTNETEnvCA": "its calls alone",
    "SetWOLTDialogTitlePropertiesCA": "its calls alone",
}


def report(med, runs, mode="install"):
    ms = 1000.0
    print("\nCustom actions in Wine's msiexec (x64, /qn, %s, medians of %d alternating runs), ms" % (mode, runs))
    print("%-36s %9s %9s %9s %9s" % ("action", "product", "no-op", "added", "yardstick"))
    for name in sorted(med["product"], key=lambda n: -med["product"][n]):
        p, n, x = med["product"][name], med["noop"].get(name), med["extractor"].get(name)
        if n is None or name in (WHOLE, IMMEDIATE):
            continue
        yardstick = "%9.1f  (%s)" % ((x - n) * ms, YARDSTICKS[name]) if name in YARDSTICKS and x is not None else ""
        print("%-36s %9.1f %9.1f %9.1f %s" % (name, p * ms, n * ms, (p - n) * ms, yardstick))
    p, n = med["product"].get(WHOLE), med["noop"].get(WHOLE)
    if p and n:
        print("%-36s %9.0f %9.0f %9.0f   (ratio %.2f)" % (WHOLE, p * ms, n * ms, (p - n) * ms, p / n))
    name = "InitializeWOLTInstallCA"
    p, n, x = med["product"].get(name), med["noop"].get(name), med["extractor"].get(name)
    if p is not None and n is not None and x is not None:
        added, minimal = p - n, x - n
        print("\nRuntime extraction: adds %.0f ms; the minimal extractor with 64 KB reads adds %.0f ms; ratio %.2f" % (
            added * ms, minimal * ms, added / minimal if minimal > 0 else float("inf")))


def paired_added(samples, variant, name):
    """The median over runs of what `name` took under `variant` minus what it took under
    the no-op in the same round of alternating runs (None when either lacks it)."""
    ours, base = samples[variant].get(name), samples["noop"].get(name)
    if not ours or not base or len(ours) != len(base):
        return None
    return statistics.median(a - b for a, b in zip(ours, base))


def immediate_budget(samples):
    """The immediate phase against its budget, in seconds."""
    out = {
        "immediate_added": paired_added(samples, "product", IMMEDIATE),
        "extraction_added": paired_added(samples, "product", EXTRACTION),
        "provider_run": paired_added(samples, "extractor", PROVIDER),
    }
    if None not in out.values():
        out["budget"] = out["extraction_added"] + out["provider_run"] + IMMEDIATE_ALLOWANCE
        out["met"] = out["immediate_added"] <= out["budget"]
    return out


def report_budget(b):
    ms = 1000.0
    if "budget" not in b:
        print("\nImmediate phase: not measured (an action did not run under every DLL)")
        return
    print("\nImmediate phase (the DLL's immediate actions together, medians of per-run differences), ms")
    print("%-58s %7.0f" % ("all immediate actions, added over the no-op's", b["immediate_added"] * ms))
    print("%-58s %7.0f" % ("the extraction's own (%s over the no-op)" % EXTRACTION, b["extraction_added"] * ms))
    print("%-58s %7.0f" % ("the provider program's own run (start, run, exit code)", b["provider_run"] * ms))
    print("Budget: immediate phase <= extraction + provider run + %.0f ms: %.0f <= %.0f + %.0f + %.0f = %.0f: %s" % (
        IMMEDIATE_ALLOWANCE * ms, b["immediate_added"] * ms, b["extraction_added"] * ms, b["provider_run"] * ms,
        IMMEDIATE_ALLOWANCE * ms, b["budget"] * ms, "met" if b["met"] else "NOT MET"))


def report_compare(med):
    ms = 1000.0
    print("\nThe same runs with the --compare DLL, ms added over the no-op")
    print("%-36s %9s %9s" % ("action", "product", "compare"))
    for name in sorted(med["product"], key=lambda n: -med["product"][n]):
        p, n, c = med["product"][name], med["noop"].get(name), med[COMPARE].get(name)
        if n is None or c is None:
            continue
        print("%-36s %9.1f %9.1f" % (name, (p - n) * ms, (c - n) * ms))


if __name__ == "__main__":
    main()
