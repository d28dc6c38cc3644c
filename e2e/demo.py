#!/usr/bin/env python3
"""Demo report: the test package installed and removed by Wine's msiexec on a default
machine (.NET Framework 2.0, Visual Studio 2005 and 2008), told custom action by
custom action.

    python3 e2e/demo.py [--build-dir build/mingw-x86_64] [--ui qn|full]

Three runs: a silent installation that reads the sample response file
package/samples/wolt-tools.rsp (its FILE moves the installation directory), the removal,
and, on a second machine, an installation with the full user interface whose dialogs a
driver goes through, stopping on the Summary dialog long enough for a screenshot and
reading its text back. For each run the report lists every custom action of
fa9wolt.dll that ran (from the log's "Action start"/"Action ended" lines) with its
result, the properties it published (the final property dump compared with a run of
the same package without custom actions), the lines it wrote into the log ("1: ..."
between its start and end), the dialogs and the message boxes that appeared (text,
title, buttons, screenshot).
"""

import argparse
import os
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


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(wine_e2e.REPO, "build", "mingw-x86_64"))
    ap.add_argument("--work-dir", help="default: <build-dir>/e2e-demo")
    ap.add_argument("--ui", choices=("qn", "full"), default="qn",
                    help="qn: no user interface (execute sequence only); full: the UI sequence too")
    ap.add_argument("--machine", default=MACHINE, help="registry of the machine (REGEDIT4 file)")
    args = ap.parse_args(argv)
    build_dir = os.path.abspath(args.build_dir)
    if not os.path.isfile(os.path.join(build_dir, "src", "fa9wolt.dll")):
        print("no fa9wolt.dll in %s/src: build the mingw-x86_64 preset first" % build_dir)
        return 2
    work_dir = os.path.abspath(args.work_dir or os.path.join(build_dir, "e2e-demo"))
    ui = "/qn" if args.ui == "qn" else None
    t0 = time.monotonic()

    with wine_e2e.WineRun(work_dir) as wine_run:
        print("Wine prefix prepared in %.1f s (display %s)" % (wine_run.timings["prepare"], wine_run.display))
        pkg_dir = os.path.join(work_dir, "packages")
        package = wine_e2e.build_package(build_dir, os.path.join(pkg_dir, "fa9wolt.msi"), cache_dir=work_dir)
        print(package.description)
        actions, targets = custom_actions(package)

        # The same package without custom actions shows what Wine itself puts in the dump.
        empty_def = os.path.join(pkg_dir, "no-actions.def")
        with open(empty_def, "w") as f:
            f.write("LIBRARY fa9wolt.dll\nEXPORTS\n")
        bare = wine_e2e.build_package(build_dir, os.path.join(pkg_dir, "no-actions.msi"), ["--def", empty_def],
                                      cache_dir=work_dir)
        with wine_run.machine("baseline") as m:
            m.seed_registry(wine_e2e.read_reg_file(args.machine), "machine")
            base_install = m.msiexec("/i", bare, ui=ui, label="install")
            base_remove = m.msiexec("/x", bare, ui=ui, label="uninstall")

        with wine_run.machine("machine") as m:
            m.seed_registry(wine_e2e.read_reg_file(args.machine), "machine")
            m.add_programs()
            print("Machine: %s (registry from %s)" % (m.prefix, args.machine))
            # The silent installation reads the sample response file, which moves INSTALLDIR.
            m.place_file(SAMPLE_RSP_TARGET, os.path.join(wine_e2e.REPO, "package", "samples", "wolt-tools.rsp"))
            install = m.msiexec("/i", package, ui=ui, label="install",
                                properties={"RSP_FILE_PATH": SAMPLE_RSP_TARGET} if ui else None)
            installed = os.path.isfile(m.host_path(INSTALLED_FILE if ui else r"C:\Program Files\ZNK\WOLT\readme.txt"))
            records_installed = {n: m.stand_in_record(n) for n in RECORDS}
            remove = m.msiexec("/x", package, ui=ui, label="uninstall")
            records_removed = {n: m.stand_in_record(n) for n in RECORDS}
            removed = not os.path.exists(m.host_path(INSTALLED_FILE if ui else r"C:\Program Files\ZNK\WOLT\readme.txt"))
            temp = install.props.get("TempFolder") or base_install.props.get("TempFolder")
            runtime = sorted(d for d in os.listdir(m.host_path(temp)) if d.startswith("FA9WOLT")) if temp else []

        # A full-UI installation on a machine of its own: the driver goes through the
        # welcome dialog to the Summary dialog, whose text and screenshot are reported.
        full = None
        if ui:
            with wine_run.machine("full-ui") as m:
                m.seed_registry(wine_e2e.read_reg_file(args.machine), "machine")
                m.add_programs()
                full = m.msiexec("/i", package, ui=None, label="install")

        report_run("Installation (silent, response file %s)" % SAMPLE_RSP_TARGET if ui else "Installation",
                   install, actions, base_install.props)
        report_run("Removal", remove, actions, base_remove.props)
        if full:
            report_run("Installation with the full user interface (dialogs driven, summary read back)",
                       full, actions, base_install.props)
        print()
        print("=" * 78)
        print("Machine afterwards:")
        print("  product files installed by the installation: %s" % ("yes" if installed else "NO"))
        print("  product files gone after the removal:        %s" % ("yes" if removed else "NO"))
        print("  runtime folders left in %s: %s" % (temp, ", ".join(runtime) or "none"))
        print("  what the programs the custom actions ran recorded (%s):" % wine_e2e.STAND_IN_STATE)
        for name, what in RECORDS.items():
            print("    %s (%s)" % (name, what))
            for title, records in (("after the installation", records_installed), ("after the removal", records_removed)):
                text = records[name]
                lines = text.strip().splitlines() if text else []
                print("      %s: %s" % (title, "none" if text is None else "%d line(s)" % len(lines)))
                for line in lines:
                    print("        " + line)
        exports = set(targets.values())
        ran = set()
        for r in [install, remove] + ([full] if full else []):
            ran |= {targets[a] for a, _ in r.action_results() if a in targets}
        print("  exported custom actions of fa9wolt.dll exercised: %d of %d%s" % (
            len(ran), len(exports), "" if ran == exports else
            " (not run: %s)" % ", ".join(sorted(exports - ran))))
        print("  artifacts (logs, screenshots): %s" % work_dir)
        print("Demo took %.1f s" % (time.monotonic() - t0))
        runs = [install, remove] + ([full] if full else [])
        ok = all(r.code == 0 and not r.load_failures() for r in runs)
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
