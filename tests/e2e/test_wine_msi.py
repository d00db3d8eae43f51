"""schedexe-<version>.msi under Wine's msiexec, in a prefix of its own: a
refused install, then install, a major upgrade to a package built with the
next version, a repair, a second install of the same package and the
removal, each checked by what an operator would look at."""

import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import test_wine_service
from test_wine_service import AGENT_KEY, SERVICE_KEY, SOURCE_KEY, WINE_RUN

BIN = os.environ.get("SCHEDEXE_BIN", "")
VERSION = os.environ.get("SCHEDEXE_VERSION", "")
PREFIX = os.environ.get("WINEPREFIX", "")
SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "../.."))
DRIVE = os.path.join(PREFIX, "drive_c")
TTX = "C:\\Agent Folder"  # a blank, as in "Program Files"
CLIENT = TTX + "\\KVClient\\"
PROGRAMS = "C:\\Program Files\\schedExe\\"
PROFILE_TABLE = "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|Scheduler Profile Table|"


def wine(*args):
    return test_wine_service.wine(*args, check=False)


def host(path):
    return os.path.join(DRIVE, *path[3:].split("\\"))


def digest(path):
    with open(host(path), "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def agent_programs_running():
    """Whether a program of the agent's client folder runs in this prefix."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if b"\\KVClient\\" not in f.read():
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"WINEPREFIX={PREFIX}".encode() in f.read().split(b"\0"):
                    return True
        except OSError:
            continue
    return False


def build_package(version, out_dir, bin_dir=BIN):
    output = os.path.join(out_dir, f"schedexe-{version}.msi")
    return output, subprocess.run(
        [os.environ.get("CMAKE_COMMAND", "cmake"), f"-DVERSION={version}", f"-DOUTPUT={output}",
         f"-DBIN_DIR={bin_dir}", f"-DDATA_DIR={SOURCE}/data", f"-DSTAGE_DIR={out_dir}/{version}",
         f"-DSTRIP={os.environ.get('SCHEDEXE_STRIP', '')}",
         "-P", f"{SOURCE}/packaging/windows/build_msi.cmake"],
        capture_output=True, text=True, timeout=300)


class MsiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        # A fresh prefix: what an earlier run installed would change every step.
        subprocess.run([WINE_RUN, "--stop"], stdin=subprocess.DEVNULL, timeout=120)
        shutil.rmtree(PREFIX, ignore_errors=True)
        subprocess.run([WINE_RUN, "--start"], check=True, stdin=subprocess.DEVNULL, timeout=300)

    @classmethod
    def tearDownClass(cls):
        subprocess.run([WINE_RUN, "--stop"], stdin=subprocess.DEVNULL, timeout=120)
        cls.tmp.cleanup()

    def msiexec(self, name, *args, expect_success=True):
        """msiexec with a verbose log; its exit code checked, the log's tail
        shown when it is not the expected one; the time it took printed."""
        log = f"C:\\msi-{name}.log"
        started = time.monotonic()
        result = wine("msiexec", *args, "/qn", "/l*v", log)
        print(f"{name}: exit {result.returncode} in {time.monotonic() - started:.1f} s",
              flush=True)
        if (result.returncode == 0) != expect_success:
            tail = ""
            if os.path.exists(host(log)):
                with open(host(log), "rb") as f:
                    tail = "\n".join(f.read().decode(errors="replace").splitlines()[-40:])
            self.fail(f"msiexec {name}: exit {result.returncode}\n{result.stderr}\n{tail}")

    def service_state(self):
        out = wine(PROGRAMS + "schedexe-control.exe", "query", "schedExe").stdout
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line).get("STATE")

    def reg(self, key, *args):
        result = wine("reg", "query", key, *args)
        return result.stdout if result.returncode == 0 else None

    def service_process(self):
        """The service's process id as schedexe-timers reports it, once the
        service runs, its first pass is over and the programs the pass
        started have gone (a program ending may still hold its files)."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            out = wine(PROGRAMS + "schedexe-timers.exe").stdout
            match = re.search(r"running \(process (\d+)\)", out)
            if match and "3 queued" in out and "during a synchronisation pass" not in out \
                    and not agent_programs_running():
                return match.group(1)
            time.sleep(0.5)
        self.fail(f"no queue published: {out}")

    def test_install_upgrade_repair_and_removal(self):
        raised = re.sub(r"\d+$", lambda m: str(int(m.group()) + 1), VERSION)
        # The last one is a rebuild, with a product code of its own.
        packages = [build_package(v, os.path.join(self.tmp.name, str(i)))
                    for i, v in enumerate((VERSION, raised, raised))]
        for _, built in packages:
            self.assertEqual(built.returncode, 0, built.stderr)
        first, second, rebuilt = (package for package, _ in packages)
        empty = os.path.join(self.tmp.name, "empty")
        os.mkdir(empty)
        _, built = build_package(VERSION, self.tmp.name, empty)
        self.assertNotEqual(built.returncode, 0)
        self.assertIn(f"{empty}/schedExe.exe", built.stderr)
        print(f"package: {os.path.getsize(first)} bytes", flush=True)
        first, second, rebuilt = ("Z:" + p.replace("/", "\\") for p in (first, second, rebuilt))

        # A missing agent folder refuses the install before anything changes.
        os.makedirs(host("C:\\AgentData"))
        self.msiexec("missing-folder", "/i", first, "TTXPATH=C:\\Missing",
                     "DATSPATH=C:\\AgentData", expect_success=False)
        self.assertIsNone(self.reg(SERVICE_KEY))
        self.assertIsNone(self.reg(AGENT_KEY))
        for path in ("C:\\Missing", PROGRAMS):
            self.assertFalse(os.path.exists(host(path)), path)

        # The agent keeps a journal beside DmiSetValue, which the passes fill.
        os.makedirs(host(CLIENT))
        open(host(CLIENT + "agent-journal.log"), "w").close()
        shutil.copy(f"{SOURCE}/data/tarn.dat", host("C:\\AgentData\\tarn.dat"))
        self.msiexec("install", "/i", first, f"TTXPATH={TTX}", "DATSPATH=C:\\AgentData",
                     "LOGFILE=C:\\AgentData\\schedExe.log", "LOGLEVEL=info")
        self.assertEqual(self.service_state(), "4")
        image = re.search(r"ImagePath\s+REG_\w+\s+(.*)", self.reg(SERVICE_KEY)).group(1).strip()
        self.assertEqual(image, f'"{PROGRAMS}schedExe.exe"')
        self.assertIn("TypesSupported", self.reg(SOURCE_KEY))
        for name in ("dmiapi32.dll", "WDMI2API.DLL", "dmiprov.dll"):
            self.assertTrue(os.path.exists(host(PROGRAMS + name)), name)
        process = self.service_process()
        # The initial pass marked the data file's three profiles active.
        rows = wine(CLIENT + "dmitables.exe", "rows", PROFILE_TABLE).stdout
        self.assertEqual(len(re.findall(r"^[234] .* Active$", rows, re.M)), 3, rows)
        kept = {p: digest(p) for p in ("C:\\AgentData\\tarn.dat", CLIENT + "dmi-store.dat")}

        # The upgrade deletes and creates the service again: new programs, a
        # new process, the same Parameters, store and data file.
        self.msiexec("upgrade", "/i", second)
        self.assertEqual(self.service_state(), "4")
        self.assertNotEqual(self.service_process(), process)
        parameters = self.reg(SERVICE_KEY + "\\Parameters")
        self.assertRegex(parameters, r"LogFile\s+REG_SZ\s+C:\\AgentData\\schedExe.log")
        self.assertRegex(parameters, r"LogLevel\s+REG_SZ\s+info")
        self.assertEqual({p: digest(p) for p in kept}, kept)

        os.remove(host(PROGRAMS + "tarnprofile.exe"))
        self.msiexec("repair", "/i", second, "REINSTALL=ALL", "REINSTALLMODE=vomus")
        self.assertTrue(os.path.exists(host(PROGRAMS + "tarnprofile.exe")))
        # The same package again, and a rebuild of its version, which
        # replaces it: one product, its service running. Each waits for the
        # service's pass, whose DmiSetValue.exe cannot be replaced until then.
        for name, package in (("same-again", second), ("rebuilt", rebuilt)):
            self.service_process()
            self.msiexec(name, "/i", package)
        self.assertEqual(self.service_state(), "4")
        products = self.reg("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "/s")
        self.assertEqual(re.findall(r"DisplayVersion\s+REG_SZ\s+(\S+)", products or ""), [raised])

        self.service_process()
        self.msiexec("uninstall", "/x", rebuilt)
        self.assertIsNone(self.reg(SERVICE_KEY))
        self.assertIsNone(self.reg(SOURCE_KEY))
        if os.path.exists(host(PROGRAMS)):
            with open(host("C:\\msi-uninstall.log"), "rb") as f:
                said = [line for line in f.read().decode(errors="replace").splitlines()
                        if re.search(r"(?i)delet|in use|reboot|Remove|StopServices", line)]
            self.fail(f"left behind: {os.listdir(host(PROGRAMS))}\n" + "\n".join(said[-30:]))
        self.assertEqual(sorted(os.listdir(host(CLIENT))), ["agent-journal.log", "dmi-store.dat"])
        with open(host(CLIENT + "agent-journal.log")) as journal:
            self.assertIn("DmiSetValue", journal.read())
        self.assertEqual(digest("C:\\AgentData\\tarn.dat"), kept["C:\\AgentData\\tarn.dat"])
        agent = self.reg(AGENT_KEY, "/s")
        self.assertRegex(agent, r"TTX Path\s+REG_SZ\s+C:\\Agent Folder")
        self.assertRegex(agent, r"DatsPath\s+REG_SZ\s+C:\\AgentData")


if __name__ == "__main__":
    unittest.main()
