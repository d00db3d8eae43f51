"""The Debian package, unpacked into a scratch root: the files where the
README says, no maintainer script that would enable or start anything, a unit
that systemd-analyze accepts without a warning, and DMI programs that work
from the agent's client folder as installed."""

import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest

from agent import DESCRIPTION

BUILD = os.environ.get("SCHEDEXE_BUILD", os.path.join(os.path.dirname(__file__),
                                                      "../../build/native"))
README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
TABLE = "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|Scheduler Profile Table|"


def readme_files():
    """The package's files, as the README's install section lists them; a
    symbolic link as `path -> target`."""
    text = README.read_text()
    block = re.search(r"The package installs:\n\n```\n(.*?)```", text, re.S).group(1)
    return dict((line.split(" -> ") + [None])[:2] for line in block.strip().splitlines())


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="schedexe-package-")
        subprocess.run(["cpack", "-G", "DEB", "-B", cls.scratch,
                        "--config", os.path.join(BUILD, "CPackConfig.cmake")],
                       check=True, stdout=subprocess.DEVNULL)
        cls.deb = next(pathlib.Path(cls.scratch).glob("schedexe_*.deb"))
        cls.root = pathlib.Path(cls.scratch, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)
        # As unpacked, before a test runs the programs in it.
        cls.unpacked = {"/" + str(p.relative_to(cls.root)): p for p in cls.root.rglob("*")
                        if p.is_file() or p.is_symlink()}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch)

    def test_files_where_the_readme_says_and_nothing_run_on_install(self):
        listed, unpacked = readme_files(), self.unpacked
        self.assertEqual(sorted(unpacked), sorted(listed))
        for path, target in listed.items():
            if target:
                self.assertEqual(os.readlink(unpacked[path]), target)
        control = subprocess.run(["dpkg-deb", "-I", self.deb], check=True, capture_output=True,
                                 text=True).stdout
        for script in ("preinst", "postinst", "prerm", "postrm"):
            self.assertNotIn(script, control)
        unit = (self.root / "usr/lib/systemd/system/schedexe.service").read_text()
        for line in ("ExecStart=/usr/bin/schedExe", "WorkingDirectory=/opt/agent/KVClient",
                     "Type=notify", "Restart=on-failure",
                     "ExecStartPost=-/usr/bin/schedexe-profile --timeout 60 settle --wait-for-start"):
            self.assertIn(line + "\n", unit)

    @unittest.skipUnless(shutil.which("systemd-analyze"), "needs systemd-analyze")
    def test_systemd_accepts_the_unit_without_a_warning(self):
        unit = (self.root / "usr/lib/systemd/system/schedexe.service").read_text()
        # The program as unpacked here: verify checks that it can be run.
        checked = pathlib.Path(self.scratch, "schedexe.service")
        checked.write_text(unit.replace("ExecStart=/", f"ExecStart={self.root}/")
                           .replace("ExecStartPost=-/", f"ExecStartPost=-{self.root}/"))
        run = subprocess.run(["systemd-analyze", "verify", checked], capture_output=True,
                             text=True)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        # With the shipped drop-in applied the unit is still valid and well
        # confined: an exposure below 4 of 10.
        hardening = (self.root / "usr/share/schedexe/hardening.conf").read_text()
        checked.write_text(checked.read_text() + hardening)
        run = subprocess.run(["systemd-analyze", "verify", checked], capture_output=True,
                             text=True)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        run = subprocess.run(["systemd-analyze", "security", "--offline=true", checked],
                             capture_output=True, text=True)
        exposure = float(re.search(r"Overall exposure level for \S+: ([\d.]+)", run.stdout)[1])
        self.assertLess(exposure, 4.0, run.stdout)

    def test_dmi_programs_work_from_the_installed_client_folder(self):
        agent = self.root / "opt/agent"
        registry = pathlib.Path(self.scratch, "registry.reg")
        example = (self.root / "usr/share/schedexe/registry.reg").read_text()
        registry.write_text(example.replace('"/opt/agent"', f'"{agent}"'))
        env = dict(os.environ, SCHEDEXE_REGISTRY=str(registry))
        env.pop("DMI_STORE", None)
        client = agent / "KVClient"

        def run(*args):
            return subprocess.run([client / args[0], *args[1:]], env=env, capture_output=True,
                                  text=True, timeout=60)

        description = self.root / "usr/share/schedexe/agent-tables.dmd"
        self.assertEqual(description.read_bytes(), pathlib.Path(DESCRIPTION).read_bytes())
        self.assertEqual(run("dmitables", "install", description).returncode, 0)
        self.assertEqual(run("DmiSetValue", TABLE, "7", "Active", "A1|2", "8").returncode, 0)
        rows = run("dmitables", "rows", TABLE)
        self.assertEqual(rows.returncode, 0, rows.stderr)
        self.assertIn("Active", rows.stdout)
        # The store the service's DmiSetValue writes is the client folder's.
        self.assertTrue((client / "dmi-store.dat").exists())


if __name__ == "__main__":
    unittest.main()
