"""End-to-end machinery: the test package installed by Wine's real msiexec.

One `WineRun` per run: an Xvfb display, the helper programs (cross-built), and a
prepared Wine prefix. Each scenario gets a `Machine`, a copy of that prefix, seeds its
registry, runs msiexec through a launcher that reports the real exit code, while a
watcher inside the same prefix records and answers message boxes (the harness takes a
screenshot of each). The `Result` reads back the verbose log, the final property dump,
stderr, the boxes and the exit code.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
WINE_DIR = "/usr/lib/wine"
WINE = os.path.join(WINE_DIR, "wine64")
WINESERVER = os.path.join(WINE_DIR, "wineserver")

# Traces of a custom action Wine could not call: Wine then logs the action as a
# success, so these stderr lines are the only sign.
LOAD_FAILURES = re.compile(r"failed to load dll|GetProcAddress")
# Wine's line when a process crashes ("wine: Unhandled page fault on ... starting
# debugger..."), and msi's err: line when a custom action faults: Wine goes on as if the
# action had succeeded.
CRASH = re.compile(r"^wine: Unhandled .*starting debugger|Custom action \(.*\) caused a page fault")


# The Visual Studio folders of the default machine (its InstallDir values), where the
# IDE stand-in goes; the .NET data provider's folder in the global assembly cache,
# which the registration stand-in's /checkprovider looks for; the stand-ins' records.
IDE_FOLDERS = [r"C:\Program Files (x86)\Microsoft Visual Studio 8\Common7\IDE" + "\\",
               r"C:\Program Files (x86)\Microsoft Visual Studio 9.0\Common7\IDE" + "\\"]
PROVIDER_FOLDER = r"C:\Windows\assembly\GAC_MSIL\FA9.Data.Provider"
STAND_IN_STATE = r"C:\ProgramData\FA9StandIns" + "\\"

# Wine's 32-bit Windows-side DLLs as scripts/install-deps.sh unpacks them: with
# WINEDLLPATH leading there, wine64 runs 32-bit programs in its wow64 mode, and its
# msiexec starts a 32-bit custom-action server for a 32-bit custom-action DLL. A prefix
# made without it cannot run 32-bit code, so every Wine process of a 32-bit run gets it.
WINE32_DLLPATH = os.path.join(os.environ.get("FA9_WINE32_CACHE", "/var/cache/fa9wolt/wine32"), "dllpath")
# Set to 1 to pretend this machine runs no 32-bit code (the 32-bit run then skips).
PRETEND_NO_32BIT = "FA9_E2E_NO_32BIT"


def no_32bit_reason():
    """Why a 32-bit run cannot happen here, or None when it can."""
    if os.environ.get(PRETEND_NO_32BIT, "") not in ("", "0"):
        return "%s is set: pretending that this machine runs no 32-bit code" % PRETEND_NO_32BIT
    try:
        runs = subprocess.run(["/lib/ld-linux.so.2", "--version"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        runs = False
    if not runs:
        return "this machine runs no 32-bit code (/lib/ld-linux.so.2 --version fails)"
    if not os.path.isfile(os.path.join(WINE32_DLLPATH, "i386-windows", "kernel32.dll")):
        return "Wine's 32-bit DLLs are not in %s (scripts/install-deps.sh prepares them)" % WINE32_DLLPATH
    return None


def classic_32bit():
    """Whether the classic 32-bit Wine (wine32:i386) is installed: wine64 then hands every
    32-bit process to its loader, which, unlike the wow64 mode, creates rich-edit windows."""
    return os.path.isfile(os.path.join(WINE_DIR, "wine"))


def dll_arch(path):
    """"x86" or "x64" from a PE file's machine field, None for anything else."""
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 0x40:
        return None
    pe = int.from_bytes(head[0x3c:0x40], "little")
    machine = int.from_bytes(head[pe + 4:pe + 6], "little") if head[pe:pe + 4] == b"PE\0\0" else 0
    return {0x14c: "x86", 0x8664: "x64"}.get(machine)


class E2EError(Exception):
    pass


# Wine's loader now and then cannot place its shared user data page (the address is
# taken by something the host mapped first); the process dies before it runs anything,
# and a second start succeeds.
WINE_START_FAILURE = b"failed to map the shared user data"
# The longest one msiexec run may take (the slowest scenario's run takes about 25 s): a
# run still going then is recorded (_record_hang) and fails its scenario well before
# CTest's limit ends it without a word.
RUN_LIMIT = int(os.environ.get("FA9_E2E_RUN_LIMIT", "150"))
# How many Wine processes this run saw failing at start (run() counts them).
start_failures = 0


def run(cmd, env=None, timeout=120, check=True, may_retry=lambda: True):
    """Runs a command with its output in files, not pipes: Wine's background processes
    (services, the custom-action server) inherit the output handles and would keep a pipe
    open long after the command itself ended. A Wine process that failed to start is
    started again (twice at most) when `may_retry()` says nothing of it ran."""
    for attempt in range(3):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            rc = subprocess.run(cmd, env=env, timeout=timeout, stdout=out, stderr=err).returncode
            out.seek(0)
            err.seek(0)
            p = subprocess.CompletedProcess(cmd, rc, out.read(), err.read())
        global start_failures
        if cmd and cmd[0] == WINE:
            start_failures += p.stderr.count(WINE_START_FAILURE)
        if not (cmd and cmd[0] == WINE and rc != 0 and WINE_START_FAILURE in p.stderr and may_retry()):
            break
    if check and p.returncode != 0:
        raise E2EError("%s failed (%d):\n%s%s" % (" ".join(cmd), p.returncode,
                                                  p.stdout.decode(errors="replace"), p.stderr.decode(errors="replace")))
    return p


def win_path(host_path):
    """Host path as Wine sees it through drive Z:."""
    return "Z:" + os.path.abspath(host_path).replace("/", "\\")


def build_helpers(out_dir, arch="x64"):
    """Cross-builds the launcher and the message-box watcher (64-bit, like msiexec under
    wine64, whatever the package's bitness) and the IDE stand-in of `arch`."""
    os.makedirs(out_dir, exist_ok=True)
    exes = {}
    for name in ("launch", "boxwatch", "uidrive"):
        src = os.path.join(HERE, "win", name + ".c")
        exe = os.path.join(out_dir, "e2e-%s.exe" % name)
        newest = max(os.path.getmtime(src), os.path.getmtime(os.path.join(HERE, "win", "helpers.h")))
        if not os.path.exists(exe) or os.path.getmtime(exe) < newest:
            run(["x86_64-w64-mingw32-gcc", "-municode", "-O2", "-s", "-static-libgcc", "-Wall",
                 "-o", exe + ".tmp", src, "-luser32"])
            os.replace(exe + ".tmp", exe)
        exes[name] = exe
    # The IDE stand-in the machines get in their Visual Studio folders.
    src = os.path.join(REPO, "package", "stand-ins", "devenv.c")
    header = os.path.join(REPO, "package", "stand-ins", "standin.h")
    exe = os.path.join(out_dir, "devenv-%s.exe" % arch)
    if not os.path.exists(exe) or os.path.getmtime(exe) < max(os.path.getmtime(src), os.path.getmtime(header)):
        cc = {"x64": "x86_64-w64-mingw32-gcc", "x86": "i686-w64-mingw32-gcc"}[arch]
        run([cc, "-O2", "-s", "-static-libgcc", "-Wall", "-o", exe + ".tmp", src])
        os.replace(exe + ".tmp", exe)
    exes["devenv"] = exe
    return exes


class Package:
    """A built .msi and access to its Binary rows."""

    def __init__(self, path, description):
        self.path = path
        self.description = description
        self._rows = {}

    def binary_row(self, name):
        if name not in self._rows:
            p = run(["msiinfo", "extract", self.path, "Binary." + name], check=False)
            self._rows[name] = p.stdout if p.returncode == 0 else None
        return self._rows[name]

    def carried_dll(self):
        """The package's fa9wolt.dll row as a file beside it (to check its signature)."""
        path = self.path + ".fa9wolt.dll"
        with open(path, "wb") as f:
            f.write(self.binary_row("fa9wolt.dll") or b"")
        return path


def build_package(build_dir, out_msi, options=(), description="", cache_dir=None):
    script = os.path.join(REPO, "package", "build-package.sh")
    cache = ["--cache", cache_dir] if cache_dir else []
    p = run(["bash", script, build_dir, out_msi] + cache + list(options), timeout=300)
    return Package(out_msi, description or p.stdout.decode().strip())


def signature(path, ca=None):
    """Who signed a file with Authenticode: the signer's subject when the signature
    verifies (against `ca` when given), None when the file is unsigned, or raises when a
    signature is there but does not verify."""
    cmd = ["osslsigncode", "verify"] + (["-CAfile", ca] if ca else []) + ["-in", path]
    p = run(cmd, check=False)
    text = (p.stdout + p.stderr).decode("utf-8", "replace")
    if p.returncode == 0:
        m = re.search(r"Signer's certificate:.*?Subject: *(.+?)\n", text, re.S)
        return m.group(1).strip() if m else "signed"
    if "Unable to extract existing signature" in text or "No signature found" in text:
        return None
    raise RuntimeError("%s: a signature that does not verify:\n%s" % (path, text[-2000:]))


def sign(pfx, path):
    """Signs a file in place with scripts/sign.sh (FA9_SIGN_PASSWORD from the environment)."""
    run(["bash", os.path.join(REPO, "scripts", "sign.sh"), pfx, path], timeout=120)


class WineRun:
    """Xvfb, helpers and the prepared prefix shared by all scenarios of one run. `arch`
    is the bitness of the custom-action DLL under test: "x86" runs every Wine process
    with Wine's 32-bit DLLs on WINEDLLPATH."""

    def __init__(self, work_dir, keep=False, arch="x64"):
        self.work_dir = os.path.abspath(work_dir)
        self.keep = keep
        self.arch = arch
        self.xvfb = None
        self.display = None
        self.base_prefix = os.path.join(self.work_dir, "base-prefix")
        self.timings = {}

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.close()

    def env(self, prefix):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": prefix,
            "DISPLAY": self.display,
            # The only traces of a custom action Wine could not call: "failed to load dll"
            # is an err: line, "GetProcAddress(...) failed" a warn: line of the msi channel.
            "WINEDEBUG": os.environ.get("FA9_WINEDEBUG", "fixme-all,warn+msi"),
            # no Mono or Gecko installer dialogs in a fresh prefix
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            # Wine's language follows LC_ALL; the scenarios expect an English system
            "LC_ALL": "C.UTF-8",
        })
        if self.arch == "x86":
            env["WINEDLLPATH"] = WINE32_DLLPATH
        else:
            env.pop("WINEDLLPATH", None)
        return env

    def start(self, prepare=True):
        """Starts the display; prepares the prefix, or checks that a prepared one is there."""
        for tool in (WINE, WINESERVER):
            if not os.path.exists(tool):
                raise E2EError("%s not found (ls %s)" % (tool, WINE_DIR))
        os.makedirs(self.work_dir, exist_ok=True)
        t0 = time.monotonic()
        self.helpers = build_helpers(os.path.join(self.work_dir, "helpers"), self.arch)
        self._start_xvfb()
        if prepare:
            self._prepare_prefix()
        elif not os.path.exists(os.path.join(self.base_prefix, "system.reg")):
            raise E2EError("no prepared prefix in %s (run with --prepare-only first)" % self.base_prefix)
        self.timings["prepare"] = time.monotonic() - t0

    def _start_xvfb(self):
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        deadline = time.monotonic() + 15
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        if not number.strip():
            raise E2EError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def _prepare_prefix(self):
        """wineboot -i once, then the X11 settings for a display without a window manager:
        Decorated=N draws the captions (screenshots show titles), Managed=N spares each
        closing box about 2 s. A process that crashes gets no crash dialog: Wine's debugger
        writes its backtrace to the process's stdout instead (see Result.crashes)."""
        shutil.rmtree(self.base_prefix, ignore_errors=True)
        env = self.env(self.base_prefix)
        run([WINE, "wineboot", "-i"], env=env, timeout=180)
        for value in ("Decorated", "Managed"):
            run([WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", value, "/d", "N", "/f"], env=env)
        run([WINE, "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
             "/d", "0", "/f"], env=env)
        run([WINESERVER, "-w"], env=env, timeout=60)

    def machine(self, name):
        return Machine(self, name)

    def close(self):
        if self.xvfb:
            self.xvfb.send_signal(signal.SIGTERM)
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None


class Machine:
    """One scenario's Windows machine: a copy of the prepared prefix."""

    def __init__(self, wine_run, name):
        self.run_ = wine_run
        self.name = name
        self.dir = os.path.join(wine_run.work_dir, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.prefix = os.path.join(self.dir, "prefix")
        t0 = time.monotonic()
        run(["cp", "-a", wine_run.base_prefix, self.prefix])
        self.timings = {"copy prefix": time.monotonic() - t0}
        self.env = wine_run.env(self.prefix)
        self.runs = 0
        # The registry view the DLL under test reads and writes: a 32-bit DLL sees
        # HKLM\SOFTWARE through WOW6432Node. reg.exe's /reg:32 goes through Wine's own
        # redirection, so what a scenario seeds or reads lands where a 32-bit process looks.
        self.view = "32" if wine_run.arch == "x86" else "64"

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        t0 = time.monotonic()
        run([WINESERVER, "-k"], env=self.env, check=False)
        self.timings["stop wineserver"] = time.monotonic() - t0
        if not self.run_.keep:
            shutil.rmtree(self.prefix, ignore_errors=True)

    def wine(self, *args, check=True, timeout=120):
        return run([WINE] + list(args), env=self.env, check=check, timeout=timeout)

    def seed_registry(self, reg_text, label="seed", view=None):
        """Imports a REGEDIT4 text into the registry view of the DLL under test, or into
        `view` ("32" or "64")."""
        path = os.path.join(self.dir, "%s.reg" % label)
        with open(path, "w", encoding="ascii", newline="\r\n") as f:
            f.write(reg_text)
        t0 = time.monotonic()
        self.wine("reg", "import", win_path(path), "/reg:" + (view or self.view))
        self.timings["seed registry"] = time.monotonic() - t0

    def reg_query(self, key, value=None, view=None):
        """The data of a value (str), True for an existing key when value is None, or None;
        in the registry view of the DLL under test, or in `view` ("32" or "64")."""
        args = ["reg", "query", key, "/reg:" + (view or self.view)] + (["/v", value] if value is not None else [])
        p = self.wine(*args, check=False)
        if p.returncode != 0:
            return None
        if value is None:
            return True
        for line in p.stdout.decode(errors="replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == value.lower() and parts[1].startswith("REG_"):
                return parts[2] if len(parts) > 2 else ""
        return None

    def add_programs(self, ides=True, provider=True):
        """The programs of the default machine: devenv.exe in both IDE folders, the .NET
        data provider in the global assembly cache."""
        if ides:
            for ide in IDE_FOLDERS:
                self.place_file(ide + "devenv.exe", self.run_.helpers["devenv"])
        if provider:
            os.makedirs(self.host_path(PROVIDER_FOLDER), exist_ok=True)

    def stand_in_record(self, name):
        """A record file of the stand-in programs, or None."""
        return self.read_text(STAND_IN_STATE + name)

    def place_file(self, windows_path, host_source=None, text=None):
        """Puts a file into the machine (folders created), from a host file or a text."""
        target = self.host_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if host_source:
            shutil.copyfile(host_source, target)
        else:
            with open(target, "w", newline="") as f:
                f.write(text or "")
        return target

    def read_text(self, windows_path):
        """A file of the machine as text, or None when it is not there."""
        path = self.host_path(windows_path)
        if not os.path.isfile(path):
            return None
        with open(path, encoding="latin-1") as f:
            return f.read()

    def host_path(self, windows_path):
        """A Windows path of this machine as a host path (through the prefix's dosdevices)."""
        drive, rest = windows_path[:2].lower(), windows_path[2:]
        root = os.path.realpath(os.path.join(self.prefix, "dosdevices", drive))
        return os.path.join(root, *[p for p in rest.replace("\\", "/").split("/") if p])

    def msiexec(self, action, package, properties=None, ui="/qn", answers=(), label=None, cancel_at=0):
        """Runs msiexec <action> <package> /l*v <log> [ui] [properties] under the launcher,
        with the message-box watcher and the dialog driver running beside it (the driver
        goes forward through the installer's own dialogs; `cancel_at` n cancels the n-th).
        Properties on the command line lose their quotes in Wine: put exact values into the
        package instead."""
        self.runs += 1
        label = label or "run%d" % self.runs
        base = os.path.join(self.dir, label)
        log, code_file = base + ".log", base + ".code"
        boxes_file, dialogs_file, stop_file = base + ".boxes", base + ".dialogs", base + ".stop"
        for f in (log, code_file, boxes_file, dialogs_file, stop_file):
            if os.path.exists(f):
                os.remove(f)
        pkg = package.path if isinstance(package, Package) else package
        cmd = ["msiexec", action, win_path(pkg), "/l*v", win_path(log)]
        if ui:
            cmd.append(ui)
        for k, v in (properties or {}).items():
            cmd.append("%s=%s" % (k, v))

        # The helpers' output goes to files: a crash of one shows there (see Result.crashes).
        # Each child keeps its own copy of the file's handle, so ours is closed at once.
        helper_args = {"boxwatch": [win_path(boxes_file), win_path(stop_file), ",".join(str(a) for a in answers)],
                       "uidrive": [win_path(dialogs_file), win_path(stop_file), str(cancel_at)]}
        helpers = []
        shots, dialog_shots = [], []
        done = threading.Event()
        shooter = threading.Thread(target=self._photograph, args=(
            [(boxes_file, base + ".box", shots), (dialogs_file, base + ".dialog", dialog_shots)], done), daemon=True)
        t0 = time.monotonic()
        try:
            for name, args in helper_args.items():
                with open("%s.%s.out" % (base, name), "wb") as out:
                    helpers.append(subprocess.Popen([WINE, self.run_.helpers[name]] + args, env=self.env,
                                                    stdout=out, stderr=subprocess.STDOUT))
            shooter.start()
            t0 = time.monotonic()
            # A failed start of a process inside the installation (not of msiexec itself)
            # shows the same line: only a run that wrote no log is started again.
            p = run([WINE, self.run_.helpers["launch"], win_path(code_file)] + cmd, env=self.env, timeout=RUN_LIMIT,
                    check=False, may_retry=lambda: not os.path.exists(log))
        except subprocess.TimeoutExpired:
            raise E2EError("msiexec (%s) still running after %d s; what it left: %s" % (
                label, RUN_LIMIT, self._record_hang(base, boxes_file, log)))
        finally:
            seconds = time.monotonic() - t0
            with open(stop_file, "w"):
                pass
            for helper in helpers:
                try:
                    helper.wait(15)
                except subprocess.TimeoutExpired:
                    helper.kill()
            done.set()
            if shooter.is_alive():
                shooter.join(5)
        stderr = p.stderr.decode(errors="replace")
        with open(base + ".stderr", "w") as f:
            f.write(stderr)
        stdout = p.stdout.decode(errors="replace")
        with open(base + ".stdout", "w") as f:
            f.write(stdout)
        outputs = [(label + ".stdout", stdout), (label + ".stderr", stderr)]
        for name in helper_args:
            with open("%s.%s.out" % (base, name), "rb") as f:
                outputs.append(("%s.%s.out" % (label, name), f.read().decode(errors="replace")))
        code = None
        if os.path.exists(code_file):
            with open(code_file) as f:
                code = int(f.read().strip())
        r = Result(label=label, command=cmd, code=code, wine_status=p.returncode, log_path=log,
                   stderr=stderr, boxes=_read_boxes(boxes_file), screenshots=shots, seconds=seconds)
        r.outputs = outputs
        r.dialogs = _read_boxes(dialogs_file)
        r.dialog_screenshots = dialog_shots
        return r

    def state(self, after_restart=True):
        """The machine's registry and files for a before-and-after comparison: the prefix's
        wineserver is stopped (it writes the registry files then), and with `after_restart`
        the deletions marked for the next restart are carried out first, as the restart
        would. {"R": {(key, value line or None)}, "F": {(path below C:, size or None)}}."""
        run([WINESERVER, "-k"], env=self.env, check=False)
        with open(os.path.join(self.prefix, "system.reg"), encoding="utf-8", errors="replace") as f:
            system_reg = f.read()
        drive_c = os.path.join(self.prefix, "drive_c")
        if after_restart:
            for path in _pending_deletes(system_reg):
                for host in _host_of(drive_c, path):
                    try:
                        os.rmdir(host) if os.path.isdir(host) and not os.path.islink(host) else os.remove(host)
                    except OSError:
                        pass
        registry = set()
        for name in ("system.reg", "user.reg", "userdef.reg"):
            with open(os.path.join(self.prefix, name), encoding="utf-8", errors="replace") as f:
                text = f.read().replace("\\\n", "")
            key = None
            for line in text.splitlines():
                if line.startswith("["):
                    key = line[1:line.rindex("]")].replace("\\\\", "\\")
                    registry.add((key, None))
                elif key and line.strip() and not line.startswith(("#", ";")):
                    if after_restart and line.startswith('"PendingFileRenameOperations"='):
                        continue
                    registry.add((key, line))
        files = set()
        for d, dirs, names in os.walk(drive_c):
            for n in dirs + names:
                p = os.path.join(d, n)
                rel = os.path.relpath(p, drive_c).replace(os.sep, "/")
                files.add((rel, None if os.path.isdir(p) else os.path.getsize(p)))
        return {"R": registry, "F": files}

    def _record_hang(self, base, boxes_file, log):
        """What a run that did not end left behind: <label>.hang.txt (the boxes seen, the
        log's last lines, the prefix's processes with their kernel wait), <label>.hang.bt.txt
        (winedbg's backtrace of every thread) and <label>.hang.png. Then the prefix's
        processes are ended, so the scenario fails instead of waiting for CTest."""
        lines = ["boxes: %r" % _read_boxes(boxes_file)]
        if os.path.exists(log):
            with open(log, "rb") as f:
                lines += ["log:"] + f.read().decode("cp1252", errors="replace").splitlines()[-25:]
        lines.append("processes of the prefix:")
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if ("WINEPREFIX=%s" % self.prefix).encode() not in f.read().split(b"\0"):
                        continue
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    args = f.read().replace(b"\0", b" ").decode(errors="replace")
                with open("/proc/%s/wchan" % pid) as f:
                    wchan = f.read()
                with open("/proc/%s/stat" % pid) as f:
                    state = f.read().rsplit(")", 1)[1].split()[0]
                lines.append("  %s %s %s %s" % (pid, state, wchan, args))
            except OSError:
                continue
        subprocess.run(["import", "-display", self.run_.display, "-window", "root", base + ".hang.png"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        # Where every thread of the prefix waits, with Wine's own symbols.
        try:
            with open(base + ".hang.bt.txt", "wb") as out:
                subprocess.run([WINE, "winedbg", "--command", "bt all"], env=dict(self.env, WINEDEBUG="-all"),
                               stdout=out, stderr=subprocess.STDOUT, timeout=90)
            lines.append("backtraces of every thread: %s" % (base + ".hang.bt.txt"))
        except subprocess.TimeoutExpired:
            lines.append("winedbg did not finish within 90 s")
        run([WINESERVER, "-k"], env=self.env, check=False)
        with open(base + ".hang.txt", "w") as f:
            f.write("\n".join(lines) + "\n")
        return "\n".join(lines)

    def _photograph(self, watched, done):
        """Screenshot of each box or dialog a helper reports, then the go-ahead to press
        its button. `watched`: (record file, screenshot prefix, list of screenshots)."""
        seen = [0] * len(watched)
        while not done.is_set():
            for i, (record, prefix, shots) in enumerate(watched):
                n = len(_read_boxes(record))
                while seen[i] < n:
                    seen[i] += 1
                    shot = "%s%d.png" % (prefix, seen[i])
                    subprocess.run(["import", "-display", self.run_.display, "-window", "root", shot],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
                    if os.path.exists(shot):
                        shots.append(shot)
                    with open("%s.%d.ack" % (record, seen[i]), "w"):
                        pass
            time.sleep(0.05)


# What the before-and-after comparison of a machine (Machine.state, compare_states) leaves
# out, each with its reason: (kind "R" registry key or "F" file path, regular expression
# matched from the start, case ignored, reason).
STATE_IGNORED = [
    ("R", r"System\\CurrentControlSet\\Control\\Class\\",
     "Wine's display driver writes its driver date at every start"),
    ("R", r"Software\\Microsoft\\NET Framework Setup\\NDP\\v4",
     "Wine's mscoree stub registers itself when the first .NET check runs"),
    ("R", r"Software\\Classes\\Installer\\(Features|Products|UpgradeCodes)$",
     "Wine's installer creates these parents of a product's registration and leaves them empty"),
    ("R", r"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\(UpgradeCodes|UserData)",
     "the same for Wine's installer's per-machine registration"),
    ("R", r"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\(Folders|Components)",
     "Wine's installer's own bookkeeping of folders and components it created"),
    ("F", r"windows/Installer$", "Wine's installer creates its package cache folder and leaves it empty"),
    ("F", r"windows/Installer/[0-9a-f]+\.msi$",
     "the package copy a killed msiexec had cached (the installer's own, removed by it when it ends normally)"),
    ("F", r"users/[^/]+/Temp/msi[0-9a-f]+\.tmp$",
     "the copies of Binary rows (the custom-action DLL, a program) a killed msiexec had made for its "
     "custom actions (the installer's own, removed by it when it ends normally)"),
    ("F", r"windows/temp(/|$)", "Wine's own temporary files"),
    ("F", r"ProgramData/FA9StandIns(/|$)", "what the stand-in programs record for the scenarios (not the product)"),
    ("F", r"Program Files( \(x86\))?/ZNK(/WOLT(/bin)?)?$",
     "the VC80 copies in INSTALLDIR\\bin serve until the next restart (marked for deletion then, by "
     "design), so the installer cannot remove the folders above them at the removal; the restart removes "
     "the copies but not these empty folders"),
]


def _ignored(kind, path):
    return any(k == kind and re.match(rx, path, re.I) for k, rx, _ in STATE_IGNORED)


def _pending_deletes(system_reg):
    """The paths PendingFileRenameOperations marks for deletion at the next restart."""
    m = re.search(r'"PendingFileRenameOperations"=str\(7\):"(.*?)"\n', system_reg, re.S)
    if not m:
        return []
    items = m.group(1).replace("\\\\", "\\").split("\\0")
    return [a[4:] if a.startswith("\\??\\") else a for a, b in zip(items[0::2], items[1::2]) if a and not b]


def _host_of(drive_c, windows_path):
    """A C: path, 8.3 components resolved by trying each name they can stand for."""
    parts = [p for p in windows_path[3:].split("\\") if p]
    paths = [drive_c]
    for part in parts:
        nxt = []
        for base in paths:
            try:
                names = os.listdir(base)
            except OSError:
                continue
            for n in names:
                stem = part.split("~")[0]
                if n.lower() == part.lower() or ("~" in part and n.upper().replace(" ", "").startswith(stem.upper())):
                    nxt.append(os.path.join(base, n))
        paths = nxt
    return [p for p in paths if os.path.lexists(p)]


def compare_states(before, after):
    """What differs between two Machine.state() results, outside STATE_IGNORED: a list of
    readable lines ("+" only after, "-" only before)."""
    lines = []
    for kind in ("R", "F"):
        for sign, a, b in (("+", after, before), ("-", before, after)):
            for item in sorted(a[kind] - b[kind], key=str):
                if not _ignored(kind, item[0]):
                    lines.append("%s%s %s" % (sign, kind, " ".join(str(x) for x in item if x is not None)))
    return lines


def _read_boxes(path):
    if not os.path.exists(path):
        return []
    boxes = []
    with open(path, encoding="ascii", errors="replace") as f:
        for line in f:
            line = line.strip()
            if line.endswith("}"):
                boxes.append(json.loads(line))
    return boxes


class Result:
    """What one msiexec run left behind."""

    def __init__(self, label, command, code, wine_status, log_path, stderr, boxes, screenshots, seconds):
        self.label = label
        self.command = command
        self.code = code
        self.wine_status = wine_status
        self.log_path = log_path
        self.stderr = stderr
        self.boxes = boxes
        self.screenshots = screenshots
        self.seconds = seconds
        self.outputs = []             # (file name, text) of every output of the run's processes
        self.dialogs = []             # the installer's dialogs the driver went through
        self.dialog_screenshots = []
        self.log = ""
        if os.path.exists(log_path):
            with open(log_path, "rb") as f:
                self.log = f.read().decode("cp1252", errors="replace")
        self.lines = self.log.splitlines()
        self.props_server = _property_dump(self.lines, "S")
        self.props_client = _property_dump(self.lines, "C")

    @property
    def props(self):
        """The final property dump: the server's, else the client's."""
        return self.props_server or self.props_client

    def load_failures(self):
        return [l for l in self.stderr.splitlines() if LOAD_FAILURES.search(l)]

    def crashes(self):
        """Wine's line for each process of the run that crashed (msiexec, the custom-action
        server, a program of the installation, the box watcher, the dialog driver; the
        debugger's backtrace is in <label>.stdout or <label>.<helper>.out) and for each
        custom action that faulted."""
        return ["%s: %s" % (name, l) for name, text in self.outputs for l in text.splitlines() if CRASH.search(l)]

    def library_lines(self):
        """Lines the library wrote: INFO records with the text in field 1 ("1: <text> ")."""
        return [l for l in self.lines if l.startswith("1: ")]

    def action_results(self):
        """[(action, return value)] in log order, from "Action ended ...: X. Return value N."."""
        out = []
        for l in self.lines:
            m = re.match(r"Action ended [0-9:]+: (\S+)\. Return value (-?\d+)\.", l)
            if m:
                out.append((m.group(1), int(m.group(2))))
        return out

    def action_result(self, action):
        results = [v for a, v in self.action_results() if a == action]
        return results[-1] if results else None

    def action_blocks(self, actions):
        """For each run of one of `actions`: (action, its log lines between "Action start"
        and "Action ended", return value or None). Deferred actions are listed when
        scheduled and again when they run in the script; both blocks are returned."""
        blocks, current, body = [], None, []
        for l in self.lines:
            m = re.match(r"Action start [0-9:]+: (\S+)\.$", l)
            if m and m.group(1) in actions:
                if current:
                    blocks.append((current, body, None))
                current, body = m.group(1), []
                continue
            m = re.match(r"Action ended [0-9:]+: (\S+)\. Return value (-?\d+)\.", l)
            if m and current and m.group(1) == current:
                blocks.append((current, body, int(m.group(2))))
                current, body = None, []
                continue
            if current:
                body.append(l)
        if current:
            blocks.append((current, body, None))
        return blocks

    def describe(self):
        return "%s: %s -> exit %s (wine status %s), %.1f s, log %s" % (
            self.label, " ".join(self.command), self.code, self.wine_status, self.seconds, self.log_path)


def _property_dump(lines, side):
    prefix = "Property(%s): " % side
    props = {}
    for l in lines:
        if l.startswith(prefix):
            name, sep, value = l[len(prefix):].partition(" = ")
            if sep:
                props[name] = value
    return props


def read_reg_file(path):
    with open(path, encoding="ascii") as f:
        return f.read()
