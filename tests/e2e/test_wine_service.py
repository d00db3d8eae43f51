"""schedExe under Wine: as a real service under Wine's service control manager
(installed from a folder with a blank in its path, with the registry values,
by schedexe-control install, started with net.exe, controls sent with
schedexe-control, the agent journal beside DmiSetValue, since a service does
not inherit our environment), the install and uninstall themselves, and in
foreground mode with "/d" (the prefix has an X server, Xvfb, from
tests/wine/wine_run.sh)."""

import calendar
import datetime
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from agent import (DMI_LIBRARIES, DMI_PROGRAMS, SYNCH, UNCHANGED, AgentFiles, Scenarios,
                   activation, deleted, fired, in_order, profile, read_journal, tarn, wait)

BIN = os.environ.get("SCHEDEXE_BIN", "")
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../wine/wine_run.sh")
SERVICE = "schedExe"
# Wine's trace of the SetServiceStatus calls of the prefix's services (see
# tests/wine/wine_run.sh).
SERVICE_TRACE = os.environ.get("WINEPREFIX", "") + ".service-trace.log"
TRACED_REPORT = re.compile(r"trace:service:SetServiceStatus \S+" + r" (\w+)" * 7 + "$")


def reports_since(offset):
    """(state, checkpoint, wait hint, controls, Win32 exit code) of every
    status report of an own-process service traced after `offset`."""
    with open(SERVICE_TRACE, "rb") as f:
        f.seek(offset)
        lines = f.read().decode(errors="replace").splitlines()
    reports = []
    for match in filter(None, map(TRACED_REPORT.search, lines)):
        kind, state, controls, win32, _, checkpoint, hint = (int(v, 0) for v in match.groups())
        # Ours runs in its own process; Wine's own services, which it starts
        # on demand (a window made in a service starts some), share one.
        if kind == 0x10:
            reports.append((state, checkpoint, hint, controls, win32))
    return reports


def wine(*args, check=True, env=None):
    def run():
        return subprocess.run([WINE_RUN, *args], stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, errors="replace", env=env, timeout=120)
    result = run()
    # Wine on a busy machine now and then fails to start a program: exit 1
    # and nothing said. Where the caller counts on the program running, it
    # is started once more; one that really fails says so again.
    if check and result.returncode == 1 and not (result.stdout or result.stderr):
        result = run()
    # What the program said is what explains its failure; an exit code that
    # is a Windows exception code reads best in hex.
    if check and result.returncode:
        said = "\n".join(filter(None, (result.stderr.strip(), result.stdout.strip()[-2000:])))
        code = result.returncode
        raise AssertionError(f"{args} exited {code} ({code & 0xFFFFFFFF:#x}): "
                             f"{said or '(nothing on stdout or stderr)'}")
    return result


def control(command, env=None):
    return wine(os.path.join(BIN, "schedexe-control.exe"), command, SERVICE, check=False, env=env)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def status():
    out = control("query").stdout
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


AGENT_KEY = "HKLM\\SOFTWARE\\Corvane\\Teltrix"
DATA_KEY = AGENT_KEY + "\\ZIZ2UDE"
SERVICE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\" + SERVICE
SOURCE_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + SERVICE
REG_VALUE = re.compile(r"^\s+(.+?)\s+REG_\w+\s+(.*)$")


def reg_values(key):
    """The values of a registry key by name ({} when the key is missing)."""
    result = wine("reg", "query", key, check=False)
    matches = map(REG_VALUE.match, result.stdout.splitlines() if result.returncode == 0 else [])
    return {m.group(1): m.group(2) for m in matches if m}


def install_programs(folder):
    """The service and schedexe-control in `folder`, as an operator copies
    them; returns a runner of that schedexe-control."""
    os.makedirs(folder)
    for program in ("schedExe.exe", "schedexe-control.exe"):
        shutil.copy(os.path.join(BIN, program), folder)
    return lambda *args: wine(os.path.join(folder, "schedexe-control.exe"), *args, check=False)


class WineAgent(AgentFiles):
    """An agent folder for the Windows programs; its folder values are set
    with reg.exe only when `publish` (a service test installs them)."""

    exe = ".exe"

    def __init__(self, root, client, journal, data_dir=None, publish=True):
        self.client, self.journal = client, journal
        self.client_prefix = windows_path(client) + "\\"
        os.makedirs(client)
        # DmiSetValue journals only into a journal that is there.
        open(journal, "a").close()
        programs = [p + ".exe" for p in ("wactivate", "schedExe", *DMI_PROGRAMS)]
        for program in programs + list(DMI_LIBRARIES):
            shutil.copy(os.path.join(BIN, program), client)
        if data_dir:
            os.makedirs(data_dir)
            self.data_file = os.path.join(data_dir, "tarn.dat")
        if not publish:
            return
        wine("reg", "add", AGENT_KEY, "/v", "TTX Path", "/d", windows_path(root), "/f")
        if data_dir:
            wine("reg", "add", DATA_KEY, "/v", "DatsPath", "/d", windows_path(data_dir), "/f")
        else:
            wine("reg", "delete", DATA_KEY, "/f", check=False)

    def host_path(self, path):
        return windows_path(path)

    def run(self, program, *args, check=False):
        return wine(program + ".exe", *args, check=check)


@unittest.skipUnless(BIN, "needs SCHEDEXE_BIN (the cross build's bin folder)")
class WineServiceTest(Scenarios, unittest.TestCase):
    def setUp(self):
        root = tempfile.mkdtemp(prefix="schedexe-wine-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        agent = os.path.join(root, "agent")
        client = os.path.join(agent, "KVClient")
        data = os.path.join(root, "data")
        self.a = WineAgent(agent, client, os.path.join(client, "agent-journal.log"), data,
                           publish=False)
        # Installed as an operator would, from a folder with a blank; an
        # earlier run's values are replaced.
        run_control = install_programs(os.path.join(root, "Program Files", "Agent"))
        installed = run_control("install", "--ttx-path", windows_path(agent), "--data-path",
                                windows_path(data), "--replace")
        self.assertEqual(installed.returncode, 0, installed.stderr)
        self.addCleanup(run_control, "uninstall")
        self.addCleanup(control, "stop")
        # ".\kvcmd" is looked for in the service's current folder, which Wine's
        # service manager makes C:\windows (Windows: C:\windows\system32); its
        # journal is beside it.
        folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows")
        self.kvcmd_journal = os.path.join(folder, "agent-journal.log")
        for path in (os.path.join(folder, "kvcmd.exe"), self.kvcmd_journal):
            self.addCleanup(lambda p=path: os.path.exists(p) and os.remove(p))
        shutil.copy(os.path.join(BIN, "kvcmd.exe"), folder)

    def start_service(self):
        self.offset = os.path.getsize(SERVICE_TRACE) if os.path.exists(SERVICE_TRACE) else 0
        wine("net", "start", SERVICE)

    def reports(self):
        return reports_since(self.offset)

    def control(self, name):
        control(name)

    def running(self):
        return status().get("STATE") == "4"

    def assert_ended(self):
        wait(lambda: status().get("STATE") == "1", 30, lambda: f"state 1: {status()}")
        self.assertEqual(status()["WIN32_EXIT_CODE"], "0")

    def kvcmd_commands(self):
        return read_journal(self.kvcmd_journal, "")

    def test_event_fires(self):
        # A wactivate that crashes: the firing goes on regardless.
        self.a.replace_program("wactivate", "crashing-standin")
        # Due at the start of a minute at least 20 s away.
        due = (datetime.datetime.now() + datetime.timedelta(seconds=80)).replace(
            second=0, microsecond=0)
        self.a.write_data(tarn(profile(1, "Alpha", "Active", "One Time", due.year,
                                       calendar.month_name[due.month], due.day, due.hour,
                                       due.minute)))
        # Wine's event log keeps nothing: the log goes to the file named.
        log = os.path.join(os.path.dirname(self.a.data_file), "schedexe.log")
        parameters = f"HKLM\\SYSTEM\\CurrentControlSet\\Services\\{SERVICE}\\Parameters"
        wine("reg", "add", parameters, "/v", "LogFile", "/d", windows_path(log), "/f")
        wine("reg", "add", parameters, "/v", "LogLevel", "/d", "info", "/f")
        self.start()
        self.a.wait_for_count(activation(1), 1, timeout=150)
        self.a.wait_for_count(deleted(1))
        self.assertTrue(in_order(self.a.commands(), fired(1) + [activation(1)]),
                        self.a.commands())
        self.assertEqual(self.a.dmi_column("Event Cat2 Table", "FIRED")[2], "True")
        data = self.a.read_data()
        self.assertIn("[Event Cat2:1]\nEvent Status=True\n", data)
        self.assertIn(f"Minute={due.minute}\nState=Delete\n", data)

        def lines():
            with open(log, newline="") as f:
                return f.read().split("\r\n")
        # The firing is told before wactivate starts: under Wine the crashed
        # one is held by the debugger and never ends while the test runs.
        wait(lambda: any('notice: firing slot 1 "Alpha" due ' in line for line in lines()), 30,
             lines)
        self.stop()
        lines = lines()
        wanted = ["notice: schedExe started as a service", "notice: initial pass of ",
                  'notice: firing slot 1 "Alpha" due ', "notice: stop requested",
                  "notice: service stopped"]
        found = [next((w for line in lines if w in line), None) for w in wanted]
        self.assertEqual(found, wanted, lines)
        self.assertTrue(any(line.endswith(": wactivate /category:2 /event:1") for line in lines),
                        lines)

@unittest.skipUnless(BIN, "needs SCHEDEXE_BIN (the cross build's bin folder)")
class WineInstallTest(unittest.TestCase):
    """schedexe-control install and uninstall: what they write, keep and
    refuse."""

    def setUp(self):
        root = tempfile.mkdtemp(prefix="schedexe-wine-install-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        self.folder = os.path.join(root, "Program Files", "Agent")
        self.run_control = install_programs(self.folder)
        self.addCleanup(self.run_control, "uninstall")
        self.agent, self.data = (windows_path(os.path.join(root, n)) for n in ("agent", "data"))
        for name in ("agent", "data"):
            os.makedirs(os.path.join(root, name))
        # A value set already, one missing, and one install does not know.
        wine("reg", "delete", DATA_KEY, "/f", check=False)
        for name, data in (("TTX Path", "C:\\old"), ("Other", "theirs")):
            wine("reg", "add", AGENT_KEY, "/v", name, "/d", data, "/f")
        self.addCleanup(wine, "reg", "delete", AGENT_KEY, "/v", "Other", "/f", check=False)

    def agent_values(self):
        values = reg_values(AGENT_KEY)
        return values.get("TTX Path"), reg_values(DATA_KEY).get("DatsPath"), values.get("Other")

    def install(self, *args, returncode=0, error=""):
        result = self.run_control("install", "--ttx-path", self.agent, "--data-path", *args)
        self.assertEqual(result.returncode, returncode, result.stderr)
        self.assertIn(error, result.stderr)

    def test_install_keeps_set_values_refuses_and_uninstall_leaves_the_agent_values(self):
        self.install(self.data + "\\missing", returncode=1, error="does not exist: error 3")
        self.assertEqual((reg_values(SERVICE_KEY), reg_values(SOURCE_KEY)), ({}, {}))
        self.assertEqual(self.agent_values(), ("C:\\old", None, "theirs"))

        self.install(self.data)
        program = windows_path(os.path.join(self.folder, "schedExe.exe"))
        self.assertEqual(reg_values(SERVICE_KEY)["ImagePath"], f'"{program}"')
        self.assertEqual(reg_values(SOURCE_KEY),
                         {"EventMessageFile": program, "TypesSupported": "0x7"})
        self.assertEqual(self.agent_values(), ("C:\\old", self.data, "theirs"))
        self.install(self.data, "--replace", returncode=1, error="error 1073")

        self.assertEqual(self.run_control("uninstall").returncode, 0)
        self.assertEqual((reg_values(SERVICE_KEY), reg_values(SOURCE_KEY)), ({}, {}))
        self.assertEqual(self.agent_values(), ("C:\\old", self.data, "theirs"))
        self.install(self.data, "--replace")
        self.assertEqual(self.agent_values(), (self.agent, self.data, "theirs"))
        self.assertEqual([self.run_control(*a).returncode for a in (["--help"], ["install", "-x"])],
                         [0, 2])


@unittest.skipUnless(BIN and shutil.which("Xvfb"), "needs the cross build and Xvfb")
class WineForegroundTest(unittest.TestCase):
    """"/d" keeps a hidden window; closing it from outside ends the process."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="schedexe-wine-fg-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        # No data directory value: every run is the empty pass.
        self.a = WineAgent(self.root, os.path.join(self.root, "KVClient"),
                           os.path.join(self.root, "journal.log"))
        self.env = dict(os.environ, AGENT_JOURNAL=self.a.journal)

    def run_foreground(self, command_line, passes):
        """Runs the command line from a batch file (so that it reaches the
        program exactly), waits for its pass, closes the window."""
        batch = os.path.join(self.root, "run.bat")
        with open(batch, "w", newline="") as f:
            f.write(f"@{command_line}\r\n@exit %ERRORLEVEL%\r\n")
        p = subprocess.Popen([WINE_RUN, "cmd", "/c", windows_path(batch)], env=self.env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        try:
            self.a.wait_for_count(SYNCH, passes)
            self.assertIsNone(p.poll())
            # The worker starts before the window exists: a fast pass can
            # end before the window is there to close.
            wait(lambda: control("close-window", self.env).returncode == 0, 30,
                 lambda: "the window to close")
            self.assertEqual(p.wait(timeout=30), 0)
        finally:
            if p.poll() is None:
                p.kill()
                p.wait()
            self.kill_leftovers()

    def kill_leftovers(self):
        """Ends the programs started from this test's folder that are still
        running (under Wine each program is a Linux process of its own, not
        a child of the one we started)."""
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    command = f.read().decode(errors="replace")
                if windows_path(self.root) in command or self.root in command:
                    os.kill(int(pid), 9)
            except OSError:
                continue

    def test_foreground_mode_and_the_mode_choice(self):
        program = windows_path(os.path.join(self.a.client, "schedExe.exe"))
        # "/d x" is service mode: outside the service manager the dispatcher
        # call fails, and the program ends with 0.
        self.assertEqual(wine(program, "/d", "x", env=self.env).returncode, 0)
        self.assertEqual(self.a.commands(), [])
        for passes, command_line in enumerate([f"{program} /d", f"{program} /D",
                                               f'"{program}" "/d"'], 1):
            self.run_foreground(command_line, passes)
        self.assertEqual(self.a.commands(), [UNCHANGED, SYNCH] * 3)


if __name__ == "__main__":
    unittest.main()
