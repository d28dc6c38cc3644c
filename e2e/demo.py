#!/usr/bin/env python3
"""Demo report: the test package installed and removed by Wine's msiexec on a default
machine (.NET Framework 2.0, Visual Studio 2005 and 2008), told custom action by
custom action.

    python3 e2e/demo.py [--build-dir build/mingw-x86_64] [--build-dir-x86 build/mingw-i686] [--ui qn|full]

With the 64-bit DLL, three runs: a silent installation that reads the sample response
file package/samples/wolt-tools.rsp (its FILE moves the installation directory), the
removal, and, on a second machine, an installation with the full user interface whose
dialogs a driver goes through, stopping on the Summary dialog long enough for a
screenshot and reading its text back. With the shipped 32-bit DLL, in a 32-bit
custom-action server, the silent installation and the removal again (on a machine that
runs no 32-bit code the report says so and shows the 64-bit runs alone). For each run the report lists every custom action of
fa9wolt.dll that ran (from the log's "Action start"/"Action ended" lines) with its
result, the properties it published (the final property dump compared with a run of
the same package without custom actions), the lines it wrote into the log ("1: ..."
between its start and end), the dialogs and the message boxes that appeared (text,
title, buttons, screenshot).
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_e2e  # noqa: E402

MACHINE = os.path.join(wine_e2e.HERE, "machines", "vs2005-vs2008.reg")

# Which custom action publishes which property: the properties each one sets in the
# session. A published property missing here is still shown, as unattributed.
PUBLISHES = {
    "InitializeWOLTInstallCA": ["pFA9RuntimeDirectory", "CURRENT_PROCESS_DIRECTORY", "PROP_RSP_PROD"],
    "DetectDOTNETEnvCA": ["p_DotNetFWInstalled", "p_DotNetFW11Installed", "p_DotNetFW20Installed",
                          "p_vsnet2003Installed", "p_vsnet2005Installed", "VS80_INSTALLDIR", "VS80_ENVDIR",
                          "VS80_VB_INSTALLED", "p_VS80_VBProdDir", "VS80_VCSHARP_INSTALLED",
                          "p_VS80_VCSHARPProdDir", "VS90_INSTALLDIR", "p_vsnet2008Installed", "VS90_ENVDIR"],
    "CheckWOLTPrereqCA": ["ALLUSERS"],
    "SetWOLTTemplateCompCA": ["TEMPLATE_COMPONENT"],
    "SetWOLTDialogTitlePropertiesCA": ["GENERIC_DLG_TITLE"],
    "CheckWOLTInstallDirCA": ["p_WOLT_installdir_conflict"],
    "SetSilentInstallPropertiesCA": ["INSTALLDIR", "RSP_FILE_PATH", "FA9INSTANCE"],
    "AddSummaryCA": ["RSP_FILE_PATH", "FA9INSTANCE"],
}


# The sample response file of the silent installation, where the demo machine has it,
# and a file the installation puts into the folder the response file names.
SAMPLE_RSP_TARGET = r"C:\rsp\wolt-tools.rsp"
INSTALLED_FILE = r"C:\Tools\WOLT\readme.txt"

# Records the stand-in programs keep of what the custom actions made them do.
RECORDS = {
    "addins.txt": "commontoolreg.exe: the add-in registration",
    "machine.cfg": "macConfigChange.exe: the registered tools folder",
    "devenv.log": "devenv.exe: one line a run",
    "commontoolreg.parent": "commontoolreg.exe: the program that started it, the custom-action server, and "
                            "whether it and commontoolreg.exe run under WOW64",
}

# Properties that differ from the run without custom actions for Wine's own reasons
# (another package file, another cached copy).
VOLATILE = {"DATABASE", "OriginalDatabase", "PackageCode", "SourceDir", "SOURCEDIR"}


def custom_actions(package):
    """{action: type} of the package's CustomAction rows that call fa9wolt.dll, and
    {action: the export it calls}."""
    out = wine_e2e.run(["msiinfo", "export", package.path, "CustomAction"]).stdout.decode()
    actions, targets = {}, {}
    for line in out.splitlines()[3:]:
        parts = line.split("\t")
        if len(parts) >= 4 and parts[2] == "fa9wolt.dll":
            actions[parts[0]] = int(parts[1])
            targets[parts[0]] = parts[3]
    return actions, targets


def published(result, baseline):
    """Properties of the final dump that a run without custom actions does not have, or
    has with another value."""
    return {k: v for k, v in result.props.items() if baseline.get(k) != v}


def kind(ca_type):
    if ca_type & 1024:
        return "deferred" + (", rollback" if ca_type & 256 else "") + (", commit" if ca_type & 512 else "")
    return "immediate"


def report_run(title, result, actions, baseline):
    print()
    print("=" * 78)
    print("%s" % title)
    print("  command:   %s" % " ".join(result.command))
    print("  exit code: %s%s   (%.1f s)" % (result.code, "" if result.code == 0 else "  (failed)", result.seconds))
    print("  log:       %s" % result.log_path)
    failures = result.load_failures()
    if failures:
        print("  !! Wine could not call some custom actions (it logs them as successes):")
        for f in failures:
            print("     " + f)
    new_props = published(result, baseline) if result.props else {}
    if not result.props:
        print("  (the log has no property dump: Wine writes none when the user-interface sequence fails)")
    attributed = set()
    blocks = result.action_blocks(set(actions))
    if not blocks:
        print("  no custom action of fa9wolt.dll ran")
    seen_runs = {}
    for name, body, value in blocks:
        seen_runs[name] = seen_runs.get(name, 0) + 1
        deferred = actions[name] & 1024
        phase = ""
        if deferred:
            phase = " (scheduled)" if seen_runs[name] == 1 else " (ran in the script)"
        outcome = {1: "success", 0: "failure", None: "did not end"}.get(value, "value %s" % value)
        print()
        print("  %-40s %-10s Return value %s: %s%s" % (name, kind(actions[name]), value, outcome, phase))
        props = [(p, new_props[p]) for p in PUBLISHES.get(name, []) if p in new_props]
        attributed.update(p for p, _ in props)
        if props:
            print("    published:")
            for p, v in props:
                print("      %s = %s" % (p, v))
        lines = [l for l in body if l.startswith("1: ")]
        if lines:
            print("    log lines:")
            for l in lines:
                print("      " + l)
        if not props and not lines:
            print("    (no property published, no log line)")
    others = {k: v for k, v in new_props.items() if k not in attributed and k not in VOLATILE}
    if others:
        print()
        print("  published, custom action not identified:")
        for k, v in sorted(others.items()):
            print("    %s = %s" % (k, v))
    print()
    for i, d in enumerate(result.dialogs):
        print("  dialog %d: [%s] %s" % (d["n"], d["title"], " / ".join(d["texts"])))
        if d["scrollable_text"]:
            print("    setting text:")
            for line in d["scrollable_text"].replace("\r\n", "\n").replace("\r", "\n").split("\n"):
                print("      |" + line)
        print("    buttons: %s; pressed %s" % (", ".join(b.replace("&", "") for b in d["buttons"]),
                                               d["pressed"].replace("&", "") or "nothing"))
        if i < len(result.dialog_screenshots):
            print("    screenshot: %s" % result.dialog_screenshots[i])
    if result.boxes:
        print("  message boxes:")
        for i, box in enumerate(result.boxes):
            buttons = ", ".join("%s (%d)" % (b["text"].replace("&", ""), b["id"]) for b in box["buttons"])
            print("    [%s] %s" % (box["title"], box["text"].replace("\n", "\n     ")))
            print("      buttons: %s; pressed %d" % (buttons, box["pressed"]))
            if i < len(result.screenshots):
                print("      screenshot: %s" % result.screenshots[i])
    else:
        print("  message boxes: none")


BITNESS = {"x64": "the 64-bit DLL", "x86": "the shipped 32-bit DLL"}


def step(what, fn, *args, **kwargs):
    """Runs one step of the demo, saying what it does and, when it is over, how long it took."""
    print("   %s ..." % what, end="", flush=True)
    t0 = time.monotonic()
    out = fn(*args, **kwargs)
    print(" %.1f s" % (time.monotonic() - t0), flush=True)
    return out


def demo(arch, build_dir, work_dir, args, ui, full_ui):
    """The runs with the DLL of `build_dir` (`arch` its bitness), each on a machine of
    that bitness: what the report needs."""
    d = {"arch": arch, "dll": os.path.join(build_dir, "src", "fa9wolt.dll"), "full": None}
    # Where a package of this bitness installs without a response file.
    default_file = "C:\\Program Files%s\\ZNK\\WOLT\\readme.txt" % (" (x86)" if arch == "x86" else "")
    with wine_e2e.WineRun(work_dir, arch=arch) as wine_run:
        print("%s: Wine prefix prepared in %.1f s (display %s)" % (BITNESS[arch], wine_run.timings["prepare"],
                                                                 wine_run.display))
        pkg_dir = os.path.join(work_dir, "packages")
        if args.sign_pfx:
            # The DLL is signed before the package takes it in, then the package itself.
            signed_dll = os.path.join(pkg_dir, "signed", "fa9wolt.dll")
            os.makedirs(os.path.dirname(signed_dll), exist_ok=True)
            shutil.copyfile(d["dll"], signed_dll)
            wine_e2e.sign(args.sign_pfx, signed_dll)
            package = step("building the package", wine_e2e.build_package, build_dir,
                           os.path.join(pkg_dir, "fa9wolt.msi"), ["--dll", signed_dll], cache_dir=work_dir)
            wine_e2e.sign(args.sign_pfx, package.path)
        else:
            package = step("building the package", wine_e2e.build_package, build_dir,
                           os.path.join(pkg_dir, "fa9wolt.msi"), cache_dir=work_dir)
        print(package.description)
        d["signed"] = [(what, wine_e2e.signature(path, args.sign_ca)) for what, path in
                       (("the package", package.path), ("the fa9wolt.dll it carries", package.carried_dll()))]
        d["actions"], d["targets"] = custom_actions(package)

        # The same package without custom actions shows what Wine itself puts in the dump.
        empty_def = os.path.join(pkg_dir, "no-actions.def")
        with open(empty_def, "w") as f:
            f.write("LIBRARY fa9wolt.dll\nEXPORTS\n")
        bare = step("building the same package without custom actions", wine_e2e.build_package, build_dir,
                    os.path.join(pkg_dir, "no-actions.msi"), ["--def", empty_def], cache_dir=work_dir)
        with wine_run.machine("baseline") as m:
            m.seed_registry(wine_e2e.read_reg_file(args.machine), "machine")
            d["base_install"] = step("installing it (what Wine itself publishes)", m.msiexec, "/i", bare, ui=ui,
                                     label="install")
            d["base_remove"] = step("removing it", m.msiexec, "/x", bare, ui=ui, label="uninstall")

        with wine_run.machine("machine") as m:
            # seeded into the registry view of the DLL (the 32-bit one for the shipped DLL)
            m.seed_registry(wine_e2e.read_reg_file(args.machine), "machine")
            m.add_programs()
            print("Machine: %s (registry from %s, %s-bit view)" % (m.prefix, args.machine, m.view))
            # The silent installation reads the sample response file, which moves INSTALLDIR.
            m.place_file(SAMPLE_RSP_TARGET, os.path.join(wine_e2e.REPO, "package", "samples", "wolt-tools.rsp"))
            d["install"] = step("silent installation with the sample response file", m.msiexec, "/i", package,
                                ui=ui, label="install",
                                properties={"RSP_FILE_PATH": SAMPLE_RSP_TARGET} if ui else None)
            d["installed"] = os.path.isfile(m.host_path(INSTALLED_FILE if ui else default_file))
            d["records_installed"] = {n: m.stand_in_record(n) for n in RECORDS}
            d["remove"] = step("removal", m.msiexec, "/x", package, ui=ui, label="uninstall")
            d["records_removed"] = {n: m.stand_in_record(n) for n in RECORDS}
            d["removed"] = not os.path.exists(m.host_path(INSTALLED_FILE if ui else default_file))
            d["temp"] = temp = d["install"].props.get("TempFolder") or d["base_install"].props.get("TempFolder")
            d["runtime"] = sorted(x for x in os.listdir(m.host_path(temp)) if x.startswith("FA9WOLT")) if temp else []

        # A full-UI installation on a machine of its own: the driver goes through the
        # welcome dialog to the Summary dialog, whose text and screenshot are reported.
        if full_ui:
            with wine_run.machine("full-ui") as m:
                m.seed_registry(wine_e2e.read_reg_file(args.machine), "machine")
                m.add_programs()
                d["full"] = step("installation with the full user interface, driven to the Summary dialog",
                                 m.msiexec, "/i", package, ui=None, label="install")
    d["runs"] = [d["install"], d["remove"]] + ([d["full"]] if d["full"] else [])
    d["run_names"] = ["installation", "removal", "full-UI installation"][:len(d["runs"])]
    return d


def report(d, ui):
    """The report of one bitness's runs."""
    what = "%s, %s" % (BITNESS[d["arch"]], d["dll"])
    actions, targets = d["actions"], d["targets"]
    report_run(("Installation (silent, response file %s)" % SAMPLE_RSP_TARGET if ui else "Installation") +
               " -- " + what, d["install"], actions, d["base_install"].props)
    report_run("Removal -- " + what, d["remove"], actions, d["base_remove"].props)
    if d["full"]:
        report_run("Installation with the full user interface (dialogs driven, summary read back) -- " + what,
                   d["full"], actions, d["base_install"].props)
    print()
    print("=" * 78)
    print("Machine afterwards (%s):" % what)
    print("  Authenticode signatures: %s%s" % ("; ".join(
        "%s %s" % (what, "signed by " + signer if signer else "not signed") for what, signer in d["signed"]),
        "" if any(signer for _, signer in d["signed"]) else " (FA9_SIGN_PFX makes the demo sign them)"))
    print("  product files installed by the installation: %s" % ("yes" if d["installed"] else "NO"))
    print("  product files gone after the removal:        %s" % ("yes" if d["removed"] else "NO"))
    print("  runtime folders left in %s: %s" % (d["temp"], ", ".join(d["runtime"]) or "none"))
    print("  what the programs the custom actions ran recorded (%s):" % wine_e2e.STAND_IN_STATE)
    for name, desc in RECORDS.items():
        print("    %s (%s)" % (name, desc))
        for title, records in (("after the installation", d["records_installed"]),
                               ("after the removal", d["records_removed"])):
            text = records[name]
            lines = text.strip().splitlines() if text else []
            print("      %s: %s" % (title, "none" if text is None else "%d line(s)" % len(lines)))
            for line in lines:
                print("        " + line)
    exports = set(targets.values())
    ran = set()
    for r in d["runs"]:
        ran |= {targets[a] for a, _ in r.action_results() if a in targets}
    print("  exported custom actions of fa9wolt.dll exercised: %d of %d%s" % (
        len(ran), len(exports), "" if ran == exports else
        " (not run: %s)" % ", ".join(sorted(exports - ran))))


def server(d):
    """The custom-action server as the program it started recorded it."""
    record = (d["records_installed"].get("commontoolreg.parent") or "").split()
    if len(record) < 2:
        return "not recorded"
    return "%s, under WOW64 (32-bit): %s" % (record[0], {"parent-wow64=1": "yes", "parent-wow64=0": "no"}.get(
        record[1], record[1]))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(wine_e2e.REPO, "build", "mingw-x86_64"),
                    help="build of the 64-bit DLL")
    ap.add_argument("--build-dir-x86", default=os.path.join(wine_e2e.REPO, "build", "mingw-i686"),
                    help="build of the shipped 32-bit DLL")
    ap.add_argument("--work-dir", help="default: <build-dir>/e2e-demo (and <build-dir-x86>/e2e-demo)")
    ap.add_argument("--ui", choices=("qn", "full"), default="qn",
                    help="qn: no user interface (execute sequence only); full: the UI sequence too")
    ap.add_argument("--machine", default=MACHINE, help="registry of the machine (REGEDIT4 file)")
    ap.add_argument("--sign-pfx", help="sign the DLL and the package with this certificate (FA9_SIGN_PASSWORD)")
    ap.add_argument("--sign-ca", help="the certificate the signatures are verified against")
    args = ap.parse_args(argv)
    build_dir = os.path.abspath(args.build_dir)
    if not os.path.isfile(os.path.join(build_dir, "src", "fa9wolt.dll")):
        print("no fa9wolt.dll in %s/src: build the mingw-x86_64 preset first" % build_dir)
        return 2
    build_x86 = os.path.abspath(args.build_dir_x86)
    work_dir = os.path.abspath(args.work_dir or os.path.join(build_dir, "e2e-demo"))
    ui = "/qn" if args.ui == "qn" else None
    t0 = time.monotonic()
    sys.stdout.reconfigure(line_buffering=True)  # the progress lines show as they come, also into a log

    # 32-bit: the shipped DLL, in the 32-bit custom-action server Wine starts for it.
    no_32bit = wine_e2e.no_32bit_reason()
    if not no_32bit and not os.path.isfile(os.path.join(build_x86, "src", "fa9wolt.dll")):
        no_32bit = "no fa9wolt.dll in %s/src (build the mingw-i686 preset)" % build_x86
    if no_32bit:
        print("The shipped 32-bit DLL will not run: %s; the 64-bit DLL's runs only." % no_32bit)
    # A full-UI run with the 32-bit DLL only under the classic 32-bit Wine: the wow64 mode
    # cannot create the summary's rich-edit control in a 32-bit process (e2e/README.md).
    demos = [demo("x64", build_dir, work_dir, args, ui, full_ui=bool(ui))]
    if not no_32bit:
        work_x86 = os.path.join(work_dir, "x86") if args.work_dir else os.path.join(build_x86, "e2e-demo")
        demos.append(demo("x86", build_x86, work_x86, args, ui, full_ui=bool(ui) and wine_e2e.classic_32bit()))
    for d in demos:
        report(d, ui)
    print()
    print("=" * 78)
    print("Runs and their bitness:")
    for d in demos:
        print("  %s (%s):" % (BITNESS[d["arch"]], d["dll"]))
        print("    %s" % "; ".join("%s exit %s" % (n, r.code) for n, r in zip(d["run_names"], d["runs"])))
        print("    custom-action server: %s" % server(d))
    if no_32bit:
        print("  the shipped 32-bit DLL: not run, %s; the 64-bit DLL's runs above stand alone" % no_32bit)
    print("  artifacts (logs, screenshots): %s" % ", ".join(
        os.path.dirname(d["install"].log_path).rsplit(os.sep, 1)[0] for d in demos))
    print("Demo took %.1f s" % (time.monotonic() - t0))
    ok = all(r.code == 0 and not r.load_failures() for d in demos for r in d["runs"])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
