#!/usr/bin/env python3
"""End-to-end scenarios: the test package installed and removed by Wine's msiexec.

    python3 e2e/scenarios.py --build-dir build/mingw-x86_64 [scenario ...]   # 64-bit DLL
    python3 e2e/scenarios.py --build-dir build/mingw-i686 [scenario ...]     # the shipped 32-bit DLL

The build's fa9wolt.dll decides the run's bitness. A 32-bit run needs Wine's 32-bit
DLLs (scripts/install-deps.sh) on a machine that runs 32-bit code; elsewhere it reports
itself skipped (exit code 77) with the reason. In a 32-bit run the custom actions see
the registry's 32-bit view and the "(x86)" program folders: a scenario seeds and reads
the registry through its Machine, which uses that view, and takes the installation
folder from ctx.install_dir.

Each scenario builds the package variant it needs from the build, installs it
in its own copy of the run's prepared Wine prefix (registry seeded as a machine with
Visual Studio 2005/2008 and .NET 2.0) and checks the log, the final property dump,
the exit code, stderr and the files of the prefix. Every scenario checks something
only the custom actions can have produced: Wine reports a custom action it could not
load as a success.

CTest runs the preparation once (--prepare-only) and then each scenario with
--use-prepared; run alone, the script prepares its own prefix.
"""

import argparse
import os
import re
import sys
import time
import traceback

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_e2e  # noqa: E402

DEFAULT_MACHINE = os.path.join(wine_e2e.HERE, "machines", "vs2005-vs2008.reg")

# The runtime folder's files in extraction order: (path in the folder, Binary row).
# The string library's row depends on the language and is checked on its own.
RUNTIME_FILES = [
    ("Microsoft.VC80.CRT/msvcm80.dll", "msvcm80.dll"),
    ("Microsoft.VC80.CRT/msvcp80.dll", "msvcp80.dll"),
    ("Microsoft.VC80.CRT/msvcr80.dll", "msvcr80.dll"),
    ("Microsoft.VC80.CRT/microsoft.vc80.crt.manifest", "microsoft.vc80.crt.manifest"),
    ("Microsoft.VC80.MFC/mfc80.dll", "mfc80.dll"),
    ("Microsoft.VC80.MFC/mfc80u.dll", "mfc80u.dll"),
    ("Microsoft.VC80.MFC/mfcm80.dll", "mfcm80.dll"),
    ("Microsoft.VC80.MFC/mfcm80u.dll", "mfcm80u.dll"),
    ("Microsoft.VC80.MFC/microsoft.vc80.mfc.manifest", "microsoft.vc80.mfc.manifest"),
    ("fa9genreg_install3.dll", "fa9genreg_install3.dll"),
    ("fa9osse_install3.dll", "fa9osse_install3.dll"),
    ("fa9install_install3.dll", "fa9install_install3.dll"),
    ("commontoolreg.exe", "commontoolreg.exe"),
]
STRING_LIBRARY = "fa9istring_v97.dll"
STAND_IN_STATE = wine_e2e.STAND_IN_STATE
IDE_FOLDERS_90 = wine_e2e.IDE_FOLDERS[1]
PRODUCT_CODE = "{FA9D0A11-57B1-4E60-9A05-3C1E0F0A9700}"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + PRODUCT_CODE


# The exit code of a run that skipped (CTest's SKIP_RETURN_CODE).
SKIPPED = 77


class Checks:
    """Collects failed checks with the actual values, so one run shows every difference."""

    def __init__(self):
        self.failures = []
        self.notes = []
        self.skipped = []  # reasons a part of the scenario could not be checked here

    def eq(self, what, actual, expected):
        if actual != expected:
            self.failures.append("%s: expected %r, got %r" % (what, expected, actual))
        return actual == expected

    def true(self, what, condition, detail=""):
        if not condition:
            self.failures.append("%s%s" % (what, (": " + detail) if detail else ""))
        return bool(condition)

    def note(self, text):
        self.notes.append(text)

    def skip(self, reason):
        """What cannot be checked in this run, and why: the scenario reports itself
        skipped unless something it did check failed."""
        if reason not in self.skipped:
            self.skipped.append(reason)


class Context:
    def __init__(self, wine_run, build_dir, package_dir, package_options=(), sign=None):
        self.run = wine_run
        # The bitness of the DLL under test ("x64" or "x86") and the program folder its
        # package installs into: "C:\Program Files (x86)" for a 32-bit package.
        self.arch = wine_run.arch
        self.program_files = "C:\\Program Files" + (" (x86)" if self.arch == "x86" else "")
        self.install_dir = self.program_files + "\\ZNK\\WOLT\\"
        self.package_options = list(package_options)
        self.build_dir = build_dir
        self.package_dir = package_dir
        # (PFX, CA): every package is signed, and it and the DLL it carries must verify.
        self.sign = sign
        self._packages = {}
        self._package_options = {}  # name: the options it was built with
        self.timings = []  # (what, seconds) of the current scenario

    def package(self, name, *options):
        """A package variant, built once per run (the stand-ins are cross-built once per
        work directory). A name stands for one set of options: asked again with others,
        it would hand one scenario another's package when they run in one process."""
        if self._package_options.setdefault(name, options) != options:
            raise RuntimeError("package %s asked for with %s, built with %s" % (name, options,
                                                                             self._package_options[name]))
        if name not in self._packages:
            t0 = time.monotonic()
            out = os.path.join(self.package_dir, name + ".msi")
            self._packages[name] = wine_e2e.build_package(self.build_dir, out, self.package_options + list(options),
                                                          cache_dir=self.run.work_dir)
            if self.sign:
                self._sign(self._packages[name])
            self.timings.append(("package " + name, time.monotonic() - t0))
        return self._packages[name]

    def _sign(self, package):
        pfx, ca = self.sign
        wine_e2e.sign(pfx, package.path)
        for what, path in (("the package", package.path), ("the fa9wolt.dll it carries", package.carried_dll())):
            if not wine_e2e.signature(path, ca):
                raise RuntimeError("%s is not signed: %s" % (what, path))

    def machine(self, name, registry=DEFAULT_MACHINE, provider=True):
        """A machine seeded with `registry`; with the default machine, the IDE stand-in
        in both Visual Studio folders; with `provider`, the .NET data provider in the
        global assembly cache (the registration program's /checkprovider looks there)."""
        m = self.run.machine(name)
        if registry:
            m.seed_registry(wine_e2e.read_reg_file(registry), "machine")
        m.add_programs(ides=registry == DEFAULT_MACHINE, provider=provider)
        self.timings.append(("machine", m.timings))
        return m


def check_ran(c, result, code, actions=()):
    """The run ended with `code`, Wine called every custom action (nothing on stderr
    about a DLL or an export it could not find) and each of `actions` ran."""
    c.note(result.describe())
    if not c.eq("%s exit code" % result.label, result.code, code):
        # The log is overwritten by the next run: keep what explains an unexpected code.
        failed = [a for a, v in result.action_results() if v == 0]
        errors = [l for l in result.library_lines() if l.startswith("1: Error: ")]
        starts = result.stderr.count(wine_e2e.WINE_START_FAILURE.decode())
        c.failures.append("%s: actions that failed %r; the library's error lines %r; Wine processes that failed "
                          "to start: %d" % (result.label, failed, errors, starts))
    c.eq("%s custom actions Wine could not load" % result.label, result.load_failures(), [])
    c.eq("%s processes that crashed" % result.label, result.crashes(), [])
    for box in result.boxes:
        left, top, right, bottom = box["rect"]
        c.true("%s: box %d lies on the screen" % (result.label, box["n"]),
               0 <= left < right <= box["screen"][0] and 0 <= top < bottom <= box["screen"][1],
               "%r on a %r screen" % (box["rect"], box["screen"]))
    for action in actions:
        c.true("%s: %s ran" % (result.label, action), action in [a for a, _ in result.action_results()],
               "no 'Action ended' line for it in %s" % result.log_path)


def runtime_folder(c, machine, result, number=0):
    """The expected runtime folder (from TempFolder), checked against the published properties."""
    temp = result.props.get("TempFolder", "")
    c.true("TempFolder in the property dump", temp)
    folder = "%sFA9WOLT%05d" % (temp, number)
    c.eq("CURRENT_PROCESS_DIRECTORY", result.props.get("CURRENT_PROCESS_DIRECTORY"), folder)
    c.eq("pFA9RuntimeDirectory", result.props.get("pFA9RuntimeDirectory"), folder)
    return folder, machine.host_path(folder)


def _runtime_leftovers(machine, temp):
    """The runtime folders and their markers in the Windows folder `temp`."""
    host = machine.host_path(temp) if temp else None
    if not host or not os.path.isdir(host):
        return []
    return sorted(n for n in os.listdir(host) if n.upper().startswith("FA9WOLT"))


def files_under(root):
    found = set()
    for dirpath, _, names in os.walk(root):
        for n in names:
            found.add(os.path.relpath(os.path.join(dirpath, n), root).replace(os.sep, "/"))
    return found


def check_same_bytes(c, host_file, package, row):
    expected = package.binary_row(row)
    if not c.true("package row %s exists" % row, expected is not None):
        return
    if not c.true("%s extracted" % os.path.basename(host_file), os.path.isfile(host_file), host_file):
        return
    with open(host_file, "rb") as f:
        actual = f.read()
    c.true("%s equals the package row %s byte for byte" % (host_file, row), actual == expected,
           "%d bytes vs %d" % (len(actual), len(expected)))


SCENARIOS = {}


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


@scenario
def runtime_extraction_german(ctx, c):
    """(a) ProductLanguage 1031: all fourteen files extracted byte for byte, German strings,
    the runtime properties and the expanded dialog title published (PostProcessInstallCA,
    which removes the folder at the end, left out so that the folder can be read)."""
    pkg = ctx.package("de-kept", "--product-language", "1031", "--unsequenced", "PostProcessInstallCA")
    with ctx.machine("runtime_extraction_german") as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["InitializeWOLTInstallCA", "SetWOLTDialogTitlePropertiesCA"])
        c.eq("InitializeWOLTInstallCA result", r.action_result("InitializeWOLTInstallCA"), 1)
        folder, host = runtime_folder(c, m, r)
        c.eq("PROP_RSP_PROD", r.props.get("PROP_RSP_PROD"), "WOLT_TOOLS")
        # The Dialog row's title is "[ProductName] Setup".
        c.eq("GENERIC_DLG_TITLE", r.props.get("GENERIC_DLG_TITLE"), "%s Setup" % r.props.get("ProductName"))
        expected = {p for p, _ in RUNTIME_FILES} | {STRING_LIBRARY}
        c.eq("files in %s" % folder, sorted(files_under(host)), sorted(expected))
        for path, row in RUNTIME_FILES:
            check_same_bytes(c, os.path.join(host, path), pkg, row)
        check_same_bytes(c, os.path.join(host, STRING_LIBRARY), pkg, "FA9ISTRING_DE_DE")
        c.eq("library error lines", [l for l in r.library_lines() if "ERROR" in l], [])


@scenario
def string_library_fallback(ctx, c):
    """(b) ProductLanguage 1036 has no row of its own: one failed fetch is logged and the
    English string library is extracted (the folder kept as in runtime_extraction_german)."""
    pkg = ctx.package("fr-kept", "--product-language", "1036", "--unsequenced", "PostProcessInstallCA")
    with ctx.machine("string_library_fallback") as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["InitializeWOLTInstallCA"])
        folder, host = runtime_folder(c, m, r)
        fetch = [l for l in r.lines if "MsiViewFetch" in l]
        c.eq("lines mentioning MsiViewFetch", len(fetch), 1)
        c.true("the failed fetch is a library line", all(l.startswith("1: MsiViewFetch") for l in fetch), repr(fetch))
        check_same_bytes(c, os.path.join(host, STRING_LIBRARY), pkg, "FA9ISTRING_EN_US")
        c.true("the English library differs from the others (else this proves nothing)",
               pkg.binary_row("FA9ISTRING_EN_US") not in (pkg.binary_row("FA9ISTRING_DE_DE"),
                                                          pkg.binary_row("FA9ISTRING_JA_JP")))


@scenario
def missing_binary_row(ctx, c):
    """(c) Without the row "mfcm80u.dll" the extraction stops there with its error line and
    1603; the partly filled runtime folder is removed with its marker, nothing installed."""
    pkg = ctx.package("no-mfcm80u", "--without-row", "mfcm80u.dll")
    with ctx.machine("missing_binary_row") as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 1603, ["InitializeWOLTInstallCA"])
        c.eq("InitializeWOLTInstallCA result", r.action_result("InitializeWOLTInstallCA"), 0)
        line = "1: ERROR:Failed to copy mfcm80u.dll from the binary table of the installation "
        c.eq("the error line", [l for l in r.lines if l == line], [line])
        temp = r.props.get("TempFolder", "")
        c.true("TempFolder in the property dump", temp)
        c.eq("runtime folders and markers left", _runtime_leftovers(m, temp), [])
        c.eq("product registered", m.reg_query(UNINSTALL_KEY), None)
        c.true("nothing installed", not os.path.exists(m.host_path(ctx.install_dir + "readme.txt")))


@scenario
def template_component_first_install(ctx, c):
    """(d) On a first installation neither template component is on the machine:
    TEMPLATE_COMPONENT is "1". Run again, the first template component is installed,
    but not in the IDE directory VS80_ENVDIR: "2"."""
    pkg = ctx.package("en")
    with ctx.machine("template_component_first_install") as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["SetWOLTTemplateCompCA"])
        c.eq("SetWOLTTemplateCompCA result", r.action_result("SetWOLTTemplateCompCA"), 1)
        c.eq("TEMPLATE_COMPONENT", r.props.get("TEMPLATE_COMPONENT"), "1")
        r2 = m.msiexec("/i", pkg, label="again")
        check_ran(c, r2, 0, ["SetWOLTTemplateCompCA"])
        c.true("VS80_ENVDIR is the seeded IDE directory", "Microsoft Visual Studio 8" in r2.props.get("VS80_ENVDIR", ""),
               repr(r2.props.get("VS80_ENVDIR")))
        c.eq("TEMPLATE_COMPONENT with the first template component installed elsewhere",
             r2.props.get("TEMPLATE_COMPONENT"), "2")


@scenario
def uninstall(ctx, c):
    """(e) An installed package is removed: files and registration go; the removal runs the
    runtime extraction again, into FA9WOLT00000 again since the installation removed its own."""
    pkg = ctx.package("en")
    with ctx.machine("uninstall") as m:
        r1 = m.msiexec("/i", pkg, label="install")
        check_ran(c, r1, 0, ["InitializeWOLTInstallCA"])
        readme = m.host_path(ctx.install_dir + "readme.txt")
        c.true("installed file present after the installation", os.path.isfile(readme), readme)
        c.true("product registered after the installation", m.reg_query(UNINSTALL_KEY) is True)
        r2 = m.msiexec("/x", pkg, label="uninstall")
        check_ran(c, r2, 0, ["InitializeWOLTInstallCA"])
        c.eq("REMOVE", r2.props.get("REMOVE"), "ALL")
        runtime_folder(c, m, r2, number=0)
        c.eq("runtime folders and markers left", _runtime_leftovers(m, r2.props.get("TempFolder", "")), [])
        c.true("installed file gone after the removal", not os.path.exists(readme), readme)
        c.eq("product registered after the removal", m.reg_query(UNINSTALL_KEY), None)


NET20 = r"""REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\.NETFramework]
"InstallRoot"="C:\\Windows\\Microsoft.NET\\Framework64\\"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\.NETFramework\policy\v2.0]
"50727"="50727-50727"
"""

VS2008_ONLY = NET20 + r"""
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\VisualStudio\9.0]
"InstallDir"="C:\\VS9\\Common7\\IDE\\"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\VisualStudio\9.0\Setup\VS]
"EnvironmentDirectory"="C:\\VS9\\Common7\\IDE\\"
"""

VS8 = "C:\\Program Files (x86)\\Microsoft Visual Studio 8\\"
VS9_IDE = "C:\\Program Files (x86)\\Microsoft Visual Studio 9.0\\Common7\\IDE\\"

DETECTION_PROPERTIES = ["p_DotNetFWInstalled", "p_DotNetFW11Installed", "p_DotNetFW20Installed",
                        "p_vsnet2003Installed", "p_vsnet2005Installed", "VS80_INSTALLDIR", "VS80_ENVDIR",
                        "VS80_VB_INSTALLED", "p_VS80_VBProdDir", "VS80_VCSHARP_INSTALLED", "p_VS80_VCSHARPProdDir",
                        "VS90_INSTALLDIR", "p_vsnet2008Installed", "VS90_ENVDIR"]


def _detected(result):
    """The detection's properties, without the package's "not set" defaults of the two
    IDE folders (they are in the Property table so that the deferred store saves them)."""
    return {k: result.props[k] for k in DETECTION_PROPERTIES
            if k in result.props and result.props[k] != "___NotSet___"}


@scenario
def detection_machines(ctx, c):
    """(g) The .NET and Visual Studio detection on three machines: nothing installed (the
    prerequisite check then stops the installation), .NET 2.0 with Visual Studio 2005 and
    2008, and Visual Studio 2008 alone."""
    pkg = ctx.package("en")
    with ctx.machine("detection_bare", registry=None) as m:
        r = m.msiexec("/i", pkg, label="bare")
        check_ran(c, r, 1603, ["DetectDOTNETEnvCA", "CheckWOLTPrereqCA"])
        c.eq("bare machine", _detected(r), {"p_DotNetFWInstalled": "NO", "p_DotNetFW11Installed": "NO",
                                            "p_DotNetFW20Installed": "NO"})
    with ctx.machine("detection_full") as m:
        # Without PostProcessInstallCA the store the detection wrote stays to be read.
        r = m.msiexec("/i", ctx.package("no-post", "--unsequenced", "PostProcessInstallCA"), label="full")
        check_ran(c, r, 0, ["DetectDOTNETEnvCA", "CheckWOLTPrereqCA"])
        c.eq("machine with 2005 and 2008", _detected(r), {
            "p_DotNetFWInstalled": "YES", "p_DotNetFW11Installed": "NO", "p_DotNetFW20Installed": "YES",
            "p_vsnet2005Installed": "YES", "VS80_INSTALLDIR": VS8 + "Common7\\IDE\\",
            "VS80_ENVDIR": VS8 + "Common7\\IDE\\", "VS80_VB_INSTALLED": "YES", "p_VS80_VBProdDir": VS8 + "VB\\",
            "VS80_VCSHARP_INSTALLED": "YES", "p_VS80_VCSHARPProdDir": VS8 + "VC#\\", "VS90_INSTALLDIR": VS9_IDE,
            "p_vsnet2008Installed": "YES", "VS90_ENVDIR": VS9_IDE})
        traces = [l for _, body, _ in r.action_blocks({"DetectDOTNETEnvCA"}) for l in body]
        c.true("the trace of VS80_INSTALLDIR",
               "1: TRACE_DATA--30: VS80_INSTALLDIR = %sCommon7\\IDE\\ " % VS8 in traces, repr(traces))
        c.eq("store value of the 2.0 framework",
             m.reg_query(r"HKCU\SOFTWARE\ZNK\FA9\TEMP\PROPERTIES95", "p_DotNetFW20Installed"), "YES")
    with ctx.machine("detection_vs2008", registry=None) as m:
        m.seed_registry(VS2008_ONLY, "vs2008")
        r = m.msiexec("/i", pkg, label="vs2008")
        check_ran(c, r, 0, ["DetectDOTNETEnvCA", "CheckWOLTPrereqCA"])
        c.eq("machine with 2008 alone", _detected(r), {
            "p_DotNetFWInstalled": "YES", "p_DotNetFW11Installed": "NO", "p_DotNetFW20Installed": "YES",
            "p_vsnet2005Installed": "NO", "VS90_INSTALLDIR": "C:\\VS9\\Common7\\IDE\\",
            "p_vsnet2008Installed": "YES", "VS90_ENVDIR": "C:\\VS9\\Common7\\IDE\\"})


# Visual Studio 2008 in one registry view: {view} is 32 or 64.
VS2008_IN_VIEW = r"""
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\VisualStudio\9.0]
"InstallDir"="C:\\VS9-{view}\\Common7\\IDE\\"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\VisualStudio\9.0\Setup\VS]
"EnvironmentDirectory"="C:\\VS9-{view}\\Common7\\IDE\\"
"""


@scenario
def registry_views(ctx, c):
    """(t) The DLL's bitness decides what it sees: a machine with a different Visual
    Studio 2008 in each registry view (C:\\VS9-32 for 32-bit programs, through
    WOW6432Node; C:\\VS9-64 for 64-bit ones). The 64-bit DLL detects the one, the shipped
    32-bit DLL the other; the program a custom action starts (commontoolreg.exe
    /checkprovider) finds its parent, the custom-action server, under WOW64 exactly in
    the 32-bit run; the package's Uninstall key and remembered folder land in the same
    view, its files in the DLL's program folder."""
    pkg = ctx.package("en")
    other = "64" if ctx.arch == "x86" else "32"  # the view the DLL under test does not use
    with ctx.machine("registry_views", registry=None) as m:
        for view in ("32", "64"):
            m.seed_registry(NET20 + VS2008_IN_VIEW.replace("{view}", view), "vs2008-" + view, view=view)
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["DetectDOTNETEnvCA", "DetectDotNetDataProviderInstalledCA"])
        ide = "C:\\VS9-%s\\Common7\\IDE\\" % m.view
        c.eq("VS90_INSTALLDIR: the %s-bit view's" % m.view, r.props.get("VS90_INSTALLDIR"), ide)
        c.eq("VS90_ENVDIR: the %s-bit view's" % m.view, r.props.get("VS90_ENVDIR"), ide)
        wow64 = int(ctx.arch == "x86")
        c.eq("the custom-action server, parent of commontoolreg.exe, and the program itself under WOW64",
             m.stand_in_record("commontoolreg.parent"), "msiexec.exe parent-wow64=%d self-wow64=%d\n" % (wow64, wow64))
        c.eq("the product's Uninstall key in the %s-bit view" % m.view, m.reg_query(UNINSTALL_KEY), True)
        c.eq("and not in the %s-bit view" % other, m.reg_query(UNINSTALL_KEY, view=other), None)
        remembered = r"HKLM\Software\ZNK\WOLT"
        c.eq("the remembered folder in the %s-bit view" % m.view, m.reg_query(remembered, "InstallDir"),
             ctx.install_dir)
        c.eq("and not in the %s-bit view" % other, m.reg_query(remembered, view=other), None)
        c.true("the files in %s" % ctx.install_dir, os.path.isfile(m.host_path(ctx.install_dir + "readme.txt")))


# FA9COPY1 is where the package installs, written in other letter case ({folder}).
INSTALLED_COPIES = r"""REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\ZNK\FA9\InstalledCopies\FA9COPY1]
"FA9 Path Name"="{folder}znk\\wolt\\"

[HKEY_LOCAL_MACHINE\SOFTWARE\ZNK\FA9\InstalledCopies\FA9COPY2]
"FA9 Path Name"="C:\\Program Files\\ZNK\\FA9COPY2"
"""


@scenario
def install_dir_conflict(ctx, c):
    """(h) Two installed copies of the database product, one where INSTALLDIR points
    (written in other letter case, with a trailing backslash): the conflict is published,
    reported, and ends a silent installation; another INSTALLDIR passes."""
    pkg = ctx.package("en")
    with ctx.machine("install_dir_conflict") as m:
        folder = "c:" + ctx.program_files[2:].upper() + "\\"  # "c:\PROGRAM FILES\"
        m.seed_registry(INSTALLED_COPIES.replace("{folder}", folder.replace("\\", "\\\\")), "copies")
        r = m.msiexec("/i", pkg, label="conflict")
        check_ran(c, r, 1603, ["CheckWOLTInstallDirCA"])
        c.eq("INSTALLDIR", r.props.get("INSTALLDIR"), ctx.install_dir)
        c.eq("p_WOLT_installdir_conflict", r.props.get("p_WOLT_installdir_conflict"), "Y")
        c.eq("CheckWOLTInstallDirCA result", r.action_result("CheckWOLTInstallDirCA"), 0)
        lines = [l for _, body, _ in r.action_blocks({"CheckWOLTInstallDirCA"}) for l in body]
        c.true("the conflict is logged as an error naming the directory",
               any(l.startswith("1: Error: ") and ctx.install_dir.rstrip("\\") in l for l in lines), repr(lines))
        c.eq("message boxes", len(r.boxes), 1)
        r2 = m.msiexec("/i", pkg, properties={"INSTALLDIR": "C:\\Elsewhere\\WOLT\\"}, label="elsewhere")
        check_ran(c, r2, 0, ["CheckWOLTInstallDirCA"])
        c.eq("p_WOLT_installdir_conflict elsewhere", r2.props.get("p_WOLT_installdir_conflict"), "N")


def _timing(what, value):
    if isinstance(value, dict):
        return ", ".join("%s %.1f s" % (k, v) for k, v in value.items())
    return "%s %.1f s" % (what, value)


@scenario
def prerequisites_missing(ctx, c):
    """(f) A machine without Visual Studio: the prerequisite check shows its error in a
    message box titled with the welcome dialog's caption, and the installation fails."""
    pkg = ctx.package("en")
    with ctx.machine("prerequisites_missing", registry=None) as m:
        r = m.msiexec("/i", pkg, ui=None, label="install")  # full UI: the user sees the box
        check_ran(c, r, 1603, ["CheckWOLTPrereqCA"])
        c.eq("CheckWOLTPrereqCA result", r.action_result("CheckWOLTPrereqCA"), 0)
        c.eq("message boxes", len(r.boxes), 1)
        for box in r.boxes[:1]:
            c.eq("box title", box["title"], "Add-ins for Visual Studio Setup")
            c.eq("box buttons", [b["id"] for b in box["buttons"]], [1])
            c.true("the box names the product", "Add-ins for Visual Studio" in box["text"], box["text"])
            logged = [l for _, body, _ in r.action_blocks({"CheckWOLTPrereqCA"}) for l in body]
            c.true("the box's text is in the log", any(box["text"] in l for l in logged), repr(logged))
            c.eq("screenshots", len(r.screenshots), 1)


def _action_lines(result, action):
    return [l for _, body, _ in result.action_blocks({action}) for l in body]


# Wine 8's wow64 mode cannot create a RichEdit20A window in a 32-bit process (error 1400;
# a 64-bit process of the same prefix can): in a 32-bit full-UI run AddSummaryCA says so
# in two boxes and the summary control stays empty. The classic 32-bit Wine
# (wine32:i386, which scripts/install-deps.sh installs where it can) creates it.
WOW64_RICHEDIT = "Wine 8's wow64 mode: a 32-bit process cannot create a RichEdit20A window (error 1400)"


def summary_limit(ctx, c, result):
    """The boxes AddSummaryCA showed in a 32-bit run that met Wine's rich-edit limit, after
    checking that the limit is all it met; the scenario then reports itself skipped with
    the limit as its reason. [] otherwise: a 64-bit run, a run without AddSummaryCA, or a
    32-bit run under the classic 32-bit Wine, which creates the window (e2e/README.md), where
    every check applies."""
    if ctx.arch != "x86" or "AddSummaryCA" not in [a for a, _ in result.action_results()]:
        return []
    lines = _action_lines(result, "AddSummaryCA")
    if not [l for l in lines if l.startswith("1: Error: ") and "result code 1400" in l]:
        return []
    c.true("AddSummaryCA met Wine's rich-edit limit (result code 1400) and nothing else",
           all("result code" not in l or "result code 1400" in l for l in lines), repr(lines))
    c.skip(WOW64_RICHEDIT + ", so AddSummaryCA cannot fill the installation summary")
    return [b for b in result.boxes if any(b["text"] in l for l in lines)]


def _devenv_runs(machine):
    text = machine.read_text(STAND_IN_STATE + "devenv.log") or ""
    return [l for l in text.splitlines() if l.strip()]


@scenario
def registration_round_trip(ctx, c):
    """(i) Installation registers the add-ins (commontoolreg.exe) and the tools folder
    (macConfigChange.exe in INSTALLDIR\bin) and runs devenv.exe /setup for both IDEs;
    a full removal clears both records and runs devenv.exe three more times."""
    pkg = ctx.package("en")
    with ctx.machine("registration_round_trip") as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["DetectDotNetDataProviderInstalledCA", "RegisterWOLTKeysCA", "RegisterWOLTMachineCfgCA",
                            "SetupWOLTTemplateCA"])
        install_dir = r.props.get("INSTALLDIR", "")
        c.eq("add-in registration", m.read_text(STAND_IN_STATE + "addins.txt"),
             "INSTALLDIR=%s\n" % install_dir.rstrip("\\"))
        c.eq("machine configuration", m.read_text(STAND_IN_STATE + "machine.cfg"),
             "toolspath=%sbin\n" % install_dir)
        runs = _devenv_runs(m)
        c.eq("devenv runs at installation", [l.split(" ", 1)[-1][-6:] for l in runs], ["/setup", "/setup"])
        c.true("the first run is the 2005 IDE's", runs and "Visual Studio 8" in runs[0], repr(runs))
        c.eq("library lines of the installation", [l for l in r.library_lines() if "Error" in l], [])

        u = m.msiexec("/x", pkg, label="uninstall")
        check_ran(c, u, 0, ["UnregisterWOLTMachineCfgCA", "RemoveWOLTKeysCA", "SetupWOLTTemplateCA"])
        ran = [a for a, _ in u.action_results()]
        for action in ("UnregisterWOLTMachineCfgCA", "RemoveWOLTKeysCA"):
            c.eq("%s scheduled, then run in the script" % action, ran.count(action), 2)
        # macConfigChange.exe lives in INSTALLDIR\bin: the record it clears below shows that
        # the script ran it before RemoveFiles took the file away.
        c.eq("add-in registration after removal", m.read_text(STAND_IN_STATE + "addins.txt"), None)
        c.eq("machine configuration after removal", m.read_text(STAND_IN_STATE + "machine.cfg"), None)
        runs = _devenv_runs(m)
        c.eq("devenv runs in all", len(runs), 5)
        c.true("the removal ends with the control refresh of the 2008 IDE",
               runs and runs[-1].endswith("/Command Tools.InstallCommunityControls") and "9.0" in runs[-1],
               repr(runs))


@scenario
def registration_failures(ctx, c):
    """(j) Exit codes chosen for the stand-ins: commontoolreg.exe 6 shows its box, logs
    the error and then the program's own output (standard output, then standard error)
    and the installation goes on; macConfigChange.exe 5 stops it with 1603."""
    pkg = ctx.package("en")
    with ctx.machine("registration_failures") as m:
        m.place_file(STAND_IN_STATE + "exitcodes.txt", text="commontoolreg /commontoolinstall 6\r\n")
        r = m.msiexec("/i", pkg, ui=None, label="addins")  # full UI: the box is shown
        check_ran(c, r, 0, ["RegisterWOLTKeysCA"])
        lines = _action_lines(r, "RegisterWOLTKeysCA")
        errors = [i for i, l in enumerate(lines) if l.startswith("1: Error: ")]
        c.true("three error records: the message, the output, the error output", len(errors) == 3, repr(lines))
        if len(errors) == 3:
            c.true("the message names the product",
                   "The add-ins of Add-ins for Visual Studio could not be registered" in lines[errors[0]], lines[errors[0]])
            c.true("then the program's standard output", "commontoolreg: add-ins registered for" in lines[errors[1]],
                   lines[errors[1]])
            c.true("then its standard error", "exit code 6 chosen for /commontoolinstall" in lines[errors[2]],
                   lines[errors[2]])
        summary_boxes = summary_limit(ctx, c, r)
        boxes = [b for b in r.boxes if b not in summary_boxes]
        c.eq("message boxes", len(boxes), 1)
        for box in boxes[:1]:
            c.true("the box says what failed", "could not be registered with Visual Studio" in box["text"], box["text"])

    with ctx.machine("registration_failures_cfg") as m:
        m.place_file(STAND_IN_STATE + "exitcodes.txt", text="macConfigChange -toolspath 5\r\n")
        r = m.msiexec("/i", pkg, label="machine_cfg")
        check_ran(c, r, 1603, ["RegisterWOLTMachineCfgCA"])
        c.eq("RegisterWOLTMachineCfgCA result", r.action_result("RegisterWOLTMachineCfgCA"), 0)
        lines = _action_lines(r, "RegisterWOLTMachineCfgCA")
        c.true("6031 names the program and the exit code",
               any(l.startswith("1: Error: ") and l.rstrip().endswith("macConfigChange.exe failed with return code 5.")
                   for l in lines), repr(lines))
        c.true("the program's output follows", any("exit code 5 chosen for -toolspath" in l for l in lines), repr(lines))
        # The failure in the script rolls the installation back.
        c.true("the installation's files are rolled back",
               not os.path.exists(m.host_path(ctx.install_dir + "readme.txt")))
        # Wine runs the failure actions (-3) before its rollback script, and that script
        # removes the files before it calls the rollback custom actions (Windows rolls back
        # in reverse order, inside InstallFinalize): the rollback row is called, in
        # rollback mode, but finds macConfigChange.exe gone.
        after = r.lines[max(i for i, l in enumerate(r.lines) if l.startswith("Action ended") and "INSTALL." in l):]
        c.true("the rollback script calls the rollback row",
               any("Action start" in l and "RollbackRegisterWOLTMachineCfg" in l for l in after), repr(after[-20:]))
        c.true("the failure action removed the store", any("Action start" in l and "PostProcessInstallCAOnFailure" in l
                                                           for l in r.lines))
        c.eq("no store left behind", _store(m, r)[1], None)
        ran = [a for a, _ in r.action_results()]
        c.true("the log shows what ran in the script before the failure",
               "RegisterWOLTKeysCA" in ran and ran.index("RegisterWOLTKeysCA") < len(ran) - 1 - ran[::-1].index(
                   "RegisterWOLTMachineCfgCA"), repr(ran))
        c.eq("the script ended failed", r.action_result("InstallFinalize"), 0)


@scenario
def deferred_failure_boxes(ctx, c):
    """(j2) A failure in the installer's script (macConfigChange.exe 5) is handed to the
    installer instead of a box of the custom action's own: under /qf the installer shows
    it (Wine 8: its own box, titled "Windows Installer"), under /qn nobody is asked and the
    installer logs the text itself; either way the installation ends with 1603."""
    pkg = ctx.package("en")
    text = "macConfigChange.exe failed with return code 5."
    for ui, label in (("/qf", "full"), ("/qn", "silent")):
        with ctx.machine("deferred_failure_boxes_" + label) as m:
            m.place_file(STAND_IN_STATE + "exitcodes.txt", text="macConfigChange -toolspath 5\r\n")
            r = m.msiexec("/i", pkg, ui=ui, label=label)
            check_ran(c, r, 1603, ["RegisterWOLTMachineCfgCA"])
            lines = _action_lines(r, "RegisterWOLTMachineCfgCA")
            c.true("%s: the library logged the failure" % label,
                   any(l.startswith("1: Error: ") and l.rstrip().endswith(text) for l in lines), repr(lines))
            about = [b for b in r.boxes if text in b["text"]]
            if ui == "/qf":
                c.eq("%s: boxes about the failure" % label, len(about), 1)
                for box in about[:1]:
                    c.eq("%s: one OK button" % label, [b["text"] for b in box["buttons"]], ["OK"])
                # The rollback row's report (the program is gone by then) goes the same way.
                # In a 32-bit run the immediate AddSummaryCA shows its own boxes for Wine's
                # rich-edit limit (see summary_limit); they are not the script's.
                summary = _action_lines(r, "AddSummaryCA")
                script = [b for b in r.boxes if not any(b["text"] in l for l in summary)]
                if len(script) < len(r.boxes):
                    c.note("%s: %d box(es) of AddSummaryCA left out" % (label, len(r.boxes) - len(script)))
                c.eq("%s: every box of the script is the installer's, none the custom actions' own" % label,
                     sorted(set(b["title"] for b in script)), ["Windows Installer"])
            else:
                c.eq("%s: message boxes" % label, r.boxes, [])
                c.true("%s: the installer logged the message it did not show" % label,
                       any(l.rstrip().endswith(text) and not l.startswith("1: ") for l in lines), repr(lines))


@scenario
def provider_missing(ctx, c):
    """(k) Without the .NET data provider in the global assembly cache the provider check
    (commontoolreg.exe /checkprovider answers 10) stops a silent installation with 1603,
    logging message 3164 with the text of 3170 first; nothing is registered."""
    pkg = ctx.package("en")
    with ctx.machine("provider_missing", provider=False) as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 1603, ["DetectDotNetDataProviderInstalledCA"])
        c.eq("DetectDotNetDataProviderInstalledCA result", r.action_result("DetectDotNetDataProviderInstalledCA"), 0)
        lines = _action_lines(r, "DetectDotNetDataProviderInstalledCA")
        c.true("3164 with the provider text first",
               any(l.startswith("1: Error: The FA9 .NET data provider was not found on this computer.") for l in lines),
               repr(lines))
        c.true("the answer 10 leaves no trace of the program's output",
               not any("commontoolreg:" in l for l in lines), repr(lines))
        c.eq("message boxes under /qn", len(r.boxes), 0)
        c.eq("no add-in registration", m.read_text(STAND_IN_STATE + "addins.txt"), None)
        c.eq("no store left behind", _store(m, r)[1], None)


SILENT_RSP = "* silent installation of the add-ins elsewhere\r\nPROD = WOLT_TOOLS\r\nFILE = C:\\Tools\\WOLT\r\n"


@scenario
def silent_response_file(ctx, c):
    """(m) A silent installation with RSP_FILE_PATH: the response file's FILE becomes the
    INSTALLDIR target and the package's files land there; a program started later in the
    same installation (commontoolreg.exe /checkprovider) sees the runtime folder first in
    its PATH. The removal finds the moved folder again."""
    pkg = ctx.package("en")
    with ctx.machine("silent_response_file") as m:
        m.place_file(r"C:\rsp\silent.rsp", text=SILENT_RSP)
        r = m.msiexec("/i", pkg, properties={"RSP_FILE_PATH": r"C:\rsp\silent.rsp"}, label="install")
        check_ran(c, r, 0, ["SetSilentInstallPropertiesCA"])
        c.eq("SetSilentInstallPropertiesCA result", r.action_result("SetSilentInstallPropertiesCA"), 1)
        c.eq("INSTALLDIR", r.props.get("INSTALLDIR"), "C:\\Tools\\WOLT\\")
        c.true("the package's files are in the response file's folder",
               os.path.isfile(m.host_path(r"C:\Tools\WOLT\readme.txt")), m.host_path(r"C:\Tools\WOLT"))
        c.true("and not in the package's default folder",
               not os.path.exists(m.host_path(ctx.install_dir + "readme.txt")))
        runtime = r.props.get("CURRENT_PROCESS_DIRECTORY", "")
        path = (m.stand_in_record("commontoolreg.path") or "").strip()
        c.true("the provider check's PATH begins with the runtime folder",
               runtime and path.lower().startswith(runtime.lower() + ";"), "%r vs %r" % (path, runtime))
        # The removal finds the moved folder again (the package remembers it).
        u = m.msiexec("/x", pkg, label="uninstall")
        check_ran(c, u, 0, ["UnregisterWOLTMachineCfgCA"])
        c.eq("INSTALLDIR at removal", u.props.get("INSTALLDIR"), "C:\\Tools\\WOLT\\")
        c.eq("tools folder unregistered", m.stand_in_record("machine.cfg"), None)
        c.true("files removed", not os.path.exists(m.host_path(r"C:\Tools\WOLT\readme.txt")))


@scenario
def silent_response_errors(ctx, c):
    """(n) A response file with an unknown keyword and a bad value stops a silent
    installation with 1603; the log has 5017 (keyword, line), 5015 (value, keyword) and
    5016 (file) in that order."""
    pkg = ctx.package("en")
    with ctx.machine("silent_response_errors") as m:
        m.place_file(r"C:\rsp\bad.rsp", text="PROD = WOLT_TOOLS\r\nCOLOUR = blue\r\nINSTALL_TYPE = SMALL\r\n")
        r = m.msiexec("/i", pkg, properties={"RSP_FILE_PATH": r"C:\rsp\bad.rsp"}, label="install")
        check_ran(c, r, 1603, ["SetSilentInstallPropertiesCA"])
        lines = [l for l in _action_lines(r, "SetSilentInstallPropertiesCA") if l.startswith("1: Error: ")]
        expected = [
            "Line 2 of the response file: the keyword COLOUR is unknown or not allowed for this product.",
            'The value "SMALL" is not valid for the keyword INSTALL_TYPE.',
            "The response file C:\\rsp\\bad.rsp contains errors",
        ]
        found = [next((i for i, l in enumerate(lines) if e in l), None) for e in expected]
        c.true("5017, 5015 and 5016 are logged in that order",
               None not in found and found == sorted(found), repr(lines))
        c.eq("no files installed", os.path.exists(m.host_path(ctx.install_dir + "readme.txt")), False)


@scenario
def full_ui_summary(ctx, c):
    """(o) A full-UI installation driven through its dialogs: the welcome dialog's Next
    runs AddSummaryCA, the Summary dialog shows the setting text (read back from the
    control: product line, features to be installed, directory; screenshot kept), the
    generated response file FA9RL000.rsp in TempFolder holds PROD=WOLT_TOOLS, and Install
    finishes the installation (the actions that end the run, which remove the generated
    file, left out so that it can be read)."""
    pkg = ctx.package("en-kept", "--unsequenced", "PostProcessInstallCA", "--unsequenced",
                      "PostProcessInstallCAOnUIEnd")
    with ctx.machine("full_ui_summary") as m:
        r = m.msiexec("/i", pkg, ui=None, label="install")
        check_ran(c, r, 0, ["AddSummaryCA"])
        c.eq("dialogs went through", len(r.dialogs), 2)
        c.eq("dialog screenshots", len(r.dialog_screenshots), 2)
        c.true("installed", os.path.isfile(m.host_path(ctx.install_dir + "readme.txt")))
        if summary_limit(ctx, c, r):
            return
        summary = r.dialogs[1] if len(r.dialogs) > 1 else {}
        text = summary.get("scrollable_text", "")
        c.note("summary text: %r" % text)
        c.true("the product line", re.search(r"Product\s+Add-ins for Visual Studio", text), text)
        c.true("the features to be installed", "Features to be installed" in text and "Tools" in text, text)
        c.true("the directory", re.search(r"Installation directory\s+" + re.escape(ctx.install_dir.rstrip("\\")) + r"\b",
                                          text), text)
        temp = r.props.get("TempFolder", "")
        generated = m.read_text(temp + "FA9RL000.rsp") if temp else None
        c.eq("generated response file", generated and generated.replace("\r\n", "\n"), "PROD=WOLT_TOOLS\n")
        c.eq("RSP_FILE_PATH names it", (r.props.get("RSP_FILE_PATH") or "").lower(),
             (temp + "FA9RL000.rsp").lower())


PRODUCT_FOLDER = r"C:\FA9\SQLLIB" + "\\"


@scenario
def assembly_copy(ctx, c):
    """(p) CopyVC80AssembliesCA with a seeded product folder (BIN, FUNCTION, msg\\en_US,
    msg\\de_DE): both assemblies of the runtime folder land in each, and the prefix's
    pending-rename list names every copied file and then its folder, for deletion; an old,
    read-only copy there is replaced. With
    the folder above the product folder a link to another one (a Unix symbolic link,
    which Wine resolves like a junction), the script copies nothing: 7117 names the
    product folder and the installation fails (1603)."""
    pkg = ctx.package("assemblies", "--property",
                      "INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA=" + PRODUCT_FOLDER)
    folders = ["BIN", "FUNCTION", r"msg\en_US", r"msg\de_DE"]
    with ctx.machine("assembly_copy") as m:
        for f in folders + ["doc"]:
            os.makedirs(m.host_path(PRODUCT_FOLDER + f), exist_ok=True)
        # An old copy, read-only: it goes through its handle (read-only cleared there) and
        # the package's file takes its place.
        stale = os.path.join(m.host_path(PRODUCT_FOLDER + "BIN"), "Microsoft.VC80.CRT", "msvcr80.dll")
        os.makedirs(os.path.dirname(stale))
        with open(stale, "wb") as f:
            f.write(b"an old copy")
        os.chmod(stale, 0o444)
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["CopyVC80AssembliesCA"])
        check_same_bytes(c, stale, pkg, "msvcr80.dll")
        c.eq("no error lines", [l for l in _action_lines(r, "CopyVC80AssembliesCA") if "Error" in l], [])
        # The runtime folder is gone after the run: its assemblies as the extraction lays them out.
        expected = sorted(p for p, _ in RUNTIME_FILES if p.startswith("Microsoft.VC80."))
        for f in folders:
            got = sorted(p.replace("MICROSOFT.VC80.", "Microsoft.VC80.")
                         for p in files_under(m.host_path(PRODUCT_FOLDER + f)))
            c.eq("assemblies in %s" % f, got, expected)
        c.eq("nothing in doc", files_under(m.host_path(PRODUCT_FOLDER + "doc")), set())
        p = m.wine("reg", "query", r"HKLM\System\CurrentControlSet\Control\Session Manager", "/v",
                   "PendingFileRenameOperations", check=False)
        text = p.stdout.decode(errors="replace")
        entries = [e for e in re.split(r"\\0", text.split("REG_MULTI_SZ", 1)[-1].strip()) if e.strip()]
        deletes = [e.strip()[4:] if e.strip().startswith("\\??\\") else e.strip() for e in entries]
        c.note("pending deletes: %d" % len(deletes))
        # What the run wrote: every file and every assembly folder it made (BIN's CRT folder
        # was there before the run, so it stays unmarked).
        c.eq("every copied file and folder the run made is pending deletion", len(deletes),
             len(folders) * (len(expected) + 2) - 1)
        c.true("the folder that was there before is not marked",
               not any(d.upper().endswith("\\BIN\\MICROSOFT.VC80.CRT") for d in deletes), deletes)
        for i, d in enumerate(deletes):
            if "\\" in d and os.path.basename(d.replace("\\", "/")).upper().startswith("MICROSOFT.VC80.") and \
                    not d.lower().endswith(".manifest"):
                c.true("the folder %s comes after its files" % d,
                       all(not x.lower().startswith(d.lower() + "\\") for x in deletes[i + 1:]), d)

    with ctx.machine("assembly_copy_through_link") as m:
        real = m.host_path("C:\\Real")
        os.makedirs(os.path.join(real, "SQLLIB", "BIN"))
        os.symlink(real, m.host_path("C:\\FA9"))
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 1603, ["CopyVC80AssembliesCA"])
        # The gate names the place that refused: the link on the way where it is seen as
        # one; Wine shows a host symbolic link as a plain folder, so there the final path of
        # the product folder tells.
        refusals = tuple("1: Error: %s is a link, or is reached through one, that leads to another place" % place
                         for place in ("C:\\FA9", PRODUCT_FOLDER.rstrip("\\")))
        c.true("7117 names the link or the folder it leads", any(l.startswith(refusals) for l in r.library_lines()),
               repr([l for l in r.library_lines() if "Error" in l]))
        c.eq("nothing copied where the link leads", files_under(os.path.join(real, "SQLLIB")), set())


STORE_KEY = r"SOFTWARE\ZNK\FA9\TEMP\PROPERTIES95"


def _store(machine, result):
    """(key path, {value: data}) of the deferred property store under HKEY_USERS\<UserSID>."""
    sid = result.props.get("UserSID", "")
    key = r"HKU\%s\%s" % (sid, STORE_KEY)
    p = machine.wine("reg", "query", key, check=False)
    values = {}
    if p.returncode == 0:
        for line in p.stdout.decode(errors="replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1] == "REG_SZ":
                values[parts[0]] = parts[2] if len(parts) > 2 else ""
    return key, (values if p.returncode == 0 else None)


@scenario
def deferred_store(ctx, c):
    """(q) The deferred custom actions read INSTALLDIR as PreProcessInstallCA saw it (from
    the data it hands them, the store as a fallback): a package that sets INSTALLDIR to a
    decoy right after PreProcessInstallCA (Wine hands deferred actions the session's
    properties, Windows does not) still has the stand-ins record the real folder;
    PostProcessInstallCA leaves no store under HKEY_USERS\\<sid>."""
    pkg = ctx.package("decoy", "--set-after-store", "INSTALLDIR=C:\\Decoy\\")
    with ctx.machine("deferred_store") as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["PreProcessInstallCA", "RegisterWOLTKeysCA", "PostProcessInstallCA"])
        c.eq("the decoy is the session's INSTALLDIR at the end", r.props.get("INSTALLDIR"), "C:\\Decoy\\")
        c.eq("add-ins registered for the real folder", m.stand_in_record("addins.txt"),
             "INSTALLDIR=%s\n" % ctx.install_dir.rstrip("\\"))
        c.eq("tools folder registered", m.stand_in_record("machine.cfg"),
             "toolspath=%sbin\n" % ctx.install_dir)
        c.true("deferred actions ran in the script (listed twice)",
               [a for a, _ in r.action_results()].count("RegisterWOLTKeysCA") == 2, repr(r.action_results()))
        key, values = _store(m, r)
        c.true("UserSID known", r.props.get("UserSID"))
        c.eq("store removed", values, None)


BRACKETS = "[ProductName] {[UILevel]} [%PATH] [\\[]"


@scenario
def store_left_behind(ctx, c):
    """(r) Without PostProcessInstallCA the store stays under HKEY_USERS\\<sid> with
    the saved values: the Property table's, the fixed list's (PROP_RSP_PROD among them),
    a value holding brackets and braces as it is (all are read in one formatted text)."""
    pkg = ctx.package("no-post-brackets", "--unsequenced", "PostProcessInstallCA", "--property",
                      "FA9_BRACKETS=" + BRACKETS)
    with ctx.machine("store_left_behind") as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["PreProcessInstallCA"])
        key, values = _store(m, r)
        c.true("store present at %s" % key, values is not None)
        values = values or {}
        c.eq("INSTALLDIR saved", values.get("INSTALLDIR"), ctx.install_dir)
        c.eq("PROP_RSP_PROD saved", values.get("PROP_RSP_PROD"), "WOLT_TOOLS")
        c.eq("a Property-table row saved", values.get("ARPNOMODIFY"), "1")
        c.eq("the detection's IDE folder saved", values.get("VS90_INSTALLDIR"), IDE_FOLDERS_90)
        c.eq("a value with brackets saved as it is", values.get("FA9_BRACKETS"), BRACKETS)
        c.note("%d values in the store" % len(values))


@scenario
def tampered_runtime(ctx, c):
    """(w) What the installing user can write between the extraction and the script
    changes nothing the script runs: with decoys in the store the registration runs a
    copy of the program made from the package (not the runtime folder's) for the real
    folder; with the program swapped after the provider check (which runs the runtime
    folder's own program: elevated, Windows keeps the user's unelevated programs out of that
    folder, which Wine's one account cannot show) and a DLL planted as the
    allocator and string libraries, as msvcr80.dll and as version.dll, the installation
    succeeds, the swapped program and the planted DLL never run, only the package's files
    reach INSTALLDIR\\BIN and the script's report (the registration made to fail) is in
    the package's words; the swap with the registration's script row calling the DLL through
    another Binary row (so it gets no data) is refused (7115, 1603)."""
    pkg = ctx.package("tamper-store", "--tamper", "store")
    with ctx.machine("tampered_runtime_store") as m:
        r = m.msiexec("/i", pkg, label="decoys")
        check_ran(c, r, 0, ["Tamper", "PreProcessInstallCA", "RegisterWOLTKeysCA", "PostProcessInstallCA"])
        c.eq("the decoys were written", m.stand_in_record("tamper.txt"), "store decoys written\n")
        c.eq("add-ins registered for the real folder", m.stand_in_record("addins.txt"),
             "INSTALLDIR=%s\n" % ctx.install_dir.rstrip("\\"))
        c.eq("tools folder registered", m.stand_in_record("machine.cfg"), "toolspath=%sbin\n" % ctx.install_dir)
        runtime = r.props.get("CURRENT_PROCESS_DIRECTORY", "")
        ran = (m.stand_in_record("commontoolreg.self") or "").strip()
        copy = ran.rsplit("\\", 1)[0]
        c.true("the registration program ran from a copy of its own, not from %s" % runtime,
               runtime and copy.rsplit("\\", 1)[-1].startswith("FA9RUN") and copy.lower() != runtime.lower(), ran)
        c.true("the copy is gone after the run", copy and not os.path.exists(m.host_path(copy)), copy)
        c.eq("store removed", _store(m, r)[1], None)

    pkg = ctx.package("tamper-attack", "--tamper", "attack", "--property",
                      "INSTALLDIR.2BC48F01_561E_4906_8321_946A9F5A90AA=" + PRODUCT_FOLDER)
    with ctx.machine("tampered_runtime_attack") as m:
        os.makedirs(m.host_path(PRODUCT_FOLDER + "BIN"), exist_ok=True)
        # A report in the script, whose words must come from the package, not the plant.
        m.place_file(STAND_IN_STATE + "exitcodes.txt", text="commontoolreg /commontoolinstall 6\r\n")
        r = m.msiexec("/i", pkg, label="attack")
        check_ran(c, r, 0, ["Tamper", "DetectDotNetDataProviderInstalledCA", "CopyVC80AssembliesCA",
                            "RegisterWOLTKeysCA", "PostProcessInstallCA"])
        planted = m.stand_in_record("tamper.txt") or ""
        c.eq("program swapped, DLL planted four times: %r" % planted, planted.count(": done"), 5)
        c.eq("the swapped program never ran", m.stand_in_record("swapped.txt"), None)
        c.eq("the planted DLL was never loaded", m.stand_in_record("planted.txt"), None)
        c.eq("add-ins registered for the real folder", m.stand_in_record("addins.txt"),
             "INSTALLDIR=%s\n" % ctx.install_dir.rstrip("\\"))
        c.true("the script's report in the package's words", any(
            l.startswith("1: Error: The add-ins of Add-ins for Visual Studio could not be registered")
            for l in _action_lines(r, "RegisterWOLTKeysCA")), repr(_action_lines(r, "RegisterWOLTKeysCA")))
        got = files_under(m.host_path(PRODUCT_FOLDER + "BIN"))
        c.eq("only the package's files reach the product's BIN", sorted(p.upper() for p in got),
             sorted(p.upper() for p, _ in RUNTIME_FILES if p.startswith("Microsoft.VC80.")))
        crt = [p for p in got if p.upper().endswith("/MSVCR80.DLL")]
        with open(os.path.join(m.host_path(PRODUCT_FOLDER + "BIN"), crt[0]) if crt else os.devnull, "rb") as f:
            c.true("the package's msvcr80.dll, not the planted one", crt and b"FA9PLANTED" not in f.read(), crt)

    pkg = ctx.package("tamper-other-source", "--tamper", "swap", "--other-source", "RegisterWOLTKeysCA")
    with ctx.machine("tampered_runtime_other_source") as m:
        r = m.msiexec("/i", pkg, label="other source")
        check_ran(c, r, 1603, ["Tamper", "PreProcessInstallCA", "RegisterWOLTKeysCA"])
        c.eq("the swapped program never ran", m.stand_in_record("swapped.txt"), None)
        c.eq("nothing registered", m.stand_in_record("addins.txt"), None)
        # Without its data the action has not even the INSTALLDIR it would hand the program.
        refusal = ("1: Error: The installation package's record of INSTALLDIR cannot be read, so the file "
                   "cannot be checked and is not used. ")
        c.true("7115 names INSTALLDIR", any(refusal in l for l in r.library_lines()),
               repr([l for l in r.library_lines() if "Error" in l]))


@scenario
def open_install_dir(ctx, c):
    """(w2) Where others may write, the script runs nothing as SYSTEM: with INSTALLDIR's
    bin folder opened to everyone after the installation (Wine shows the "other" mode
    bits as Everyone's rights), the removal's UnregisterWOLTMachineCfgCA reports 7114
    naming that folder and fails (1603), and macConfigChange.exe does not run."""
    pkg = ctx.package("en")
    with ctx.machine("open_install_dir") as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["RegisterWOLTMachineCfgCA"])
        c.eq("tools folder registered", m.stand_in_record("machine.cfg"), "toolspath=%sbin\n" % ctx.install_dir)
        os.chmod(m.host_path(ctx.install_dir + "bin"), 0o777)
        r = m.msiexec("/x", pkg, label="remove")
        check_ran(c, r, 1603, ["UnregisterWOLTMachineCfgCA"])
        refusal = "1: Error: %sbin can be changed by users other than administrators" % ctx.install_dir
        c.true("7114 names the bin folder", any(l.startswith(refusal) for l in r.library_lines()),
               repr([l for l in r.library_lines() if "Error" in l]))
        c.eq("macConfigChange.exe did not run for the removal", m.stand_in_record("machine.cfg"),
             "toolspath=%sbin\n" % ctx.install_dir)


def _windows_path(path):
    """A Windows path for comparing: one backslash between names, none at the end, lower case."""
    return re.sub(r"\\+", r"\\", path).rstrip("\\").lower()


# 7114 as the library logs it, warning or error; group 2 is the place it names.
IDE_REFUSAL = re.compile(r"1: (Error|Warning): (.+) can be changed by users other than administrators, ")


@scenario
def open_ide_folder(ctx, c):
    """(w3) The script runs no devenv.exe from an IDE folder others may change: with the
    2005 IDE folder opened to everyone (someone could put a DLL beside devenv.exe),
    SetupWOLTTemplateCA reports 7114 naming it and skips that run; the 2008 IDE still
    gets its /setup and the installation succeeds."""
    pkg = ctx.package("en")
    with ctx.machine("open_ide_folder") as m:
        vs80, vs90 = wine_e2e.IDE_FOLDERS
        folder = m.host_path(vs80)
        os.chmod(folder, os.stat(folder).st_mode | 0o002)
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["SetupWOLTTemplateCA"])
        # The program path tells the IDE; the record keeps it as run (doubled backslashes
        # and case are the library's to choose).
        runs = [(_windows_path(program), "/" + args) for program, _, args in
                (l.partition(" /") for l in _devenv_runs(m))]
        setup_90 = (_windows_path(vs90 + "devenv.exe"), "/setup")
        c.true("the 2008 IDE still got its /setup", setup_90 in runs, repr(runs))
        c.eq("devenv runs: the 2008 IDE's /setup alone", runs, [setup_90])
        # Listed when scheduled and again when run in the script: the second block is the run.
        blocks = r.action_blocks({"SetupWOLTTemplateCA"})
        c.eq("SetupWOLTTemplateCA scheduled, then run in the script: return values", [b[2] for b in blocks], [1, 1])
        script = blocks[-1][1] if blocks else []
        named = [mt.group(2) for mt in map(IDE_REFUSAL.match, script) if mt]
        places = {_windows_path(p) for p in (vs80, vs80 + "devenv.exe")}
        c.true("7114 in the script names the 2005 IDE folder", any(_windows_path(p) in places for p in named),
               repr(named or [l for l in script if l.startswith(("1: Error: ", "1: Warning: "))]))


def _leftovers(c, machine, before, what):
    """Checks that the machine is as `before` (a Machine.state()), outside
    wine_e2e.STATE_IGNORED, after the deletions marked for the next restart."""
    diff = wine_e2e.compare_states(before, machine.state())
    c.eq("%s: the machine's files and registry against before" % what, diff, [])


def _run_traces(machine, temp):
    """What runs of the library may leave in the user's temporary folder (runtime folders,
    program copies and their markers) and in the system's, where an elevated action's
    program copies go."""
    left = []
    for folder in (temp, "C:\\windows\\temp"):
        host = machine.host_path(folder) if folder else None
        if host and os.path.isdir(host):
            left += [n for n in os.listdir(host) if n.upper().startswith(("FA9WOLT", "FA9RUN"))]
    return sorted(left)


@scenario
def nothing_left_behind(ctx, c):
    """(x) An installation through the full UI (both sequences make a runtime folder) and
    its removal leave nothing: after each, no runtime folder, program copy or marker in
    %TEMP% and no key of the store's path; after the removal the prefix's files and
    registry are as before the installation (after the restart's deletions, outside the
    list of what Wine itself writes)."""
    pkg = ctx.package("en")
    with ctx.machine("nothing_left_behind") as m:
        before = m.state()
        r = m.msiexec("/i", pkg, ui=None, label="install")
        check_ran(c, r, 0, ["InitializeWOLTInstallCA", "PreProcessInstallCA", "PostProcessInstallCA"])
        temp = r.props.get("TempFolder", "")
        c.true("TempFolder known", temp)
        c.eq("install: left in %TEMP%", _run_traces(m, temp), [])
        c.eq("install: the store's top key", m.reg_query(r"HKCU\Software\ZNK"), None)
        r = m.msiexec("/x", pkg, label="remove")
        check_ran(c, r, 0, ["InitializeWOLTInstallCA", "RemoveWOLTKeysCA", "PostProcessInstallCA"])
        c.eq("remove: left in %TEMP%", _run_traces(m, temp), [])
        _leftovers(c, m, before, "after the removal")


@scenario
def repeated_runs(ctx, c):
    """(y) Install, repair, repair, remove, install again, remove: each exits 0, each leaves
    no runtime folder in %TEMP% (the names are used again: every run takes FA9WOLT00000),
    and after the last removal the machine is as before the first installation."""
    pkg = ctx.package("en")
    with ctx.machine("repeated_runs") as m:
        before = m.state()
        for i, (action, label) in enumerate((("/i", "install"), ("/fa", "repair1"), ("/fa", "repair2"),
                                             ("/x", "remove"), ("/i", "install2"), ("/x", "remove2"))):
            r = m.msiexec("/i", pkg, properties={"REINSTALL": "ALL", "REINSTALLMODE": "omus"} if action == "/fa" else None,
                          label=label) if action != "/x" else m.msiexec("/x", pkg, label=label)
            check_ran(c, r, 0, ["InitializeWOLTInstallCA", "PostProcessInstallCA"])
            temp = r.props.get("TempFolder", "")
            c.eq("%s: runtime folder" % label, r.props.get("CURRENT_PROCESS_DIRECTORY"), temp + "FA9WOLT00000")
            c.eq("%s: left in %%TEMP%%" % label, _run_traces(m, temp), [])
        _leftovers(c, m, before, "after the last removal")


# Where the scenarios kill the installation: right after each custom action of the
# library in the execute sequence (fault.exe /kill), and during RegisterWOLTKeysCA, while
# its program copy is in use (the registration program ends msiexec: kill.txt).
KILLED_IMMEDIATE = ["InitializeWOLTInstallCA", "SetWOLTDialogTitlePropertiesCA", "DetectDOTNETEnvCA",
                    "CheckWOLTPrereqCA", "SetWOLTTemplateCompCA", "CheckWOLTInstallDirCA",
                    "DetectDotNetDataProviderInstalledCA", "PreProcessInstallCA"]
KILLED_IN_SCRIPT = ["CopyVC80AssembliesCA", "RegisterWOLTKeysCA", "during RegisterWOLTKeysCA",
                    "RegisterWOLTMachineCfgCA", "SetupWOLTTemplateCA"]


@scenario
def killed_runs(ctx, c):
    """(z) msiexec and its custom-action servers killed after each immediate custom action
    of the library in turn: the next installation succeeds with the usual results (add-ins
    registered for the installation folder) and removes what the killed run left (runtime
    folder, marker, store); its removal leaves the machine as before."""
    _killed(ctx, c, "killed_runs", KILLED_IMMEDIATE)


@scenario
def killed_in_script(ctx, c):
    """(z2) The same with msiexec killed in the script: after each deferred custom action
    of the library, and during RegisterWOLTKeysCA while its program copy is in use."""
    _killed(ctx, c, "killed_in_script", KILLED_IN_SCRIPT)


def _pages(n):
    return (n + 4095) // 4096 * 4096


class _SmallVolume:
    """A tmpfs of `size` bytes mounted over a folder of the machine (as root), for a full
    volume; unmounted, with the prefix's processes ended, on the way out."""

    def __init__(self, machine, windows_folder, size):
        self.machine, self.host, self.size = machine, machine.host_path(windows_folder), size

    def __enter__(self):
        os.makedirs(self.host, exist_ok=True)
        p = wine_e2e.run(["mount", "-t", "tmpfs", "-o", "size=%d" % self.size, "tmpfs", self.host], check=False)
        self.mounted = p.returncode == 0
        return self

    def __exit__(self, *exc):
        if self.mounted:
            wine_e2e.run([wine_e2e.WINESERVER, "-k"], env=self.machine.env, check=False)
            wine_e2e.run(["umount", self.host], check=False)


@scenario
def full_volumes(ctx, c):
    """(f) A %TEMP% too small for the runtime files: the extraction names the file that did
    not fit, 1603, and no runtime folder or marker is left; a system temporary folder
    (where an elevated administrator's copies go, and every Wine process is one) too small
    for the registration program's copy: the assembly copy, the first action of the script
    to make one, reports 7111, 1603, nothing left; an
    INSTALLDIR\bin too small for the VC80 copies: the report (result code 112) and no
    assembly folder there. Each volume is a small tmpfs mounted over the folder (needs
    root; skipped otherwise)."""
    pkg = ctx.package("en")
    dll = _pages(len(pkg.binary_row("fa9wolt.dll") or b""))
    runtime = sum(_pages(len(pkg.binary_row(row) or b"")) for _, row in RUNTIME_FILES + [(0, "FA9ISTRING_EN_US")])
    copy = sum(_pages(len(pkg.binary_row(row) or b"")) for _, row in RUNTIME_FILES if "fa9" not in row)
    with ctx.machine("full_volumes") as m:
        temp = "C:\\users\\%s\\Temp" % os.environ.get("USER", "root")
        # The installer's own copy of the DLL goes there too: room for it, then half the runtime.
        with _SmallVolume(m, temp, dll + 16384 + runtime // 2) as v:
            if not v.mounted:
                c.skip("mounting a tmpfs needs root")
                return
            r = m.msiexec("/i", pkg, label="temp-full")
            check_ran(c, r, 1603, ["InitializeWOLTInstallCA"])
            lines = [l for l in r.library_lines() if l.startswith("1: ERROR:Failed to copy ")]
            c.eq("one line names the file that did not fit", len(lines), 1)
            c.note("temp-full: %r" % lines)
            c.eq("temp-full: left in %TEMP%", _run_traces(m, temp + "\\"), [])
        with _SmallVolume(m, "C:\\windows\\temp", copy // 2):
            r = m.msiexec("/i", pkg, label="copy-full")
            # The provider check runs the runtime folder's program; the script's first
            # action to write a copy is the assembly copy.
            check_ran(c, r, 1603, ["DetectDotNetDataProviderInstalledCA", "CopyVC80AssembliesCA"])
            # 7111 names the first file of the copy that did not fit.
            c.true("copy-full: 7111 names a file of the copy", any(
                l.startswith("1: Error: The program file ") and "is missing or does not match" in l
                for l in r.library_lines()), repr([l for l in r.library_lines() if "Error" in l]))
            c.eq("copy-full: left in %TEMP%", _run_traces(m, temp + "\\"), [])
        bin_folder = ctx.install_dir + "bin"
        # Mounted over the folder above INSTALLDIR (Wine shows a mount point as a link, which
        # the copy skips): the installer's own files (the machine configuration program and
        # four texts), then half the VC80 assemblies.
        program = _pages(os.path.getsize(os.path.join(ctx.run.work_dir, "stand-ins-" + ctx.arch, "macConfigChange.exe")))
        assemblies = sum(_pages(len(pkg.binary_row(row) or b"")) for path, row in RUNTIME_FILES
                         if path.startswith("Microsoft.VC80."))
        with _SmallVolume(m, ctx.install_dir.rstrip("\\").rsplit("\\", 1)[0], program + 6 * 4096 + assemblies // 2):
            r = m.msiexec("/i", pkg, label="install-full")
            check_ran(c, r, 0, ["CopyVC80AssembliesCA"])
            report = ("1: Error: An installation step failed with result code 112. Check the preceding lines of this "
                      "log for the cause, correct it and run the installation again. ")
            c.true("install-full: the report", report in r.lines, repr([l for l in r.library_lines() if "Error" in l]))
            host = m.host_path(bin_folder)
            c.eq("install-full: assembly folders in bin", sorted(n for n in os.listdir(host)
                                                                 if n.upper().startswith("MICROSOFT.VC80")), [])


# Where the scenario fails the script (fault.exe /fail right after the action), with the
# library's rollback rows the installer must then run.
FAILED_IN_SCRIPT = [("CopyVC80AssembliesCA", []),
                    ("RegisterWOLTKeysCA", ["RollbackRegisterWOLTKeys"]),
                    ("RegisterWOLTMachineCfgCA", ["RollbackRegisterWOLTKeys", "RollbackRegisterWOLTMachineCfg"]),
                    ("SetupWOLTTemplateCA", ["RollbackRegisterWOLTKeys", "RollbackRegisterWOLTMachineCfg"])]


@scenario
def cancelled_runs(ctx, c):
    """(c2) Cancelled at each dialog of the full UI (1602), failed right after each script
    action of the library and by a program of the script failing (the machine
    configuration program's exit code; 1603): every run rolls back, the library's rollback
    rows are called (what Wine lets be seen of them: see the checks) and the store removed,
    and the machine's files and registry are as before."""
    pkg = ctx.package("faults", "--faults")
    with ctx.machine("cancelled_runs") as m:
        before = m.state()
        for n, dialog in ((1, "welcome"), (2, "summary")):
            r = m.msiexec("/i", pkg, ui=None, cancel_at=n, label="cancel-" + dialog)
            check_ran(c, r, 1602, ["InitializeWOLTInstallCA", "PostProcessInstallCAOnUICancel"])
            _leftovers(c, m, before, "cancelled at the %s dialog" % dialog)
        runs = [(point, {"FA9FAULT_AT": point, "FA9FAULT_MODE": "/fail"}, rollbacks)
                for point, rollbacks in FAILED_IN_SCRIPT]
        runs.append(("macConfigChange failing", {}, ["RollbackRegisterWOLTKeys", "RollbackRegisterWOLTMachineCfg"]))
        for point, props, rollbacks in runs:
            if not props:
                m.place_file(STAND_IN_STATE + "exitcodes.txt", text="macConfigChange -toolspath 1\n")
            r = m.msiexec("/i", pkg, properties=props, label="fail-" + point.split()[0])
            if not props:
                os.remove(m.host_path(STAND_IN_STATE + "exitcodes.txt"))
            # Wine fails a script's program action with 1627, an action of the library with 1603.
            check_ran(c, r, 1627 if props else 1603, ["PostProcessInstallCAOnFailure"])
            # The rollback rows run once InstallFinalize has failed. Wine runs the whole rollback
            # script (also rows of actions that never ran) last to first and stops at the first
            # row that fails: the machine configuration's, whose installed program it has
            # already removed. So only "a rollback row of the library was called" is checked.
            results = [a for a, _ in r.action_results()]
            after = results[results.index("InstallFinalize") + 1:] if "InstallFinalize" in results else []
            called = [a for a in after if a.startswith("Rollback")]
            if rollbacks:
                c.true("%s: a rollback row of the library called" % point, called, repr(after))
            c.note("%s: rollback rows called %r" % (point, called))
            c.eq("%s: the store" % point, _store(m, r)[1], None)
            _leftovers(c, m, before, "failed at %s" % point)


def _killed(ctx, c, name, points):
    pkg = ctx.package("faults", "--faults")
    with ctx.machine(name) as m:
        before = m.state()
        for point in points:
            during = point.startswith("during ")
            if during:
                m.place_file(STAND_IN_STATE + "kill.txt", text="commontoolreg /commontoolinstall 0\n")
                props = {}
            else:
                props = {"FA9FAULT_AT": point, "FA9FAULT_MODE": "/kill"}
            k = m.msiexec("/i", pkg, properties=props, label="kill-" + point.replace(" ", "-"))
            if during:
                os.remove(m.host_path(STAND_IN_STATE + "kill.txt"))
            c.eq("%s: killed (msiexec's exit code)" % point, k.code, 4242)
            temp = k.props.get("TempFolder") or "C:\\users\\%s\\Temp\\" % os.environ.get("USER", "root")
            killed_left = _run_traces(m, temp)
            c.note("%s: the killed run left %r" % (point, killed_left))
            r = m.msiexec("/i", pkg, label="after-" + point.replace(" ", "-"))
            check_ran(c, r, 0, ["InitializeWOLTInstallCA", "RegisterWOLTKeysCA", "PostProcessInstallCA"])
            c.eq("%s: add-ins registered by the next installation" % point, m.stand_in_record("addins.txt"),
                 "INSTALLDIR=%s\n" % ctx.install_dir.rstrip("\\"))
            c.eq("%s: left in %%TEMP%% after the next installation" % point, _run_traces(m, temp), [])
            c.eq("%s: the store after the next installation" % point, _store(m, r)[1], None)
            x = m.msiexec("/x", pkg, label="remove-" + point.replace(" ", "-"))
            check_ran(c, x, 0, ["PostProcessInstallCA"])
        _leftovers(c, m, before, "after the last removal")


def _table(package, name):
    out = wine_e2e.run(["msiinfo", "export", package.path, name]).stdout.decode()
    return [line.split("\t") for line in out.splitlines()[3:] if line]


@scenario
def package_shape(ctx, c):
    """(s) The package and the DLL agree: every CustomAction row that calls fa9wolt.dll
    names one of its real exports (read from the DLL, not from the .def), every export is
    used by a sequence or a control event, the unexported RegCOMForCSFunctionsCA is
    neither exported nor called, and the actions stand where a real package puts them
    (the store around the script, removal actions before RemoveFiles, installation ones
    after InstallFiles, a rollback row before each action that changes the machine)."""
    pkg = ctx.package("en")
    dll = os.path.join(ctx.build_dir, "src", "fa9wolt.dll")
    dump = wine_e2e.run(["x86_64-w64-mingw32-objdump", "-p", dll]).stdout.decode()
    names = dump.split("[Ordinal/Name Pointer] Table", 1)[-1]
    exports = set(re.findall(r"^\s*\[\s*\d+\]\s+(\w+)\s*$", names.split("\n\n", 1)[0], re.M))
    c.eq("exported custom actions", len(exports), 17)
    rows = _table(pkg, "CustomAction")
    calls = {r[0]: r[3] for r in rows if len(r) > 3 and r[2] == "fa9wolt.dll"}
    c.eq("CustomAction rows calling an export that is missing", sorted(set(calls.values()) - exports), [])
    used = {r[0] for r in _table(pkg, "InstallExecuteSequence") + _table(pkg, "InstallUISequence")}
    used |= {r[3] for r in _table(pkg, "ControlEvent") if len(r) > 3 and r[2] == "DoAction"}
    c.eq("exports the package never runs", sorted(e for e in exports if not any(
        a in used for a, target in calls.items() if target == e)), [])
    c.true("RegCOMForCSFunctionsCA is not exported", "RegCOMForCSFunctionsCA" not in exports)
    c.true("nor called", "RegCOMForCSFunctionsCA" not in calls.values())
    deferred = sorted(r[0] for r in rows if len(r) > 1 and int(r[1]) & 1024 and not int(r[1]) & 256)
    c.eq("deferred custom actions", deferred,
         sorted(["CopyVC80AssembliesCA", "RegisterWOLTKeysCA", "RemoveWOLTKeysCA", "SetupWOLTTemplateCA",
                 "RegisterWOLTMachineCfgCA", "UnregisterWOLTMachineCfgCA"]))
    # Where a real package puts them.
    seq = {r[0]: int(r[2]) for r in _table(pkg, "InstallExecuteSequence") if len(r) > 2 and r[2]}
    c.true("the store is filled after costing, before the script",
           seq["CostFinalize"] < seq["PreProcessInstallCA"] < seq["InstallInitialize"], repr(seq))
    c.true("and removed after it", seq["PostProcessInstallCA"] > seq["InstallFinalize"])
    c.true("no check that can stop the installation runs between the two",
           all(not (seq["PreProcessInstallCA"] < seq[a] < seq["InstallInitialize"])
               for a in ("DetectDotNetDataProviderInstalledCA", "CheckWOLTInstallDirCA", "CheckWOLTPrereqCA")))
    c.eq("a failed or cancelled installation removes the store too",
         sorted((seq[a], calls.get(a)) for a in seq if seq[a] in (-3, -2)),
         [(-3, "PostProcessInstallCA"), (-2, "PostProcessInstallCA")])
    for a in ("UnregisterWOLTMachineCfgCA", "RemoveWOLTKeysCA"):
        c.true("%s before RemoveFiles" % a, seq[a] < seq["RemoveFiles"])
    for a in ("CopyVC80AssembliesCA", "RegisterWOLTKeysCA", "RegisterWOLTMachineCfgCA", "SetupWOLTTemplateCA"):
        c.true("%s after InstallFiles" % a, seq["InstallFiles"] < seq[a] < seq["InstallFinalize"])
    rollback = {r[0]: r[3] for r in rows if len(r) > 3 and int(r[1]) & 256}
    undoes = {"RegisterWOLTKeysCA": "RemoveWOLTKeysCA", "RemoveWOLTKeysCA": "RegisterWOLTKeysCA",
              "RegisterWOLTMachineCfgCA": "UnregisterWOLTMachineCfgCA",
              "UnregisterWOLTMachineCfgCA": "RegisterWOLTMachineCfgCA"}
    for action, undo in undoes.items():
        before = [a for a, target in rollback.items() if target == undo and seq.get(a, 1 << 20) < seq[action]]
        c.true("a rollback row calling %s is scheduled before %s" % (undo, action), before, repr(rollback))


@scenario
def lingering_output(ctx, c):
    """(t) A silent installation whose registration program (commontoolreg.exe
    /commontoolinstall, told by linger.txt) leaves a process behind that holds its output
    for ten minutes still ends within a minute: after a short grace the library stops
    reading, logs the warning 7101 naming the program and goes on with its exit code."""
    pkg = ctx.package("en")
    with ctx.machine("lingering_output") as m:
        m.place_file(STAND_IN_STATE + "linger.txt", text="commontoolreg /commontoolinstall 600\r\n")
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["RegisterWOLTKeysCA"])
        c.true("the installation ended within a minute", r.seconds < 60, "%.1f s" % r.seconds)
        lines = _action_lines(r, "RegisterWOLTKeysCA")
        c.true("the warning names the program",
               any(l.startswith("1: Warning: A process started by ") and
                   l.rstrip().endswith("commontoolreg.exe still holds the program's output after the program ended. "
                                       "The installation goes on without waiting for that process.") for l in lines),
               repr(lines))
        c.eq("the registration itself went through", m.stand_in_record("addins.txt"),
             "INSTALLDIR=%s\n" % ctx.install_dir.rstrip("\\"))


@scenario
def install_dir_two_backslashes(ctx, c):
    """(u) INSTALLDIR ending in two backslashes (set after costing, which would tidy it)
    loses the last one and reaches the registration program as one folder: the backslash
    left before the closing quote is doubled, so the program reads the folder with one
    trailing backslash and no quote."""
    pkg = ctx.package("two-backslashes", "--set-before-store", "INSTALLDIR=[INSTALLDIR]\\")
    with ctx.machine("install_dir_two_backslashes") as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 0, ["RegisterWOLTKeysCA", "RegisterWOLTMachineCfgCA"])
        c.eq("the folder the program read", m.stand_in_record("addins.txt"), "INSTALLDIR=%s\n" % ctx.install_dir)


@scenario
def install_dir_with_quote(ctx, c):
    """(v) A double quote in INSTALLDIR cannot go on a command line: the registration
    reports 7103 with the property and the value and fails, the installation ends with
    1603 and neither registration program runs. The value is set after costing (a quote
    on the command line is dropped by Wine; one in the Property table already fails
    InstallFiles, as no folder name can hold it), so the files install and the check
    itself is what stops the installation."""
    value = 'C:\\Tools\\"WOLT"\\'
    pkg = ctx.package("quote-dir", "--set-before-store", "INSTALLDIR=" + value)
    with ctx.machine("install_dir_with_quote") as m:
        r = m.msiexec("/i", pkg, label="install")
        check_ran(c, r, 1603, ["RegisterWOLTKeysCA"])
        c.eq("InstallFiles result", r.action_result("InstallFiles"), 1)
        c.eq("RegisterWOLTKeysCA result", r.action_result("RegisterWOLTKeysCA"), 0)
        lines = _action_lines(r, "RegisterWOLTKeysCA")
        c.true("7103 names INSTALLDIR and its value",
               any(l.startswith("1: Error: The value %s of INSTALLDIR holds a double quote" % value) for l in lines),
               repr(lines))
        c.eq("no add-in registration", m.stand_in_record("addins.txt"), None)
        c.eq("no machine configuration", m.stand_in_record("machine.cfg"), None)


@scenario
def response_checker(ctx, c):
    """(l) The administrators' response-file checker (the build's bitness) under Wine: the
    sample files' verdicts and exit codes (0 valid, 1 invalid with one line a problem,
    2 not readable) and messages in German."""
    exe = os.path.join(ctx.build_dir, "tools", "rspcheck.exe")
    if not c.true("rspcheck.exe built", os.path.isfile(exe), exe):
        return
    samples = os.path.join(wine_e2e.REPO, "tests", "data", "rsp")
    with ctx.machine("response_checker", registry=None, provider=False) as m:
        def check(*args):
            p = m.wine(exe, *args, check=False)
            return p.returncode, p.stdout.decode("cp1252", errors="replace").replace("\r\n", "\n")

        code, out = check("-l", "en_US", wine_e2e.win_path(os.path.join(samples, "valid.rsp")))
        c.eq("valid sample: exit code", code, 0)
        c.true("valid sample: verdict", out.rstrip().endswith("valid.rsp: valid"), out)
        code, out = check("-l", "en_US", wine_e2e.win_path(os.path.join(samples, "invalid.rsp")))
        c.eq("invalid sample: exit code", code, 1)
        c.true("invalid sample: the unknown keyword with its line",
               "the keyword COLOUR is unknown or not allowed for this product" in out and "(6): COLOUR:" in out, out)
        c.true("invalid sample: verdict", out.rstrip().endswith("invalid, 4 problems"), out)
        code, out = check("-l", "de_DE", wine_e2e.win_path(os.path.join(samples, "invalid.rsp")))
        c.eq("German: exit code", code, 1)
        c.true("German: message texts from the German string library", "COLOUR" in out and "unknown" not in out, out)
        code, out = check("-q", wine_e2e.win_path(os.path.join(samples, "no-such-file.rsp")))
        c.eq("missing file: exit code", code, 2)
        c.eq("quiet: no output", out, "")
        code, out = check("-l", "en_US", wine_e2e.win_path(os.path.join(samples, "secrets.rsp")))
        c.eq("secrets sample: exit code", code, 1)
        c.true("secrets sample: every secret masked, none shown",
               out.count('"********"') == 3 and "my-secret-copy" not in out and "not-a-password" not in out, out)
        code, out = check("-l", "en_US", wine_e2e.win_path(os.path.join(samples, "utf16.rsp")))
        c.eq("UTF-16 sample: exit code", code, 2)
        c.true("UTF-16 sample: said so", "is saved as UTF-16 (Unicode) text" in out, out)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(wine_e2e.REPO, "build", "mingw-x86_64"),
                    help="preset build directory, mingw-x86_64 or mingw-i686 (default: build/mingw-x86_64)")
    ap.add_argument("--work-dir", help="where prefixes, packages, logs and screenshots go (default: <build-dir>/e2e)")
    ap.add_argument("--keep", action="store_true", help="keep each scenario's prefix")
    ap.add_argument("--prepare-only", action="store_true", help="prepare the prefix and the helpers, run nothing")
    ap.add_argument("--use-prepared", action="store_true", help="use the prefix a --prepare-only run left")
    ap.add_argument("--dll", help="package this fa9wolt.dll instead of the build's (to see the scenarios fail)")
    ap.add_argument("--sign-pfx", help="sign every package with this certificate (password in FA9_SIGN_PASSWORD); "
                    "with --dll, a DLL signed with it: the scenarios must pass as they do unsigned")
    ap.add_argument("--sign-ca", help="the certificate the signatures must verify against")
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--names", action="store_true", help="the scenario names, one a line")
    ap.add_argument("scenarios", nargs="*")
    args = ap.parse_args(argv)
    if args.names:
        print("\n".join(SCENARIOS))
        return 0
    if args.list:
        for name, fn in SCENARIOS.items():
            print("%-36s %s" % (name, fn.__doc__.strip().splitlines()[0]))
        return 0
    names = args.scenarios or list(SCENARIOS)
    unknown = [n for n in names if n not in SCENARIOS]
    if unknown:
        ap.error("unknown scenario(s): %s (see --list)" % ", ".join(unknown))
    build_dir = os.path.abspath(args.build_dir)
    dll = os.path.join(build_dir, "src", "fa9wolt.dll")
    if not os.path.isfile(dll):
        print("no fa9wolt.dll in %s/src: build the mingw-x86_64 or mingw-i686 preset first" % build_dir)
        return 2
    arch = wine_e2e.dll_arch(dll)
    if arch is None:
        print("%s is neither a 32-bit nor a 64-bit Windows DLL" % dll)
        return 2
    if arch == "x86":
        reason = wine_e2e.no_32bit_reason()
        if reason:
            if not args.prepare_only:
                for name in names:
                    print("SKIP %s" % name)
            # CTest shows the skip; scripts/test.sh lists these lines after its summary.
            print("SKIPPED: 32-bit run: " + reason)
            print("0 passed, 0 failed, %d skipped" % (0 if args.prepare_only else len(names)))
            return SKIPPED
    work_dir = os.path.abspath(args.work_dir or os.path.join(build_dir, "e2e"))

    t0 = time.monotonic()
    wine_run = wine_e2e.WineRun(work_dir, keep=args.keep, arch=arch)
    passed = failed = skipped = 0
    try:
        wine_run.start(prepare=not args.use_prepared)
        print("e2e: %s DLL %s; Wine prefix %s (%s), display %s, prepared in %.1f s" % (
            {"x64": "64-bit", "x86": "32-bit"}[arch], dll, wine_run.base_prefix,
            "reused" if args.use_prepared else "new", wine_run.display, wine_run.timings["prepare"]))
        # Scenarios run as separate CTest tests may run side by side: each process
        # builds its packages in a folder of its own.
        package_dir = os.path.join(work_dir, "packages")
        if args.use_prepared:
            package_dir += "-" + (names[0] if len(names) == 1 else "pid%d" % os.getpid())
        sign = (os.path.abspath(args.sign_pfx), args.sign_ca and os.path.abspath(args.sign_ca)) if args.sign_pfx else None
        ctx = Context(wine_run, build_dir, package_dir, ["--dll", os.path.abspath(args.dll)] if args.dll else [], sign)
        if args.prepare_only:
            ctx.package("en")  # cross-builds the stand-ins once for the scenarios to come
            return 0
        for name in names:
            for attempt in (1, 2):
                c = Checks()
                ctx.timings = []
                s0 = time.monotonic()
                starts = wine_e2e.start_failures
                try:
                    SCENARIOS[name](ctx, c)
                except Exception:
                    c.failures.append("raised:\n" + traceback.format_exc())
                # A Wine process that died at start (a program a custom action ran, say)
                # fails the scenario for Wine's sake, not ours: run it once more, on a
                # fresh machine, and show what the first attempt saw.
                if not c.failures or wine_e2e.start_failures == starts or attempt == 2:
                    break
                print("RETRY %s: a Wine process failed to start during the first attempt, which found:" % name)
                for f in c.failures:
                    print("   - " + f.replace("\n", "\n     "))
            status = "FAIL" if c.failures else "SKIP" if c.skipped else "PASS"
            print("%s %s (%.1f s)" % (status, name, time.monotonic() - s0))
            if status == "SKIP":
                # CTest shows this line as the skip's reason (SKIP_REGULAR_EXPRESSION).
                print("SKIPPED: " + "; ".join(c.skipped))
            for n in c.notes:
                print("     " + n)
            print("     timings: " + ", ".join(_timing(k, v) for k, v in ctx.timings))
            for f in c.failures:
                print("   - " + f.replace("\n", "\n     "))
            if c.failures:
                failed += 1
            elif c.skipped:
                skipped += 1
            else:
                passed += 1
    finally:
        wine_run.close()
    print("e2e: %.1f s in all, artifacts in %s" % (time.monotonic() - t0, work_dir))
    print("%d passed, %d failed" % (passed, failed) + (", %d skipped" % skipped if skipped else ""))
    return 1 if failed else SKIPPED if skipped and not passed else 0


if __name__ == "__main__":
    sys.exit(main())
