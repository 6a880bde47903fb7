"""End-to-end tests of the real launcher binary: the demo server on the compiled-in port, a virtual
X display, and a fresh prefix, HOME and XDG directories for every test.

Run one class with: python3 test_launcher.py <ClassName> (CTest does, with the paths in the
environment; see CMakeLists.txt).
"""

import os
import re
import signal
import subprocess
import sys
import time
import unittest

import harness as h


class LauncherTestCase(unittest.TestCase):
    """Sandbox, display and process bookkeeping shared by the tests."""

    def setUp(self):
        for what, path in (("launcher", h.LAUNCHER), ("demo server", h.SERVER), ("package", h.PACKAGE)):
            if not path or not os.path.exists(path):
                self.fail("the %s is missing (%r): build the project first" % (what, path))
        self.box = h.Sandbox()
        self._stoppables = []
        self.display = self._keep(h.VirtualDisplay(self.box.root))

    def tearDown(self):
        for item in reversed(self._stoppables):
            item.stop()
        if os.environ.get("VELLMORA_E2E_KEEP"):
            sys.stderr.write("kept %s\n" % self.box.root)
        else:
            self.box.remove()

    def _keep(self, item):
        self._stoppables.append(item)
        return item

    def start_server(self, *options):
        return self._keep(h.DemoServer(self.box, *options))

    def start_launcher(self, *args, display=True, game_exit_after="0", program=None, **env_changes):
        env = self.box.env(self.display.display if display else None, game_exit_after, **env_changes)
        name = "launcher%d" % len(self._stoppables)
        return self._keep(h.Process([program or h.LAUNCHER, *args], env, self.box.root, name, self.box.root))

    def context(self, launcher):
        return "\n--- launcher stderr ---\n%s\n--- vellmora.log ---\n%s" % (launcher.stderr()[-4000:],
                                                                          self.box.log_text()[-6000:])

    def launcher_window(self, launcher):
        """The launcher's visible top-level window: (id, x, y, width, height)."""
        def find():
            result = self.display.xdotool("search", "--onlyvisible", "--pid", str(launcher.pid))
            best = None
            for wid in result.stdout.split():
                geo = self.display.xdotool("getwindowgeometry", "--shell", wid).stdout
                values = dict(line.split("=", 1) for line in geo.split() if "=" in line)
                if not values:
                    continue
                w = (wid, int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))
                if w[3] >= 950 and (best is None or w[3] * w[4] > best[3] * best[4]):
                    best = w
            return best
        return h.wait_until(find, h.START_TIMEOUT, "the launcher window", interval=0.3)

    def click_close_button(self, launcher):
        """Closes the launcher the way a player does: its close button (46 x 46 at 895, 95)."""
        _, x, y, _, _ = self.launcher_window(launcher)
        self.display.xdotool("mousemove", "--sync", str(x + 895 + 23), str(y + 95 + 23))
        self.display.xdotool("click", "1")

    def install(self, *server_options, args=("--token=ab", "--source=FC"), while_game_runs=None):
        """A first installation through to the game's start; returns the server and the launcher.
        while_game_runs(launcher) is called while the game shows its window (for 4 s)."""
        server = self.start_server("--autologin", *server_options)
        launcher = self.start_launcher(*args, game_exit_after="4" if while_game_runs else "0")
        if while_game_runs:
            h.wait_until(lambda: os.path.exists(self.box.game_record) or not launcher.running(),
                         h.INSTALL_TIMEOUT, "the game to start")
            self.assertTrue(os.path.exists(self.box.game_record), "the game did not start" + self.context(launcher))
            while_game_runs(launcher)
        rc = launcher.wait(h.INSTALL_TIMEOUT, "the first installation")
        self.assertEqual(rc, 0, self.context(launcher))
        self.assertTrue(os.path.exists(self.box.game_record), "the game did not start" + self.context(launcher))
        return server, launcher

    def assert_client_installed(self):
        """The client directory holds the package's entries byte for byte, with their modes."""
        for name, (data, mode) in h.package_entries().items():
            path = os.path.join(self.box.data_dir, name)
            if data is None:
                self.assertTrue(os.path.isdir(path), name)
                continue
            with open(path, "rb") as f:
                self.assertTrue(f.read() == data, "%s differs from the package" % name)
            if mode & 0o111:
                self.assertTrue(os.access(path, os.X_OK), "%s lost its execute bit" % name)
        with open(os.path.join(self.box.data_dir, "game_client_version.txt"), "rb") as f:
            self.assertEqual(f.read(), h.VERSION.encode())
        self.assertFalse(os.path.exists(os.path.join(self.box.install_dir, h.GAME + ".zip")))


class FirstInstall(LauncherTestCase):
    def test_first_installation_starts_the_game_and_exits(self):
        self.box.leave_install_dir()  # for the log; no client, no resume state, no package
        def launcher_hidden(launcher):
            # The launcher hides while the game runs.
            h.wait_until(lambda: not self.display.xdotool(
                "search", "--onlyvisible", "--pid", str(launcher.pid)).stdout.split(),
                2.5, "the launcher window to hide while the game runs")
        server, launcher = self.install(while_game_runs=launcher_hidden)
        session = h.demo_session("demo")
        login = "account=demo&session=" + session
        expected_command = "%s --token=ab --source=FC --parameters=%s --plat_extra=%s" % (
            h.LAUNCHER, login, h.CUSTOM_PARAMETERS)

        # What the game received.
        record = self.box.game_record_entries()
        self.assertEqual(record["argv"], [h.LAUNCHER, "--token=ab", "--source=FC",
                                          "--parameters=" + login, "--plat_extra=" + h.CUSTOM_PARAMETERS])
        self.assertEqual(record["cwd"], os.path.join(self.box.data_dir, h.GAME))
        self.assertEqual(record["env"].get("VELLMORA_PREFIX"), self.box.prefix)

        # The typical run, in order: the worker's chain up to the ready mark, then the login and the
        # game launch on the page's side (the page logs in only once it has seen the ready mark).
        inst, data = self.box.install_dir, self.box.data_dir
        entries = self.box.log_entries()
        entry_url = h.SERVER_BASE + "/login/index.html?autologin=1&token=ab&source=FC"
        package_url = "%s/packages/%s/%s/%s.zip" % (h.SERVER_BASE, h.CHANNEL, h.VERSION, h.GAME)
        worker = h.find_in_order(entries, [
            ("CWebApp::InitApplication", 227, inst),
            ("CWebApp::InitApplication", 228, data),
            ("CWebApp::InitInstance", 130, "Laucher Start"),
            ("CGameRemoteConfig::InitRemoteConfig", 140, h.SERVER_BASE + h.CONFIG_PATH),
            ("CWebDlg::InitWebBrower", 73, "InitWebBrower"),
            ("CWebCDlg::InitWebBrower", 161, entry_url),
            ("CGameRemoteConfig::InitRemoteConfig", 214, os.path.join(data, "game_client_version.txt")),
            ("CGameRemoteConfig::OnDownLoad", 498, "OnDownLoad begin"),
            ("CGameRemoteConfig::OnDownLoad", 510, os.path.join(inst, h.GAME + ".zip")),
            ("CGameRemoteConfig::OnDownLoad", 540, package_url),
            # No resume state: its version 0.0.0.0 is below ClientMiniUpdateVersion.
            ("CGameRemoteConfig::OnDownLoad", 580,
             "Download version is elder than mini update version. Restart downloading resources."),
            # The demo server publishes the package's hash (and signs it for a build with a key).
            ("CGameRemoteConfig::OnDownLoad", 688,
             re.compile(r"package verified: sha256 %s(, signature good)?" % h.sha256_of(h.PACKAGE))),
            ("CGameRemoteConfig::OnDownLoad", 685, "download is finish"),
            ("CGameRemoteConfig::OnUnzipFile", 393, "unzip file:%s begin" % os.path.join(inst, h.GAME + ".zip")),
            ("CGameRemoteConfig::OnUnzipFile", 426, h.GAME + "/"),
            ("CGameRemoteConfig::OnUnzipFile", 489, "unzip is finish!"),
            ("CGameRemoteConfig::UnzipFile", 718, None),
            ("CWebDlg::SetReady", 84, "SetReady"),
            ("CWebCDlg::SetReady", 168, "is ready"),
        ])
        page = h.find_in_order(entries, [
            ("CWebCDlg::JavascriptToCPLUSPLUS", 185, "method:LoginResult,paramters:true|" + login),
            ("CWebCDlg::OnLoginResult", 402, "is logic suc!"),
            ("CWebCDlg::LaunchGame", 435, os.path.join(data, h.GAME, h.GAME)),
            ("CWebCDlg::LaunchGame", 439, os.path.join(data, h.GAME)),
            ("CWebCDlg::LaunchGame", 462, expected_command),
            ("CWebCDlg::LaunchGame", 463, "LaunchGame"),
            ("CWebCDlg::LaunchGame", 472, "LaunchGame Succ"),
            ("CWebCDlg::LaunchGame", 494, "Exit Game"),
            ("CWebDlg::Cancel", 62, "Laucher Stop"),
            ("CWebApp::OnWndDestroy", 63, "wnd destory"),
        ])
        self.assertLess(worker[-2], page[0], "the page logged in before the ready mark")

        # Telemetry: events 1, 2, 3, 6 and 9 once each, and the matching messages.
        def reports_in():
            reports = server.telemetry()
            events = [p.get("ac") for path, p in reports if path == "/api/laucher_info.php"]
            return reports if len(events) >= 5 and "game start success" in str(reports) else None
        try:
            reports = h.wait_until(reports_in, 10, "the telemetry reports")
        except AssertionError:
            reports = server.telemetry()
        events = sorted(str(p.get("ac")) for path, p in reports if path == "/api/laucher_info.php")
        self.assertEqual(events, sorted(["create", "download_start", "unzip_start", "None", "game_start"]))
        self.assertTrue(all(p.get("ditch_name") == h.CHANNEL and "client_uid" in p and "mac" in p
                            and "os_version" in p for _, p in reports), reports)
        messages = [p.get("error_msg") for path, p in reports if path == "/api/laucher_error.php"]
        for message in ("launcher start", "game download start, download url:" + package_url,
                        "game download success", "game unzip start", "game unzip success",
                        "game start", "game start success"):
            self.assertIn(message, messages)

        # What stays on disk: the client, the version record, the resume state, the registration.
        # The package is gone, and the resume state no longer claims it.
        self.assert_client_installed()
        self.assertEqual(self.box.resume_state(), {"downloadVersion": h.VERSION, "offset": "0", "totalSize": "0"})
        self.assertTrue(os.access(os.path.join(inst, h.GAME), os.X_OK), "no launcher copy")
        registry = self.box.registry_text()
        self.assertIn("Uninstall\\%s]" % h.GAME, registry)
        self.assertIn('"InstallPath"="%s"' % inst.replace("\\", "\\\\"), registry)
        self.assertTrue(os.path.exists(os.path.join(inst, h.GAME + "-uninstall.desktop")))
        self.assertTrue(os.path.exists(os.path.join(self.box.data_home, "applications", "Apps", h.CHANNEL,
                                                    h.PRODUCT + ".desktop")))
        self.assertTrue(os.path.exists(os.path.join(self.box.desktop, h.PRODUCT + ".desktop")))
        # One full transfer of the package, from byte 0.
        self.assertEqual([(r[2], r[3]) for r in server.package_requests()], [(None, 200)])


class SecondRun(LauncherTestCase):
    def test_current_client_downloads_nothing(self):
        server, _ = self.install()
        # The very first start on a machine finds no directory for its log, and writes none.
        self.assertFalse(os.path.exists(os.path.join(self.box.install_dir, "vellmora.log")))
        os.remove(self.box.game_record)
        before = len(server.requests())

        launcher = self.start_launcher("--token=ab", "--source=FC")
        self.assertEqual(launcher.wait(h.INSTALL_TIMEOUT, "the second run"), 0, self.context(launcher))
        self.assertTrue(os.path.exists(self.box.game_record), "the game did not start" + self.context(launcher))

        later = server.requests()[before:]
        self.assertEqual([r[1] for r in later if "/packages" in r[1]], [])
        self.assertIn(h.CONFIG_PATH, [r[1] for r in later])
        entries = self.box.log_entries()
        h.find_in_order(entries, [
            ("CGameRemoteConfig::InitRemoteConfig", 140, None),
            ("CGameRemoteConfig::CStringToLocalClientVersion", 1101, "local_client_version:" + h.VERSION),
            ("CGameRemoteConfig::InitRemoteConfig", 271, "work_path:" + h.LAUNCHER),
            ("CGameRemoteConfig::InitRemoteConfig", 274, "dest_path:" + os.path.join(self.box.install_dir, h.GAME)),
            ("CWebDlg::SetReady", 84, "SetReady"),
            ("CGameRemoteConfig::InitRemoteConfig", 284, "update finish!"),
        ])
        self.assertFalse(any(f == "CGameRemoteConfig::OnDownLoad" for _, f, _, _ in entries))
        self.assert_client_installed()


class ResumeDownload(LauncherTestCase):
    """A run stopped in the middle of the download, then a run that completes the installation."""

    def interrupted_run(self, stop):
        package_size = os.path.getsize(h.PACKAGE)
        server = self.start_server("--autologin", "--throttle", str(max(package_size // 16, 65536)))
        launcher = self.start_launcher("--token=ab")
        partial = os.path.join(self.box.install_dir, h.GAME + ".zip")
        h.wait_until(lambda: os.path.exists(partial) and os.path.getsize(partial) >= package_size // 4,
                     h.INSTALL_TIMEOUT, "a quarter of the package")
        stop(launcher)
        self.assertIn(launcher.wait(h.EXIT_TIMEOUT, "the interrupted launcher"), (0, -signal.SIGKILL))
        self.assertFalse(os.path.exists(self.box.game_record))
        on_disk = os.path.getsize(partial)
        self.assertLess(on_disk, package_size, "the download finished before the launcher was stopped")
        server.stop()
        return on_disk

    def complete_run(self):
        server = self.start_server("--autologin")
        launcher = self.start_launcher("--token=ab")
        try:
            code = launcher.wait(h.INSTALL_TIMEOUT, "the resuming run")
        except AssertionError as e:
            raise AssertionError(str(e) + self.context(launcher)) from None
        self.assertEqual(code, 0, self.context(launcher))
        self.assertTrue(os.path.exists(self.box.game_record), "the game did not start" + self.context(launcher))
        self.assert_client_installed()
        return server

    def test_closed_during_download_resumes_from_the_saved_offset(self):
        package_size = os.path.getsize(h.PACKAGE)
        on_disk = self.interrupted_run(self.click_close_button)
        # The saved state promises exactly the bytes in the file, for the version being downloaded.
        self.assertEqual(self.box.resume_state(),
                         {"downloadVersion": h.VERSION, "offset": str(on_disk), "totalSize": str(package_size)})

        server = self.complete_run()
        self.assertEqual([(r[2], r[3]) for r in server.package_requests()], [("bytes=%d-" % on_disk, 206)])
        h.find_in_order(self.box.log_entries(), [
            ("CGameRemoteConfig::OnDownLoad", 589, "Try Resuming download from break point."),
            ("CGameRemoteConfig::OnDownLoad", 685, "download is finish"),
            ("CGameRemoteConfig::OnUnzipFile", 489, "unzip is finish!"),
        ])

    def test_killed_during_download_resumes(self):
        # Killed: no exit path runs, yet the next run resumes within the bytes the file holds.
        on_disk = self.interrupted_run(lambda launcher: launcher.signal(signal.SIGKILL))
        state = self.box.resume_state()
        self.assertEqual(state.get("downloadVersion"), h.VERSION)
        self.assertLessEqual(int(state.get("offset", "0")), on_disk)
        server = self.complete_run()
        requests = server.package_requests()
        self.assertEqual(len(requests), 1, requests)
        self.assertEqual((requests[0][2], requests[0][3]), ("bytes=%s-" % state["offset"], 206))


class ConfigurationServerDown(LauncherTestCase):
    def test_no_configuration_means_no_page_and_no_files(self):
        cases = [
            ("unreachable", None, re.compile(r"res:[1-9]\d*, httpStatusCode:0")),
            ("answers 404", "404", re.compile(r"res:0, httpStatusCode:404")),
        ]
        for name, status, logged in cases:
            with self.subTest(name):
                self.box.remove()
                self.box = h.Sandbox()
                self.box.leave_install_dir()
                server = self.start_server("--config-status", status) if status else None
                launcher = self.start_launcher("--token=ab", "--source=FC")
                # The log is buffered until exit: watch the window and the server instead.
                self.launcher_window(launcher)
                if server:
                    h.wait_until(lambda: h.CONFIG_PATH in [r[1] for r in server.requests()],
                                 h.START_TIMEOUT, "the configuration request")
                time.sleep(2.0)  # room for anything the worker might wrongly do next
                self.assertEqual(self.box.snapshot(self.box.install_dir), {"vellmora.log": os.path.getsize(
                    os.path.join(self.box.install_dir, "vellmora.log")), "client": -1})
                self.assertNotIn("Uninstall\\%s]" % h.GAME, self.box.registry_text())
                self.assertEqual(os.listdir(self.box.desktop), [])
                if server:
                    self.assertEqual([r[1] for r in server.requests()
                                      if not r[1].startswith("/api/laucher_")], [h.CONFIG_PATH])
                self.display.screenshot(self.box.path("config-failure.png"))
                self.assertTrue(launcher.running(), "the launcher closed after the failure")
                self.click_close_button(launcher)
                self.assertEqual(launcher.wait(h.EXIT_TIMEOUT), 0, self.context(launcher))
                entries = self.box.log_entries()
                h.find_in_order(entries, [("CGameRemoteConfig::InitRemoteConfig", 200, logged),
                                          ("CWebDlg::Close", 54, "Laucher Stop")])
                self.assertFalse(any(f.endswith("InitWebBrower") for _, f, _, _ in entries), "a page was opened")
                launcher.stop()
                if server:
                    server.stop()


class SecondLauncher(LauncherTestCase):
    def test_second_launcher_is_refused(self):
        self.start_server()
        first = self.start_launcher("--token=ab")
        self.launcher_window(first)

        second = self.start_launcher("--token=cd", display=False)
        self.assertEqual(second.wait(h.EXIT_TIMEOUT, "the second launcher"), 0)
        self.assertIn("游戏已启动", second.stderr())
        self.assertTrue(first.running(), "the first launcher ended")
        self.assertFalse(os.path.exists(self.box.game_record))

        self.click_close_button(first)
        self.assertEqual(first.wait(h.EXIT_TIMEOUT), 0, self.context(first))


class Uninstall(LauncherTestCase):
    def registration(self):
        """What uninstall removes, as present (True) or absent (False)."""
        return {
            "client": os.path.isdir(self.box.data_dir),
            "install dir": os.path.isdir(self.box.install_dir),
            "start menu": os.path.isdir(os.path.join(self.box.data_home, "applications", "Apps", h.CHANNEL)),
            "desktop link": os.path.exists(os.path.join(self.box.desktop, h.PRODUCT + ".desktop")),
            "uninstall entry": "Uninstall\\%s]" % h.GAME in self.box.registry_text(),
        }

    def test_uninstall_removes_the_installation_once_confirmed(self):
        self.install()
        copy = os.path.join(self.box.install_dir, h.GAME)  # what the uninstall entry starts
        installed = {k: True for k in self.registration()}
        self.assertEqual(self.registration(), installed)

        # Without a display nobody can confirm: the answer is No and nothing is removed.
        refused = self.start_launcher("/uninstall", display=False, program=copy)
        self.assertEqual(refused.wait(h.EXIT_TIMEOUT, "the unconfirmed uninstall"), 0)
        self.assertIn("确定要卸载吗?", refused.stderr())
        self.assertEqual(self.registration(), installed)

        # With a display the player answers Yes.
        launcher = self.start_launcher("/uninstall", program=copy)
        dialog = h.wait_until(
            lambda: self.display.xdotool("search", "--onlyvisible", "--pid", str(launcher.pid)).stdout.split(),
            h.START_TIMEOUT, "the confirmation dialog", interval=0.3)[0]
        self.display.xdotool("windowfocus", "--sync", dialog)
        self.display.xdotool("key", "--clearmodifiers", "alt+y")
        self.assertEqual(launcher.wait(h.EXIT_TIMEOUT, "the uninstall"), 0, launcher.stderr())
        h.wait_until(lambda: not os.path.exists(self.box.install_dir), 30, "the installation directory to go")
        self.assertEqual(self.registration(), {k: False for k in installed})


class WinePrefixTemplate(unittest.TestCase):
    """Prepares the Wine prefix that the Windows-build tests copy: once per test run."""

    def test_prepare(self):
        if not h.WINE_TEMPLATE:
            self.fail("VELLMORA_E2E_WINE_TEMPLATE is not set")
        h.prepare_wine_template(h.WINE_TEMPLATE)
        self.assertTrue(os.path.isfile(os.path.join(h.WINE_TEMPLATE, "user.reg")))
        self.assertTrue(os.path.isdir(os.path.join(h.WINE_TEMPLATE, "drive_c", "windows", "system32")))


class WindowsBuildTestCase(LauncherTestCase):
    """The launcher with the demo game's Windows build, which it starts through Wine."""

    def setUp(self):
        super().setUp()
        if not h.WINDOWS_PACKAGE or not os.path.exists(h.WINDOWS_PACKAGE):
            self.fail("the Windows package is missing (%r): build the project first" % h.WINDOWS_PACKAGE)
        self.box.leave_install_dir()  # for the log
        self.game_dir = os.path.join(self.box.data_dir, h.GAME)
        self.game = os.path.join(self.game_dir, h.GAME + ".exe")

    def tearDown(self):
        for item in reversed(self._stoppables):
            item.stop()
        self._stoppables = []
        # Wine's server of the prefix ends a few seconds after its last program. Its directory is
        # named after the prefix's inode, which a later prefix may get once this one is removed.
        if os.path.isdir(self.box.prefix):
            h.wait_until(lambda: not h.wine_server_running(self.box.prefix), 60, "Wine's server of the prefix to end")
        super().tearDown()

    def wine(self, *args):
        """Runs one of Wine's own tools in the sandbox's prefix."""
        result = subprocess.run([h.WINE, *args], env=self.box.wine_env(self.display.display), capture_output=True,
                                timeout=120, check=False)
        self.assertEqual(result.returncode, 0, result.stderr)

    def start_windows_build(self, *args, game_exit_after="0", **env_changes):
        self.start_server("--windows-game", "--autologin")
        return self.start_launcher(*args, game_exit_after=game_exit_after, **env_changes)


class WindowsGame(WindowsBuildTestCase):
    def test_windows_build_starts_through_wine_like_a_native_start(self):
        h.install_wine_prefix(self.box.prefix)
        # The game kept an unusable window size; Wine's server of this change still runs when the
        # launcher starts, so the repair has to wait for it.
        key = "HKCU\\SOFTWARE\\qrd\\" + h.PRODUCT
        sizes = [("Width_h182942802", 100), ("Height_h2627697771", 50), ("Width Default_h680557497", 1280),
                 ("Height Default_h1380706816", 720)]
        for name, value in sizes:
            self.wine("reg", "add", key, "/v", "Screenmanager Resolution " + name, "/t", "REG_DWORD", "/d", str(value),
                      "/f")

        args = ("--token=ab", "--source=FC", "--name=a b")
        launcher = self.start_windows_build(*args)
        self.assertEqual(launcher.wait(h.INSTALL_TIMEOUT, "the first installation"), 0, self.context(launcher))
        # The launcher ends with the game, not with Wine's server, which lingers a few seconds.
        self.assertTrue(h.wine_server_running(self.box.prefix), "the launcher waited for Wine's server")
        self.assertTrue(os.path.exists(self.box.game_record), "the game did not start" + self.context(launcher))

        # The arguments after the program name are exactly those of a native start; Wine names the
        # game by its DOS path, and maps the working directory.
        login = "account=demo&session=" + h.demo_session("demo")
        game_args = [*args, "--parameters=" + login, "--plat_extra=" + h.CUSTOM_PARAMETERS]
        record = self.box.game_record_entries()
        self.assertEqual(record["argv"], [self.box.windows_path(self.game), *game_args])
        self.assertEqual(record["command_line"], "\"%s\" --token=ab --source=FC \"--name=a b\" --parameters=%s "
                         "--plat_extra=%s" % (self.box.windows_path(self.game), login, h.CUSTOM_PARAMETERS))
        self.assertEqual(record["cwd"], self.box.windows_path(self.game_dir))
        self.assertEqual(os.path.realpath(record["unix_cwd"]), os.path.realpath(self.game_dir))
        self.assertEqual(record["env"].get("WINEPREFIX"), self.box.prefix)
        self.assertEqual(record["env"].get("WINEDEBUG"), "-all")
        # The window size the game read: repaired from its defaults in Wine's registry.
        self.assertEqual([record["registry.Screenmanager Resolution " + name] for name, _ in sizes],
                         ["1280", "720", "1280", "720"])
        self.assertNotIn("qrd", self.box.registry_text(), "the launcher's own registry store")

        entries = self.box.log_entries()
        h.find_in_order(entries, [
            ("CGameRemoteConfig::AdjustWindowSize", 1055, "AdjustWindowSize origin data windowWidth:100 "
             "windowHeight:50 windowDefaultWidth:1280 windowDefaultHeight:720"),
            ("CGameRemoteConfig::AdjustWindowSize", 1059, "The size of window is unnormal, reset to default setting."),
            ("CWebCDlg::SetReady", 168, "is ready"),
            ("GamePreparation::Run", 520, "prepare wine prefix:%s with %s" % (self.box.prefix, h.WINE)),
            ("GamePreparation::Run", 524, "wine prefix ready"),
        ])
        h.find_in_order(entries, [
            ("CWebCDlg::LaunchGame", 435, self.game),
            ("CWebCDlg::LaunchGame", 439, self.game_dir),
            ("CWebCDlg::LaunchGame", 462, "%s --token=ab --source=FC \"--name=a b\" --parameters=%s --plat_extra=%s"
             % (h.LAUNCHER, login, h.CUSTOM_PARAMETERS)),
            ("CWebCDlg::LaunchGame", 466, "through wine:" + h.WINE),
            ("CWebCDlg::LaunchGame", 472, "LaunchGame Succ"),
            ("CWebCDlg::LaunchGame", 494, "Exit Game"),
            ("CWebDlg::Cancel", 62, "Laucher Stop"),
        ])
        self.assertFalse([e for e in entries if e[0] == "ERROR" and e[1] in (
            "CGameRemoteConfig::AdjustWindowSize", "GamePreparation::Run")], self.box.log_text())


class WindowsGameRunning(WindowsBuildTestCase):
    def test_a_running_windows_build_refuses_a_second_launcher_and_uninstall(self):
        h.install_wine_prefix(self.box.prefix)
        first = self.start_windows_build("--token=ab", "--source=FC", game_exit_after="12")
        h.wait_until(lambda: os.path.exists(self.box.game_record) or not first.running(), h.INSTALL_TIMEOUT,
                     "the game to start")
        self.assertTrue(h.windows_program_running(self.game), "the game did not start" + self.context(first))
        # Without its launcher (whose lock would refuse on its own), only the game stands in the way.
        first.signal(signal.SIGKILL)
        first.wait(h.EXIT_TIMEOUT)

        second = self.start_launcher("--token=cd", display=False)
        self.assertEqual(second.wait(h.EXIT_TIMEOUT, "the second launcher"), 0)
        self.assertIn("游戏已启动", second.stderr())
        copy = os.path.join(self.box.install_dir, h.GAME)
        uninstall = self.start_launcher("/uninstall", display=False, program=copy)
        self.assertEqual(uninstall.wait(h.EXIT_TIMEOUT, "the uninstall"), 0)
        self.assertIn("游戏正在运行,请关闭游戏后重试", uninstall.stderr())
        self.assertTrue(h.windows_program_running(self.game), "the game ended too soon for this test")
        self.assertTrue(os.path.isdir(self.box.data_dir))

        # Once the game has ended, Wine's own programs that linger do not count as the game.
        h.wait_until(lambda: not h.windows_program_running(self.game), 30, "the game to end")
        uninstall = self.start_launcher("/uninstall", display=False, program=copy)
        self.assertEqual(uninstall.wait(h.EXIT_TIMEOUT, "the uninstall"), 0)
        self.assertIn("确定要卸载吗?", uninstall.stderr())


class WindowsNoWine(WindowsBuildTestCase):
    def test_without_wine_the_launcher_says_so_and_starts_nothing(self):
        empty = self.box.path("bin")
        os.makedirs(empty)
        launcher = self.start_windows_build("--token=ab", PATH=empty, VELLMORA_WINE=None)
        # The message comes once the client is installed and the page has logged in.
        def message_box():
            # The launcher's visible windows besides its main window (950 pixels wide).
            for wid in self.display.xdotool("search", "--onlyvisible", "--pid", str(launcher.pid)).stdout.split():
                geo = self.display.xdotool("getwindowgeometry", "--shell", wid).stdout
                values = dict(line.split("=", 1) for line in geo.split() if "=" in line)
                if values and int(values["WIDTH"]) < 950:
                    return wid
            return None
        dialog = h.wait_until(message_box, h.INSTALL_TIMEOUT, "the message box", interval=0.3)
        self.display.screenshot(self.box.path("no-wine.png"))
        self.display.xdotool("windowfocus", "--sync", dialog)
        self.display.xdotool("key", "--clearmodifiers", "alt+o")
        h.wait_until(lambda: not message_box(), h.START_TIMEOUT, "the message box to close", interval=0.3)

        time.sleep(1.0)  # room for anything the launcher might wrongly do next
        self.assertTrue(launcher.running(), "the launcher closed")
        self.launcher_window(launcher)  # still visible
        self.assertFalse(os.path.exists(self.box.game_record))
        self.click_close_button(launcher)
        self.assertEqual(launcher.wait(h.EXIT_TIMEOUT), 0, self.context(launcher))
        entries = self.box.log_entries()
        h.find_in_order(entries, [
            ("CWebCDlg::SetReady", 168, "is ready"),
            ("CWebCDlg::SetReady", 170, "the game is a Windows build and no Wine was found (VELLMORA_WINE, or wine "
             "on PATH)"),
            ("CWebDlg::Close", 54, "Laucher Stop"),
        ])
        self.assertFalse(any(f == "CWebCDlg::LaunchGame" for _, f, _, _ in entries), self.box.log_text())


if __name__ == "__main__":
    unittest.main(verbosity=2)
