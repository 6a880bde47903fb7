"""Pieces the end-to-end tests share: a sandbox (prefix, HOME, XDG directories), a virtual X display,
the demo server, the launcher process and readers for the files they leave behind.

Every wait is bounded; every process started here is stopped by its own id when the test ends.
"""

import hashlib
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.parse
import zipfile

LAUNCHER = os.environ.get("VELLMORA_E2E_LAUNCHER", "")
SERVER = os.environ.get("VELLMORA_E2E_SERVER", "")
PACKAGE = os.environ.get("VELLMORA_E2E_PACKAGE", "")
# The package with the demo game's Windows build, and where the Wine prefix template is kept.
WINDOWS_PACKAGE = os.environ.get("VELLMORA_E2E_WINDOWS_PACKAGE", "")
WINE_TEMPLATE = os.environ.get("VELLMORA_E2E_WINE_TEMPLATE", "")
WINE = shutil.which("wine") or ""
SERVER_BASE = os.environ.get("VELLMORA_E2E_SERVER_BASE", "http://127.0.0.1:18470")
# The build's compiled-in identity (CMakeLists.txt passes the cache variables).
GAME = os.environ.get("VELLMORA_E2E_GAME", "qvx")
CHANNEL = os.environ.get("VELLMORA_E2E_CHANNEL", "harlu7")
PRODUCT = os.environ.get("VELLMORA_E2E_PRODUCT", "Vellmora")
VERSION = "1.0.0.1"
CUSTOM_PARAMETERS = "zone=7&lang=zh-CN"
CONFIG_PATH = "/api/falden/ditches/%s/client_config_%s.php?lv=murel" % (CHANNEL, CHANNEL)

# Upper bounds of the waits (seconds). Generous: two cores are shared by the whole test run.
START_TIMEOUT = 30
INSTALL_TIMEOUT = 120
EXIT_TIMEOUT = 30


def server_port():
    return int(urllib.parse.urlsplit(SERVER_BASE).port or 80)


def wait_until(predicate, timeout, what, interval=0.1):
    """Polls predicate until it gives a true value, which is returned; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("timed out after %ss waiting for %s" % (timeout, what))
        time.sleep(interval)


def demo_session(account):
    """The session the demo login page derives from an account (32-bit FNV-1a, hex)."""
    h = 0x811C9DC5
    for ch in "vellmora:" + account:
        h ^= ord(ch)
        h = (h * 0x01000193) & 0xFFFFFFFF
    return "%08x" % h


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class Sandbox:
    """A temporary root with the launcher's prefix, HOME and XDG directories."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="vellmora-e2e-")
        self.prefix = os.path.join(self.root, "prefix")
        self.home = os.path.join(self.root, "home")
        self.data_home = os.path.join(self.home, ".local", "share")
        self.desktop = os.path.join(self.home, "Desktop")
        self.runtime = os.path.join(self.root, "runtime")
        # The platform's folder in the start menu, as on a machine where it has installed games.
        self.start_menu_apps = os.path.join(self.data_home, "applications", "Apps")
        for d in (self.home, self.data_home, self.desktop, self.runtime, self.start_menu_apps):
            os.makedirs(d, exist_ok=True)
        os.chmod(self.runtime, 0o700)
        self.install_dir = os.path.join(self.prefix, "drive_c", GAME + "-" + CHANNEL)
        self.data_dir = os.path.join(self.install_dir, "client")
        self.game_record = os.path.join(self.root, "game-record.txt")

    def leave_install_dir(self):
        """The installation directory as an earlier start leaves it. The log lives there and is
        never created by the log itself, so the very first start on a machine writes no log."""
        os.makedirs(self.install_dir, exist_ok=True)

    def env(self, display=None, game_exit_after="0", **changes):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS")
               and not k.lower().endswith("_proxy")}
        env.update({
            "HOME": self.home,
            "VELLMORA_PREFIX": self.prefix,
            "XDG_DATA_HOME": self.data_home,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_DESKTOP_DIR": self.desktop,
            "TMPDIR": self.root,
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            "no_proxy": "*",
            # No session bus: keeps the toolkit from starting one that would outlive the test.
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(self.runtime, "no-bus"),
            "NO_AT_BRIDGE": "1",
            "GDK_BACKEND": "x11",
            "VELLMORA_DEMO_GAME_RECORD": self.game_record,
            "VELLMORA_DEMO_GAME_EXIT_AFTER": game_exit_after,
        })
        if display:
            env["DISPLAY"] = display
        for name, value in changes.items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = value
        return env

    def wine_env(self, display=None):
        """The environment for Wine's own tools in this sandbox's prefix."""
        return self.env(display, WINEPREFIX=self.prefix, WINEDEBUG="-all")

    def windows_path(self, path):
        """The DOS path of a path in drive C: (as Wine shows it to a Windows program)."""
        relative = os.path.relpath(path, os.path.join(self.prefix, "drive_c"))
        return "C:\\" + relative.replace("/", "\\")

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)

    # The launcher's files.
    def log_text(self):
        return read_text(os.path.join(self.install_dir, "vellmora.log"))

    def log_entries(self):
        return parse_log(self.log_text())

    def resume_state(self):
        text = read_text(os.path.join(self.install_dir, "tempdownload.dat"))
        return dict(line.split("=", 1) for line in text.split("\n") if "=" in line)

    def registry_text(self, root="HKEY_CURRENT_USER"):
        return read_text(os.path.join(self.prefix, "registry", root + ".reg"))

    def game_record_entries(self):
        return parse_game_record(read_text(self.game_record))

    def snapshot(self, top):
        """Every path below top with its size (directories: -1), to compare before and after."""
        found = {}
        for dirpath, dirnames, filenames in os.walk(top):
            for d in dirnames:
                found[os.path.relpath(os.path.join(dirpath, d), top)] = -1
            for f in filenames:
                p = os.path.join(dirpath, f)
                found[os.path.relpath(p, top)] = os.path.getsize(p)
        return found


LOG_LINE = re.compile(r"^\[(.{24})\]\[(INFO|ERROR)\]\[(.+)::(\d+)\] (.*)$")


def parse_log(text):
    """(level, function, line, message) for every well-formed log line; other lines fail."""
    entries = []
    for raw in text.split("\n"):
        if raw == "":
            continue
        m = LOG_LINE.match(raw)
        if not m:
            raise AssertionError("malformed log line: %r" % raw)
        entries.append((m.group(2), m.group(3), int(m.group(4)), m.group(5)))
    return entries


def find_in_order(entries, expected):
    """Checks that expected (function, line, message) items occur in entries in this order.
    message may be None (any), a string (exact) or a compiled regular expression.
    Returns the index in entries of each match."""
    positions = []
    i = 0
    for function, line, message in expected:
        while i < len(entries):
            _, f, n, m = entries[i]
            if f == function and n == line and (
                    message is None
                    or (isinstance(message, str) and m == message)
                    or (hasattr(message, "fullmatch") and message.fullmatch(m))):
                break
            i += 1
        else:
            shown = "\n".join("[%s][%s::%d] %s" % e for e in entries)
            raise AssertionError("log line [%s::%d] %r missing or out of order; the log:\n%s"
                                 % (function, line, getattr(message, "pattern", message), shown))
        positions.append(i)
        i += 1
    return positions


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def parse_game_record(text):
    """The demo game's record: argv list, cwd and the environment as a dict."""
    def unescape(value):
        return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "\\": "\\"}.get(m.group(1), m.group(1)), value)

    record = {"argv": [], "env": {}}
    for line in text.split("\n"):
        key, sep, value = line.partition("=")
        if not sep:
            continue
        value = unescape(value)
        if key.startswith("argv["):
            record["argv"].append(value)
        elif key == "env":
            k, _, v = value.partition("=")
            record["env"][k] = v
        else:
            record[key] = value
    return record


def telemetry_reports(path):
    """(endpoint, parameters) for every telemetry request the demo server recorded."""
    reports = []
    for line in read_text(path).split("\n"):
        if not line:
            continue
        url = urllib.parse.urlsplit(line)
        reports.append((url.path, dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))))
    return reports


# Wine's programs and libraries in a prefix: nothing writes them once the prefix exists, so the
# copies of the template share them.
WINE_SHARED_SUFFIXES = (".dll", ".exe", ".sys", ".drv", ".ocx", ".cpl", ".acm", ".ax", ".tlb", ".nls")


def wine_server_running(prefix):
    """Whether a Wine server runs for the prefix: it works in a directory named after the prefix's
    device and inode."""
    st = os.stat(prefix)
    name = "server-%x-%x" % (st.st_dev, st.st_ino)
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                if os.path.basename(os.readlink("/proc/%s/cwd" % pid)) == name:
                    return True
            except OSError:
                pass
    return False


def windows_program_running(path):
    """Whether a process runs the Windows program: Wine shows the program as its argv[0]."""
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if f.read().split(b"\0")[0] == path.encode():
                        return True
            except OSError:
                pass
    return False


def prepare_wine_template(path):
    """Creates the Wine prefix that the tests copy (the first start of Wine in a prefix takes tens of
    seconds; a copy starts at once). Replaces an earlier one."""
    if not WINE:
        raise AssertionError("wine is not installed")
    shutil.rmtree(path, ignore_errors=True)
    work = tempfile.mkdtemp(prefix="vellmora-wine-template-")
    prefix = path + ".new"
    shutil.rmtree(prefix, ignore_errors=True)
    display = VirtualDisplay(work)
    try:
        env = {k: v for k, v in os.environ.items() if not k.startswith("WINE") and k != "DISPLAY"}
        env.update({"HOME": work, "WINEPREFIX": prefix, "WINEDEBUG": "-all", "DISPLAY": display.display,
                    "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(work, "no-bus")})
        with open(os.path.join(work, "wineboot.log"), "wb") as out:
            result = subprocess.run([WINE, "wineboot"], env=env, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT, timeout=300, check=False)
        if result.returncode != 0:
            raise AssertionError("wineboot failed (%d): %s" % (result.returncode,
                                                              read_text(os.path.join(work, "wineboot.log"))))
        # The prefix's registry reaches its files when the server ends.
        wait_until(lambda: not wine_server_running(prefix), 120, "the template's Wine server to end")
    finally:
        display.stop()
        shutil.rmtree(work, ignore_errors=True)
    # Wine links the user's folders to the HOME it was started with: plain folders in a template.
    for dirpath, dirnames, filenames in os.walk(os.path.join(prefix, "drive_c", "users")):
        for name in dirnames + filenames:
            link = os.path.join(dirpath, name)
            if os.path.islink(link):
                os.unlink(link)
                os.mkdir(link)
    # A note some Wine builds keep of the server's directory for this very prefix.
    if os.path.isfile(os.path.join(prefix, "wineserver")):
        os.remove(os.path.join(prefix, "wineserver"))
    os.rename(prefix, path)


def install_wine_prefix(prefix):
    """Copies the Wine prefix template into prefix (made first when there is none)."""
    template = WINE_TEMPLATE or os.path.join(tempfile.gettempdir(), "vellmora-e2e-wine-template")
    if not os.path.isdir(template):
        prepare_wine_template(template)
    shared = os.path.join(template, "drive_c", "windows") + os.sep

    def copy(source, target):
        if source.startswith(shared) and source.lower().endswith(WINE_SHARED_SUFFIXES):
            try:
                os.link(source, target)
                return target
            except OSError:
                pass  # another file system
        return shutil.copy2(source, target)

    shutil.copytree(template, prefix, symlinks=True, copy_function=copy, dirs_exist_ok=True)


def package_entries(path=None):
    """name -> (bytes or None for a directory, unix mode) of the demo package."""
    out = {}
    with zipfile.ZipFile(path or PACKAGE) as z:
        for info in z.infolist():
            data = None if info.is_dir() else z.read(info)
            out[info.filename] = (data, (info.external_attr >> 16) & 0o7777)
    return out


class Process:
    """A child process in a session of its own, with its output in files. Stopped by its own id."""

    def __init__(self, argv, env, cwd, name, log_dir):
        self.name = name
        self.stdout_path = os.path.join(log_dir, name + ".stdout")
        self.stderr_path = os.path.join(log_dir, name + ".stderr")
        self._out = open(self.stdout_path, "wb")
        self._err = open(self.stderr_path, "wb")
        self.proc = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                     stdout=self._out, stderr=self._err, start_new_session=True)
        self.pid = self.proc.pid

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout, what=None):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s did not exit within %ss" % (what or self.name, timeout))

    def signal(self, sig):
        if self.running():
            os.kill(self.pid, sig)

    def stop(self):
        """Ends the process and everything it started in its session (its process group)."""
        if self.running():
            try:
                os.killpg(self.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        self._out.close()
        self._err.close()

    def stdout(self):
        return read_text(self.stdout_path)

    def stderr(self):
        return read_text(self.stderr_path)


class VirtualDisplay:
    """An Xvfb server on a free display number."""

    def __init__(self, log_dir, screen=None):
        read_end, write_end = os.pipe()
        self._err = open(os.path.join(log_dir, "xvfb.stderr"), "ab")
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen or "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=self._err, start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + START_TIMEOUT
        try:
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise AssertionError("Xvfb did not start")
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise AssertionError("Xvfb exited at start")
                number += chunk
        finally:
            os.close(read_end)
        self.display = ":" + number.decode().strip()

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30, check=False)

    def xdotool(self, *args, timeout=15):
        return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.display),
                              capture_output=True, text=True, timeout=timeout, check=False)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=5)
        self._err.close()


class DemoServer:
    """The demo server on the compiled-in port, with its telemetry and access logs in the sandbox."""

    started = 0

    def __init__(self, sandbox, *options):
        # Logs of their own per server, so a later server's requests are not mixed with earlier ones.
        DemoServer.started += 1
        self.telemetry_log = sandbox.path("telemetry-%d.log" % DemoServer.started)
        self.access_log = sandbox.path("access-%d.log" % DemoServer.started)
        argv = [SERVER, "--port", str(server_port()), "--version", VERSION, "--package", PACKAGE,
                "--telemetry-log", self.telemetry_log, "--access-log", self.access_log, *options]
        self.process = Process(argv, sandbox.env(), sandbox.root, "server-%d" % DemoServer.started, sandbox.root)
        wait_until(lambda: "listening" in self.process.stdout() or not self.process.running(),
                   START_TIMEOUT, "the demo server to listen")
        if not self.process.running():
            raise AssertionError("the demo server did not start: " + self.process.stderr())

    def requests(self):
        """(method, target, range, status) of every request answered so far."""
        out = []
        for line in read_text(self.access_log).split("\n"):
            m = re.match(r"^(\S+) (\S+) range=(\S+) status=(\d+)$", line)
            if m:
                out.append((m.group(1), m.group(2), None if m.group(3) == "-" else m.group(3), int(m.group(4))))
        return out

    def package_requests(self):
        return [r for r in self.requests() if "/packages" in r[1]]

    def telemetry(self):
        return telemetry_reports(self.telemetry_log)

    def stop(self):
        self.process.stop()
