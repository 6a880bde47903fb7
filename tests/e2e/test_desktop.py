"""The launcher as a desktop program: its window's geometry through a whole first installation under
X11 (scale 1 and 2) and under a headless Wayland compositor (scale 1 and 2), with screenshots, and the
Debian package built from this build tree, installed into a scratch root and run.

Run one class with: python3 test_desktop.py <ClassName> (CTest does; see CMakeLists.txt).
"""

import json
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

import harness as h
from test_launcher import LauncherTestCase

ARTIFACTS = os.environ.get("VELLMORA_E2E_ARTIFACTS", "")
CPACK_CONFIG = os.environ.get("VELLMORA_E2E_CPACK_CONFIG", "")
APP_ID = os.environ.get("VELLMORA_E2E_APP_ID", "org.vellmora.Launcher")
# Slow enough that the download, the extraction and the page are each sampled many times.
THROTTLE = "250000"


def save_artifact(path, name):
    if ARTIFACTS and os.path.exists(path):
        os.makedirs(os.path.join(ARTIFACTS, "screenshots"), exist_ok=True)
        shutil.copy(path, os.path.join(ARTIFACTS, "screenshots", name))


class WestonHeadless:
    """A headless Weston (pixman renderer) with the desktop shell, in the sandbox's runtime directory.
    With an X display it runs as a window on it instead, so that pointer input sent to that display
    reaches Weston's seat (the headless back end has no input devices)."""

    def __init__(self, box, scale=1, x_display=None):
        self.env = dict(box.env(x_display), WAYLAND_DISPLAY="wayland-vellmora")
        self.socket = os.path.join(box.runtime, "wayland-vellmora")
        backend = ["--backend=x11-backend.so"] if x_display else ["--backend=headless-backend.so"]
        self.process = h.Process(
            ["weston", *backend, "--use-pixman", "--width=1280", "--height=1024",
             "--scale=%d" % scale, "--socket=wayland-vellmora", "--idle-time=0", "--debug"],
            self.env, box.root, "weston", box.root)
        h.wait_until(lambda: os.path.exists(self.socket) or not self.process.running(), h.START_TIMEOUT,
                     "weston's socket")
        if not self.process.running():
            raise AssertionError("weston did not start: " + self.process.stderr())
        self.shots = box.path("weston-shots")
        os.makedirs(self.shots, exist_ok=True)

    def client_env(self, env):
        """A launcher environment that reaches this compositor and no X server."""
        env = {k: v for k, v in env.items() if k != "DISPLAY"}
        env.update(GDK_BACKEND="wayland", WAYLAND_DISPLAY="wayland-vellmora")
        return env

    def windows(self, pid):
        """(width, height, x, y) of every top-level view of the process, in logical pixels."""
        out = subprocess.run(["weston-debug", "scene-graph"], env=self.env, capture_output=True, text=True,
                             timeout=15).stdout
        found = []
        for m in re.finditer(r"role xdg_toplevel, PID (\d+),[^\n]*\n\s*position: \((-?\d+), (-?\d+)\) -> "
                             r"\((-?\d+), (-?\d+)\)", out):
            if int(m.group(1)) == pid:
                x0, y0, x1, y1 = (int(m.group(i)) for i in range(2, 6))
                found.append((x1 - x0, y1 - y0, x0, y0))
        return found

    def screenshot(self, path):
        before = set(os.listdir(self.shots))
        subprocess.run(["weston-screenshooter"], env=self.env, cwd=self.shots, capture_output=True, timeout=30)
        new = sorted(set(os.listdir(self.shots)) - before)
        if new:
            shutil.move(os.path.join(self.shots, new[-1]), path)

    def stop(self):
        self.process.stop()


class Geometry(LauncherTestCase):
    """Samples the window's size all through a first installation: only the expected size may appear."""

    def first_installation(self, env, sample, shoot):
        """Runs a first installation; sample() is called every 0.1 s while it runs and returns the
        sizes it saw (or None); shoot(name) is called once the progress bar is visible."""
        self.box.leave_install_dir()
        self.start_server("--autologin", "--throttle", THROTTLE)
        launcher = self._keep(h.Process([h.LAUNCHER, "--token=ab"], env, self.box.root, "launcher", self.box.root))
        sizes, samples, shot, shown_at = {}, 0, False, None
        deadline = time.monotonic() + h.INSTALL_TIMEOUT
        while launcher.running() and time.monotonic() < deadline:
            for size in sample(launcher.pid) or ():
                samples += 1
                sizes.setdefault(size, samples)
                shown_at = shown_at or time.monotonic()
            # The throttled download takes several seconds from about the moment the window shows.
            if not shot and shown_at and time.monotonic() - shown_at > 4.0:
                shoot("downloading")
                shot = True
            time.sleep(0.1)
        self.assertEqual(launcher.wait(h.EXIT_TIMEOUT, "the first installation"), 0, self.context(launcher))
        self.assertTrue(os.path.exists(self.box.game_record), "the game did not start" + self.context(launcher))
        self.assertGreater(samples, 20, "too few samples of the window")
        self.assertTrue(shot, "the download was never seen")
        return sizes

    def x11(self, scale, screen, expected, origin):
        if scale != 1:
            self.display = self._keep(h.VirtualDisplay(self.box.root, screen=screen))
        env = self.box.env(self.display.display)
        env["GDK_SCALE"] = str(scale)
        first_place = []

        def sample(pid):
            out = []
            for wid in self.display.xdotool("search", "--onlyvisible", "--pid", str(pid)).stdout.split():
                geo = self.display.xdotool("getwindowgeometry", "--shell", wid).stdout
                v = dict(line.split("=", 1) for line in geo.split() if "=" in line)
                if v:
                    out.append((int(v["WIDTH"]), int(v["HEIGHT"])))
                    first_place.append((int(v["X"]), int(v["Y"])))
            return out

        def shoot(name):
            path = self.box.path("shot.png")
            self.display.screenshot(path)
            save_artifact(path, "desktop-x11-scale%d-%s.png" % (scale, name))

        sizes = self.first_installation(env, sample, shoot)
        self.assertEqual(list(sizes), [expected], "window sizes seen (size: first sample): %r" % sizes)
        self.assertEqual(first_place[0], origin, "not centred on the pointer's monitor")

    def wayland(self, scale):
        weston = self._keep(WestonHeadless(self.box, scale))
        env = weston.client_env(self.box.env())

        def sample(pid):
            return [(w, hgt) for w, hgt, _, _ in weston.windows(pid)]

        def shoot(name):
            path = self.box.path("shot.png")
            weston.screenshot(path)
            save_artifact(path, "desktop-wayland-scale%d-%s.png" % (scale, name))

        sizes = self.first_installation(env, sample, shoot)
        # Weston reports logical pixels: 950 x 632 at any scale.
        self.assertEqual(list(sizes), [(950, 632)], "window sizes seen (size: first sample): %r" % sizes)
        log = self.box.log_text()
        self.assertIn("window placement left to the compositor", log)
        self.assertIn("the show-window message goes without a sender window", log)

    def test_x11_scale_1(self):
        # The pointer starts in the middle of the only monitor (1280 x 1024).
        self.x11(1, None, (950, 632), ((1280 - 950) // 2, (1024 - 632) // 2))

    def test_x11_scale_2(self):
        self.x11(2, "2560x1600x24", (1900, 1264), ((2560 - 1900) // 2, (1600 - 1264) // 2))

    def test_wayland_scale_1(self):
        self.wayland(1)

    def test_wayland_scale_2(self):
        self.wayland(2)


class WaylandInput(LauncherTestCase):
    """Under Wayland the window takes the pointer: a press on the picture drags it, the minimise
    button minimises it and the close button closes the launcher."""

    def test_drag_minimise_and_close(self):
        self.box.leave_install_dir()
        weston = self._keep(WestonHeadless(self.box, x_display=self.display.display))
        self.start_server()
        env = weston.client_env(self.box.env())
        # Weston's output is a 1280 x 1024 window at the X display's origin: its pixels are the
        # compositor's coordinates.
        h.wait_until(lambda: self.display.xdotool("search", "--class", "weston").stdout.split(), h.START_TIMEOUT,
                     "weston's window")

        def window(launcher):
            return h.wait_until(lambda: weston.windows(launcher.pid), h.START_TIMEOUT, "the launcher window")[0]

        def press_and_move(x, y, dx, dy):
            self.display.xdotool("mousemove", "--sync", str(x), str(y))
            time.sleep(0.3)
            self.display.xdotool("mousedown", "1")
            time.sleep(0.5)
            # Small steps, each delivered before the next: on a loaded machine a burst of motion can
            # reach the compositor before the press has started the move.
            for i in range(1, 11):
                self.display.xdotool("mousemove", "--sync", str(x + dx * i // 10), str(y + dy * i // 10))
                time.sleep(0.1)
            time.sleep(0.3)
            self.display.xdotool("mouseup", "1")

        def click(x, y):
            self.display.xdotool("mousemove", "--sync", str(x), str(y))
            time.sleep(0.3)
            self.display.xdotool("click", "1")

        launcher = self._keep(h.Process([h.LAUNCHER, "--token=ab"], env, self.box.root, "launcher-w1", self.box.root))
        _, _, x, y = window(launcher)
        # A press on the crest's picture (left of the page) drags the window by the pointer's way.
        # Right after the window maps the compositor may not have it under the pointer yet: tried again
        # a few times, and the first move that happens must be exactly the pointer's.
        moved = None
        for _ in range(8):
            time.sleep(1)
            press_and_move(x + 100, y + 300, 100, 50)
            try:
                moved = h.wait_until(lambda: [v for v in weston.windows(launcher.pid) if v[2:] != (x, y)], 3,
                                     "the window to move")[0]
                break
            except AssertionError:
                pass
        self.assertEqual(moved, (950, 632, x + 100, y + 50))
        for _ in range(5):
            click(x + 100 + 850 + 23, y + 50 + 65 + 23)  # minimise
            try:
                h.wait_until(lambda: not weston.windows(launcher.pid), 3, "the window to minimise")
                break
            except AssertionError:
                pass
        self.assertEqual(weston.windows(launcher.pid), [], "the minimise button did not minimise")
        self.assertTrue(launcher.running())
        launcher.signal(15)  # closes like the window manager's close
        self.assertEqual(launcher.wait(h.EXIT_TIMEOUT, "the launcher"), 0, self.context(launcher))

        launcher = self._keep(h.Process([h.LAUNCHER, "--token=ab"], env, self.box.root, "launcher-w2", self.box.root))
        _, _, x, y = window(launcher)
        for _ in range(5):
            time.sleep(1)
            click(x + 895 + 23, y + 95 + 23)  # close
            try:
                h.wait_until(lambda: not launcher.running(), 3, "the launcher to close")
                break
            except AssertionError:
                pass
        self.assertEqual(launcher.wait(h.EXIT_TIMEOUT, "the close button to close the launcher"), 0,
                         self.context(launcher))
        self.assertIn("[CWebDlg::Close::54] Laucher Stop", self.box.log_text())


class ScreenReaderAndTaskBar(LauncherTestCase):
    """With a session bus: a screen reader (over the accessibility bus) finds the named buttons and the
    progress bar with its value and closes the launcher through the close button's action, and a
    dock listening for the launcher-entry signals sees the download's percentage, then none."""

    def test_screen_reader_and_dock(self):
        self.box.leave_install_dir()
        bus = self._keep(h.Process(["dbus-daemon", "--session", "--nofork", "--print-address=1"], self.box.env(),
                                   self.box.root, "session-bus", self.box.root))
        address = h.wait_until(lambda: bus.stdout().strip(), h.START_TIMEOUT, "the session bus")
        monitor = self._keep(h.Process(
            ["dbus-monitor", "--address", address, "type='signal',interface='com.canonical.Unity.LauncherEntry'"],
            self.box.env(), self.box.root, "dock", self.box.root))
        self.start_server("--throttle", "150000")
        env = self.box.env(self.display.display)
        env["DBUS_SESSION_BUS_ADDRESS"] = address
        del env["NO_AT_BRIDGE"]
        launcher = self._keep(h.Process([h.LAUNCHER, "--token=ab"], env, self.box.root, "launcher", self.box.root))
        self.launcher_window(launcher)
        probe_env = dict(env, PYTHONDONTWRITEBYTECODE="1")
        probe = [os.path.join(os.path.dirname(os.path.abspath(__file__)), "atspi_probe.py"), str(launcher.pid)]

        def seen():
            result = subprocess.run(["/usr/bin/python3", *probe], env=probe_env, capture_output=True, text=True,
                                    timeout=60)
            items = [json.loads(line) for line in result.stdout.splitlines() if line.startswith("{")]
            bar = [i for i in items if i["role"] == "progress bar"]
            return items if bar and bar[0]["value"] and bar[0]["value"] > 0 else None

        items = h.wait_until(seen, 40, "the progress bar's value to show", interval=1)
        buttons = {i["name"]: i["actions"] for i in items if i["role"] == "push button"}
        self.assertEqual(buttons.get("最小化"), ["click"], items)
        self.assertEqual(buttons.get("关闭"), ["click"], items)
        bar = [i for i in items if i["role"] == "progress bar"][0]
        self.assertEqual(bar["name"], "更新进度")
        self.assertTrue(0 < bar["value"] <= 100, bar)
        self.assertIn("正在下载：", [i["name"] for i in items if i["role"] == "label"])

        # On a busy machine the accessibility bus may not list the window yet: asked again until the
        # action was run (the probe fails when it found no such button).
        h.wait_until(lambda: subprocess.run(["/usr/bin/python3", *probe, "--do", "关闭"], env=probe_env,
                                            capture_output=True, timeout=60).returncode == 0,
                     40, "the close button's action to be run", interval=1)
        self.assertEqual(launcher.wait(h.EXIT_TIMEOUT, "the close action to close the launcher"), 0,
                         self.context(launcher))
        self.assertIn("[CWebDlg::Close::54] Laucher Stop", self.box.log_text())

        def updates():
            text = monitor.stdout()
            return re.findall(r'string "progress"\s+variant\s+double ([0-9.]+)\s+\)\s+dict entry\(\s+'
                              r'string "progress-visible"\s+variant\s+boolean (true|false)', text)

        found = h.wait_until(lambda: [u for u in updates() if u[1] == "false"] and updates(), 10,
                             "the dock to see the progress hidden")
        shown = [float(p) for p, visible in found if visible == "true"]
        self.assertTrue(shown and shown == sorted(shown) and 0 < shown[-1] < 1, found)
        self.assertEqual(found[-1][1], "false", "the progress stays on the dock after the launcher closed")


class InstalledPackage(LauncherTestCase):
    """The Debian package of this build: built, checked, unpacked into a scratch root and run."""

    def test_package_installs_and_its_launcher_installs_the_game(self):
        if not CPACK_CONFIG or not os.path.exists(CPACK_CONFIG):
            self.fail("no CPack configuration (%r): build the project first" % CPACK_CONFIG)
        out = self.box.path("package")
        built = subprocess.run(["cpack", "--config", CPACK_CONFIG, "-G", "DEB", "-B", out],
                               capture_output=True, text=True, timeout=240)
        self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
        debs = [f for f in os.listdir(out) if f.endswith(".deb")]
        self.assertEqual(len(debs), 1, os.listdir(out))
        deb = os.path.join(out, debs[0])

        # Dependencies computed from the binary, each one installed on this machine.
        depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True, text=True).stdout
        names = [alt.strip().split(" ")[0] for dep in depends.split(",") for alt in dep.split("|")[:1]]
        for needed in ("libgtk-3-0", "libwebkit2gtk-4.1-0", "libcurl4", "libc6"):
            self.assertIn(needed, names, depends)
        for name in names:
            status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", name], capture_output=True, text=True)
            self.assertIn("install ok installed", status.stdout, "dependency %s is not installed" % name)

        root = self.box.path("root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        files = {os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs}
        launcher = [f for f in files if f.endswith("bin/vellmora")]
        self.assertEqual(len(launcher), 1, sorted(files))
        share = os.path.dirname(os.path.dirname(launcher[0])) + "/share"
        desktop = "%s/applications/%s.desktop" % (share, APP_ID)
        metainfo = "%s/metainfo/%s.metainfo.xml" % (share, APP_ID)
        for expected in [desktop, metainfo, share + "/vellmora/res/background.png",
                         share + "/vellmora/res/background@2x.png"] + [
                "%s/icons/hicolor/%dx%d/apps/%s.png" % (share, n, n, APP_ID) for n in (16, 32, 48, 64, 128, 256)]:
            self.assertIn(expected, files)
        for check in (["desktop-file-validate", os.path.join(root, desktop)],
                      ["appstreamcli", "validate", "--no-net", os.path.join(root, metainfo)]):
            result = subprocess.run(check, capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        # The installed launcher is stripped and carries no path into the build tree.
        binary = os.path.join(root, launcher[0])
        self.assertNotIn("not stripped", subprocess.run(["file", binary], capture_output=True, text=True).stdout)

        # The installed launcher against the demo server: a whole first installation.
        self.box.leave_install_dir()
        self.start_server("--autologin")
        run = self.start_launcher("--token=ab", "--source=FC", program=binary)
        self.assertEqual(run.wait(h.INSTALL_TIMEOUT, "the first installation"), 0, self.context(run))
        self.assertTrue(os.path.exists(self.box.game_record), "the game did not start" + self.context(run))
        self.assert_client_installed()
        self.assertEqual(self.box.game_record_entries()["argv"][0], binary)


if __name__ == "__main__":
    unittest.main(verbosity=2)
