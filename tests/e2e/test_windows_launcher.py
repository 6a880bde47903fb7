"""End-to-end test of the Windows launcher (vellmora.exe) under Wine on a virtual display, against the
demo server serving the demo game's Windows build. Wine here has no HTML engine: the page's control is
created and navigates but runs no script, so no login happens and the game is not started (the
integration tests cover that path). What is checked: the first installation (files, version record,
registry values, links, log), the window's size, the second launcher refused, and the uninstall.

Run with: python3 test_windows_launcher.py (CTest does, with the paths in the environment).
"""

import os
import re
import shutil
import subprocess
import sys
import unittest

import harness as h

WINDOWS_LAUNCHER = os.environ.get("VELLMORA_E2E_WINDOWS_LAUNCHER", "")
WINE = shutil.which("wine") or "/usr/lib/wine/wine64"
UNINSTALL_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + h.GAME


class WindowsLauncher(unittest.TestCase):
    def setUp(self):
        for what, path in (("Windows launcher", WINDOWS_LAUNCHER), ("demo server", h.SERVER),
                           ("Windows package", h.WINDOWS_PACKAGE)):
            if not path or not os.path.exists(path):
                self.fail("the %s is missing (%r): build the project first" % (what, path))
        self.box = h.Sandbox()
        self._stoppables = []
        self.display = self._keep(h.VirtualDisplay(self.box.root))
        h.install_wine_prefix(self.box.prefix)
        self.drive_c = os.path.join(self.box.prefix, "drive_c")
        # Where the launcher is installed from: a folder of its own with its pictures beside it.
        self.program_dir = os.path.join(self.drive_c, "setup")
        shutil.copytree(os.path.dirname(WINDOWS_LAUNCHER), self.program_dir,
                        ignore=lambda d, names: [n for n in names if n not in ("vellmora.exe", "res")
                                                 and d == os.path.dirname(WINDOWS_LAUNCHER)])

    def tearDown(self):
        for item in reversed(self._stoppables):
            item.stop()
        subprocess.run(["wineserver", "-k"], env=self.wine_env(), check=False, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if os.environ.get("VELLMORA_E2E_KEEP"):
            sys.stderr.write("kept %s\n" % self.box.root)
        else:
            self.box.remove()

    def _keep(self, item):
        self._stoppables.append(item)
        return item

    def wine_env(self):
        return self.box.env(self.display.display, WINEPREFIX=self.box.prefix, WINEDEBUG="-all",
                            WINEDLLOVERRIDES="mscoree,mshtml=", VELLMORA_PREFIX=None)

    def start(self, program, *args):
        name = "launcher%d" % len(self._stoppables)
        return self._keep(h.Process([WINE, program, *args], self.wine_env(), self.box.root, name, self.box.root))

    def reg_query(self, key):
        result = subprocess.run([WINE, "reg", "query", key], env=self.wine_env(), capture_output=True,
                                text=True, timeout=60, check=False)
        return result.returncode, result.stdout

    def visible_windows(self):
        """(id, name, width, height) of every visible window on the display."""
        out = []
        for wid in self.display.xdotool("search", "--onlyvisible", "--name", "").stdout.split():
            geo = self.display.xdotool("getwindowgeometry", "--shell", wid).stdout
            values = dict(line.split("=", 1) for line in geo.split() if "=" in line)
            name = self.display.xdotool("getwindowname", wid).stdout.strip()
            if values:
                out.append((wid, name, int(values["WIDTH"]), int(values["HEIGHT"])))
        return out

    def answer_box(self, caption, key="Return"):
        """Waits for a message box with the caption, and answers it with a key."""
        box = h.wait_until(lambda: [w for w in self.visible_windows() if w[1] == caption], h.START_TIMEOUT,
                           "a message box captioned %r" % caption, interval=0.5)[0]
        self.display.xdotool("windowfocus", "--sync", box[0])
        self.display.xdotool("key", "--window", box[0], key)

    def test_first_installation_second_launcher_and_uninstall(self):
        install_dir = os.path.join(self.drive_c, h.GAME + "-" + h.CHANNEL)
        client = os.path.join(install_dir, "client")
        os.makedirs(install_dir)  # the log is written only where the folder exists
        server = self._keep(h.DemoServer(self.box, "--windows-game"))
        launcher = self.start(os.path.join(self.program_dir, "vellmora.exe"), "--token=ab", "--source=FC")
        log_path = os.path.join(install_dir, "vellmora.log")
        context = lambda: "\n--- log ---\n" + h.read_text(log_path)[-6000:] + "\n--- stderr ---\n" + \
            launcher.stderr()[-3000:]

        # The window: the shaped launcher window at its artwork's size.
        window = h.wait_until(lambda: [w for w in self.visible_windows() if (w[2], w[3]) == (950, 632)],
                              h.START_TIMEOUT * 2, "the 950 x 632 launcher window", interval=0.5)
        self.assertTrue(window, context())

        # The first installation: the client, its version record, the package gone.
        record = os.path.join(client, "game_client_version.txt")
        h.wait_until(lambda: os.path.exists(record) and "is ready" in h.read_text(log_path) or
                     not launcher.running(), h.INSTALL_TIMEOUT, "the installation")
        self.assertTrue(launcher.running(), "the launcher ended" + context())
        self.assertIn(h.VERSION, h.read_text(record))
        for name, (data, _) in h.package_entries(h.WINDOWS_PACKAGE).items():
            path = os.path.join(client, name)
            if data is None:
                self.assertTrue(os.path.isdir(path), name)
            else:
                with open(path, "rb") as f:
                    self.assertTrue(f.read() == data, "%s differs from the package" % name)
        self.assertFalse(os.path.exists(os.path.join(install_dir, h.GAME + ".zip")))
        self.assertEqual([r[3] for r in server.package_requests()], [200])
        self.display.screenshot(self.box.path("installed.png"))

        # The registration, read through the registry API.
        status, values = self.reg_query(UNINSTALL_KEY)
        self.assertEqual(status, 0, values)
        windows_install_dir = "C:\\%s-%s" % (h.GAME, h.CHANNEL)
        for name, value in (("DisplayIcon", "%s\\%s.exe" % (windows_install_dir, h.GAME)), ("DisplayName", h.GAME),
                            ("DisplayVersion", "0.0.0.1"), ("InstallPath", windows_install_dir),
                            ("UninstallString", "%s\\%s.exe /uninstall" % (windows_install_dir, h.GAME))):
            self.assertRegex(values, r"%s\s+REG_SZ\s+%s" % (name, re.escape(value)))
        # The launcher's copy and the links (the source FC asks for the start menu and desktop too).
        self.assertTrue(os.path.isfile(os.path.join(install_dir, h.GAME + ".exe")))
        links = [os.path.join(install_dir, h.GAME + "-uninstall.lnk")]
        users = os.path.join(self.drive_c, "users")
        found = [os.path.join(d, f) for d, _, files in os.walk(users) for f in files if f.endswith(".lnk")]
        self.assertTrue(any(p.endswith(os.path.join("Desktop", h.PRODUCT + ".lnk")) for p in found), found)
        self.assertTrue(any(p.endswith(os.path.join("Apps", h.CHANNEL, h.PRODUCT + ".lnk")) for p in found), found)
        self.assertTrue(any(p.endswith(os.path.join("Apps", h.CHANNEL, h.GAME + "-uninstall.lnk")) for p in found),
                        found)
        for link in links:
            with open(link, "rb") as f:
                self.assertEqual(f.read(4), b"L\0\0\0", link)  # a shell link's header

        # The log: every line in the format, the run's steps present.
        lines = [l for l in h.read_text(log_path).split("\n") if l]
        self.assertTrue(h.parse_log("\n".join(lines)))  # fails on a malformed line
        for needle in ("[CWebApp::InitInstance::130] Laucher Start", "[CGameRemoteConfig::OnDownLoad::685] download is finish",
                       "[CGameRemoteConfig::OnUnzipFile::489] unzip is finish!", "[CWebCDlg::SetReady::168] is ready"):
            self.assertIn(needle, "\n".join(lines))

        # A second launcher is refused with the running message; the first keeps running.
        second = self.start(os.path.join(self.program_dir, "vellmora.exe"), "--token=cd")
        self.answer_box(h.GAME)
        self.assertEqual(second.wait(h.EXIT_TIMEOUT, "the second launcher"), 0)
        self.assertTrue(launcher.running())

        # Closed through its close button, the first launcher ends.
        launcher.stop()
        subprocess.run(["wineserver", "-w"], env=self.wine_env(), check=False, timeout=60)

        # Uninstall, confirmed: the registration and links go, and the folder a few seconds later.
        uninstall = self.start(os.path.join(install_dir, h.GAME + ".exe"), "/uninstall")
        self.answer_box(h.GAME)
        self.assertEqual(uninstall.wait(h.EXIT_TIMEOUT, "the uninstall"), 0)
        h.wait_until(lambda: not os.path.exists(install_dir), 60, "the delayed removal of the installation")
        status, values = self.reg_query(UNINSTALL_KEY)
        self.assertNotEqual(status, 0, values)
        left = [os.path.join(d, f) for d, _, files in os.walk(users) for f in files if f.endswith(".lnk")]
        self.assertEqual([p for p in left if h.PRODUCT in p or h.GAME in p], [])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[1:], verbosity=2)
