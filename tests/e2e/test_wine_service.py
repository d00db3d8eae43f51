"""schedExe as a real service under Wine's service control manager: the
registry written with reg.exe, the service created and started with sc.exe
and net.exe, controls sent with schedexe-control, the agent journal beside
the DmiSetValue stand-in (a service does not inherit our environment)."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

BIN = os.environ.get("SCHEDEXE_BIN", "")
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../wine/wine_run.sh")
SERVICE = "schedExe"
SYNCH = 'DmiSetValue "CORVANEX|Remote Execution Triggers|" 16 "synch" "" 8'


def wine(*args, check=True):
    return subprocess.run([WINE_RUN, *args], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, check=check)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def status():
    out = wine(os.path.join(BIN, "schedexe-control.exe"), "query", SERVICE, check=False).stdout
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


def wait_state(state, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if status().get("STATE") == str(state):
            return
        time.sleep(0.2)
    raise AssertionError(f"state {state} not reached: {status()}")


@unittest.skipUnless(BIN, "needs SCHEDEXE_BIN (the cross build's bin folder)")
class WineServiceTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="schedexe-wine-")
        self.client = os.path.join(self.root, "agent", "KVClient")
        self.data = os.path.join(self.root, "data")
        os.makedirs(self.client)
        os.makedirs(self.data)
        for program in ("DmiSetValue.exe", "wactivate.exe", "schedExe.exe"):
            shutil.copy(os.path.join(BIN, program), self.client)
        self.journal = os.path.join(self.client, "agent-journal.log")
        key = "HKLM\\SOFTWARE\\Corvane\\Teltrix"
        wine("reg", "add", key, "/v", "TTX Path", "/d",
             windows_path(os.path.join(self.root, "agent")), "/f")
        wine("reg", "add", key + "\\ZIZ2UDE", "/v", "DatsPath", "/d",
             windows_path(self.data), "/f")
        wine("sc", "create", SERVICE, "binpath=",
             windows_path(os.path.join(self.client, "schedExe.exe")))

    def tearDown(self):
        wine(os.path.join(BIN, "schedexe-control.exe"), "stop", SERVICE, check=False)
        wine("sc", "delete", SERVICE, check=False)
        shutil.rmtree(self.root, ignore_errors=True)

    def commands(self):
        if not os.path.exists(self.journal):
            return []
        prefix = windows_path(self.client) + "\\"
        with open(self.journal, newline="") as f:
            lines = [line.rstrip("\r\n").split("\t", 1)[1] for line in f if "\t" in line]
        return [line[len(prefix):] if line.startswith(prefix) else line for line in lines]

    def wait_for(self, line, count=1, timeout=60.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.commands().count(line) >= count:
                return
            time.sleep(0.2)
        raise AssertionError(f"{count} x {line!r} not seen: {self.commands()}")

    def test_service_runs_its_passes_and_answers_controls(self):
        with open(os.path.join(self.data, "tarn.dat"), "w", newline="") as f:
            f.write("[TARN Event Categories]\r\nNumber of Categories=2\r\n"
                    "EventCat2=User Alarms\r\n[EventCat2 List]\r\n"
                    "Number of Cat2 Events=1\r\nChanged=True\r\nCat2:1=Alpha\r\n"
                    "[Scheduler Profile 1]\r\nName=Alpha\r\nFrequency=One Time\r\n"
                    "Year=2030\r\nMonth=June\r\nDayOfMonth=1\r\nHour=12\r\nState=Add\r\n")
        wine("net", "start", SERVICE)
        wait_state(4)
        self.wait_for(SYNCH)
        self.assertEqual(self.commands(), [
            'DmiSetValue "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|'
            'Scheduler Profile Table|" 7 "Active" "A1|2" 8',
            'DmiSetValue "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|'
            'EventCat2 List|" 2 "False" "A1|3" 8',
            SYNCH])
        self.assertEqual(status()["CONTROLS"], "7")

        control = os.path.join(BIN, "schedexe-control.exe")
        wine(control, "pause", SERVICE)
        wait_state(7)
        wine(control, "interrogate", SERVICE, check=False)
        self.assertEqual(status()["STATE"], "7")
        wine(control, "continue", SERVICE)
        wait_state(4)
        # A reload request reaches the running service through "TARNSCHED".
        wine(os.path.join(BIN, "tarnsched-signal.exe"))
        self.wait_for(SYNCH, 2)
        wine(control, "stop", SERVICE, check=False)
        wait_state(1)
        self.assertEqual(status()["WIN32_EXIT_CODE"], "0")


if __name__ == "__main__":
    unittest.main()
