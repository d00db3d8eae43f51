"""schedExe under Wine: as a real service under Wine's service control manager
(the registry written with reg.exe, the service created and started with
sc.exe and net.exe, controls sent with schedexe-control, the agent journal
beside the DmiSetValue stand-in, since a service does not inherit our
environment), and in foreground mode with "/d" (the prefix has an X server,
Xvfb, from tests/wine/wine_run.sh)."""

import calendar
import datetime
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from agent import (KVCMD, SYNCH, UNCHANGED, AgentFiles, activation, active, deleted,
                   fired, in_order, keyed, read_journal)

BIN = os.environ.get("SCHEDEXE_BIN", "")
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../wine/wine_run.sh")
SERVICE = "schedExe"
# Slot 1 "Delete", slot 2 "Add": the initial pass releases one and activates
# the other. While "Changed" reads True, every reload releases slot 1 again.
DATA = ("[TARN Event Categories]\nNumber of Categories=2\nEventCat2=User Alarms\n"
        "[EventCat2 List]\nNumber of Cat2 Events=2\nChanged=True\nCat2:1=Alpha\n"
        "Cat2:2=Beta\n[Scheduler Profiles]\nNumber of Profiles=2\n"
        "[Scheduler Profile 1]\nName=Alpha\nFrequency=One Time\nYear=2030\n"
        "Month=June\nDayOfMonth=1\nHour=12\nMinute=0\nState=Delete\n"
        "[Scheduler Profile 2]\nName=Beta\nFrequency=One Time\nYear=2030\n"
        "Month=June\nDayOfMonth=1\nHour=12\nMinute=0\nState=Add\n")


# Wine's trace of the SetServiceStatus calls of the prefix's services (see
# tests/wine/wine_run.sh).
SERVICE_TRACE = os.environ.get("WINEPREFIX", "") + ".service-trace.log"
TRACED_REPORT = re.compile(r"trace:service:SetServiceStatus \S+" + r" (\w+)" * 7 + "$")


def trace_size():
    return os.path.getsize(SERVICE_TRACE) if os.path.exists(SERVICE_TRACE) else 0


def reports_since(offset):
    """(state, checkpoint, wait hint, controls, Win32 exit code) of every
    status report traced after `offset`."""
    with open(SERVICE_TRACE, "rb") as f:
        f.seek(offset)
        lines = f.read().decode(errors="replace").splitlines()
    reports = []
    for line in lines:
        match = TRACED_REPORT.search(line)
        if match:
            _, state, controls, win32, _, checkpoint, hint = (int(v, 0) for v in match.groups())
            reports.append((state, checkpoint, hint, controls, win32))
    return reports


def wine(*args, check=True, env=None):
    return subprocess.run([WINE_RUN, *args], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, check=check, env=env)


def control(command, check=False):
    return wine(os.path.join(BIN, "schedexe-control.exe"), command, SERVICE, check=check)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def status():
    out = control("query").stdout
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


def stop():
    control("stop")
    wait_state(1)


def wait_state(state, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if status().get("STATE") == str(state):
            return
        time.sleep(0.2)
    raise AssertionError(f"state {state} not reached: {status()}")


@unittest.skipUnless(BIN, "needs SCHEDEXE_BIN (the cross build's bin folder)")
class WineServiceTest(AgentFiles, unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="schedexe-wine-")
        self.client = os.path.join(self.root, "agent", "KVClient")
        self.data = os.path.join(self.root, "data")
        os.makedirs(self.client)
        os.makedirs(self.data)
        for program in ("DmiSetValue.exe", "wactivate.exe", "schedExe.exe"):
            shutil.copy(os.path.join(BIN, program), self.client)
        self.journal = os.path.join(self.client, "agent-journal.log")
        self.client_prefix = windows_path(self.client) + "\\"
        self.data_file = os.path.join(self.data, "tarn.dat")
        key = "HKLM\\SOFTWARE\\Corvane\\Teltrix"
        wine("reg", "add", key, "/v", "TTX Path", "/d",
             windows_path(os.path.join(self.root, "agent")), "/f")
        wine("reg", "add", key + "\\ZIZ2UDE", "/v", "DatsPath", "/d",
             windows_path(self.data), "/f")
        wine("sc", "create", SERVICE, "binpath=",
             windows_path(os.path.join(self.client, "schedExe.exe")))

    def tearDown(self):
        control("stop")
        wine("sc", "delete", SERVICE, check=False)
        shutil.rmtree(self.root, ignore_errors=True)

    def start_service(self):
        wine("net", "start", SERVICE)
        wait_state(4)

    def test_passes_reloads_and_a_signal_burst(self):
        self.write_data(DATA)
        self.start_service()
        self.wait_for_count(SYNCH)
        commands = self.commands()
        self.assertEqual(commands[:2], [deleted(1), keyed("Event Cat2 Table", 6, 0, 2)])
        self.assertEqual(commands[-3:], [active(2), UNCHANGED, SYNCH])
        self.assertIn("Number of Profiles=1\n", self.read_data())
        self.assertEqual(status()["CONTROLS"], "7")

        # Without the changed mark a reload sends only the synch trigger.
        self.write_data(DATA.replace("Changed=True\n", ""))
        before = len(commands)
        wine(os.path.join(BIN, "tarnsched-signal.exe"))
        self.wait_for_count(SYNCH, 2)
        self.assertEqual(self.commands()[before:], [SYNCH])

        # A thousand signals at once: at least one more reload, at most one
        # for each, and the service runs on.
        wine(os.path.join(BIN, "tarnsched-signal.exe"), "--times", "1000")
        self.wait_for_count(SYNCH, 3)
        time.sleep(1)
        self.assertLessEqual(self.commands().count(SYNCH), 1002)
        self.assertEqual(status()["STATE"], "4")
        stop()
        self.assertEqual(status()["WIN32_EXIT_CODE"], "0")

    def test_controls_in_any_order_and_stop_while_paused(self):
        self.write_data(DATA)
        offset = trace_size()
        self.start_service()
        start = [(2, 1, 5000, 0, 0), (2, 2, 1000, 0, 0), (4, 0, 0, 7, 0)]
        self.assertEqual(reports_since(offset), start)
        pause = [(6, 1, 1000, 7, 0), (7, 0, 0, 7, 0)]
        resume = [(5, 1, 1000, 7, 0), (4, 0, 0, 7, 0)]
        # Each control, the state afterwards and the reports it makes.
        # Continue while running, pause while paused and interrogate report
        # nothing. Shutdown is not sent: Wine's service manager refuses it
        # from a client (error 87, as Windows does: only the system sends it),
        # so it never reaches the handler here; the Linux end-to-end suite
        # and the handler's unit test check it.
        expected = start
        for command, state, reports in [
                ("continue", 4, []), ("interrogate", 4, []), ("pause", 7, pause),
                ("pause", 7, []), ("interrogate", 7, []),
                ("continue", 4, resume), ("pause", 7, pause)]:
            control(command)
            wait_state(state)
            time.sleep(0.3)
            expected = expected + reports
            self.assertEqual(reports_since(offset), expected, command)
        # Stop while paused: stop pending, then stopped with exit code 0; the
        # worker is not resumed.
        stop()
        self.assertEqual(reports_since(offset),
                         expected + [(3, 1, 5000, 7, 0), (1, 0, 0, 7, 0)])

    def test_event_fires_and_backup_profiles_start_the_command_tool(self):
        # ".\kvcmd" is looked for in the service's current folder, which Wine's
        # service manager makes C:\windows (Windows: C:\windows\system32); its
        # journal is beside it.
        folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows")
        kvcmd = os.path.join(folder, "kvcmd.exe")
        kvcmd_journal = os.path.join(folder, "agent-journal.log")
        shutil.copy(os.path.join(BIN, "kvcmd.exe"), kvcmd)
        self.addCleanup(lambda: [os.remove(p) for p in (kvcmd, kvcmd_journal)
                                 if os.path.exists(p)])
        # A wactivate that crashes: the firing goes on regardless.
        self.replace_program("wactivate.exe", "crashing-standin.exe")

        # Due at the start of a minute at least 20 s away.
        due = (datetime.datetime.now() + datetime.timedelta(seconds=80)).replace(
            second=0, microsecond=0)
        self.write_data(
            "[TARN Event Categories]\nNumber of Categories=2\nEventCat2=User Alarms\n"
            "[EventCat2 List]\nNumber of Cat2 Events=1\nCat2:1=Alpha\n"
            "[Scheduler Profiles]\nNumber of Profiles=1\n"
            f"[Scheduler Profile 1]\nName=Alpha\nFrequency=One Time\nYear={due.year}\n"
            f"Month={calendar.month_name[due.month]}\nDayOfMonth={due.day}\n"
            f"Hour={due.hour}\nMinute={due.minute}\nState=Active\n"
            "[Backup/Restore/Mirror Profiles]\nNumber of Profiles=2\n"
            "Profile1=Nightly\nProfile2=Weekly\n"
            "[Backup/Restore/Mirror Profile Nightly]\nPackage=4\n"
            "[Backup/Restore/Mirror Profile Weekly]\nPackage=4\n")
        self.start_service()
        self.wait_for(lambda: read_journal(kvcmd_journal, "") == [KVCMD, KVCMD], 30,
                      "two kvcmd starts")

        self.wait_for_count(activation(1), 1, timeout=150)
        self.wait_for_count(deleted(1))
        self.assertTrue(in_order(self.commands(), fired(1) + [activation(1)]),
                        self.commands())
        data = self.read_data()
        self.assertIn("[Event Cat2:1]\nEvent Status=True\n", data)
        self.assertIn(f"Minute={due.minute}\nState=Delete\n", data)
        self.assertEqual(status()["STATE"], "4")
        stop()

    def test_hanging_and_missing_agent_programs(self):
        self.write_data(DATA)
        # DmiSetValue hangs in the initial pass: controls are still answered.
        self.replace_program("DmiSetValue.exe", "hanging-standin.exe")
        self.start_service()
        self.wait_for_count(deleted(1))
        for command, state in [("pause", 7), ("continue", 4), ("pause", 7)]:
            control(command)
            wait_state(state)
        stop()
        self.assertEqual(status()["WIN32_EXIT_CODE"], "0")
        self.assertEqual(self.commands(), [deleted(1)])
        self.release_hanging_programs()

        # DmiSetValue missing: nothing is sent, yet the data file gets the
        # pass's changes, and reloads are served.
        self.replace_program("DmiSetValue.exe")
        self.write_data(DATA)
        self.start_service()
        self.wait_for(lambda: "Number of Profiles=1\n" in self.read_data(),
                      what="slot release")
        # The event exists once the pass has ended.
        self.wait_for(lambda: wine(os.path.join(BIN, "tarnsched-signal.exe"),
                                   check=False).returncode == 0, what="the reload event")
        self.wait_for(lambda: "Number of Profiles=0\n" in self.read_data(), what="reload")
        self.assertEqual(status()["STATE"], "4")
        stop()
        self.assertEqual(self.commands(), [deleted(1)])


@unittest.skipUnless(BIN and shutil.which("Xvfb"), "needs the cross build and Xvfb")
class WineForegroundTest(AgentFiles, unittest.TestCase):
    """"/d" keeps a hidden window; closing it from outside ends the process."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="schedexe-wine-fg-")
        self.client = os.path.join(self.root, "KVClient")
        os.makedirs(self.client)
        for program in ("DmiSetValue.exe", "schedExe.exe"):
            shutil.copy(os.path.join(BIN, program), self.client)
        self.journal = os.path.join(self.root, "journal.log")
        self.client_prefix = windows_path(self.client) + "\\"
        self.env = dict(os.environ, AGENT_JOURNAL=self.journal)
        # No data directory value: every run is the empty pass.
        key = "HKLM\\SOFTWARE\\Corvane\\Teltrix"
        wine("reg", "add", key, "/v", "TTX Path", "/d", windows_path(self.root), "/f")
        wine("reg", "delete", key + "\\ZIZ2UDE", "/f", check=False)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

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
            self.wait_for_count(SYNCH, passes)
            self.assertEqual(self.commands().count(SYNCH), passes, command_line)
            self.assertIsNone(p.poll())
            # The worker starts before the window exists: a fast pass can
            # end before the window is there to close.
            deadline = time.monotonic() + 30
            while True:
                closed = wine(os.path.join(BIN, "schedexe-control.exe"), "close-window",
                              SERVICE, check=False, env=self.env)
                if closed.returncode == 0 or time.monotonic() > deadline:
                    break
                time.sleep(0.5)
            self.assertEqual(closed.returncode, 0, closed.stderr)
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
            except OSError:
                continue
            if windows_path(self.root) in command or self.root in command:
                try:
                    os.kill(int(pid), 9)
                except OSError:
                    pass

    def test_foreground_mode_and_the_mode_choice(self):
        program = windows_path(os.path.join(self.client, "schedExe.exe"))
        # "/d x" is service mode: outside the service manager the dispatcher
        # call fails, and the program ends with 0.
        self.assertEqual(wine(program, "/d", "x", env=self.env).returncode, 0)
        self.assertEqual(self.commands(), [])
        self.run_foreground(f"{program} /d", 1)
        self.run_foreground(f"{program} /D", 2)
        self.run_foreground(f'"{program}" "/d"', 3)
        self.assertEqual(self.commands(), [UNCHANGED, SYNCH] * 3)


if __name__ == "__main__":
    unittest.main()
