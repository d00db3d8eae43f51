"""The Debian package, unpacked into a scratch root: the files where the
README says, no maintainer script that would enable or start anything, and a
unit that systemd-analyze accepts without a warning."""

import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest

BUILD = os.environ.get("SCHEDEXE_BUILD", os.path.join(os.path.dirname(__file__),
                                                      "../../build/native"))
README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


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
        cls.addClassCleanup(shutil.rmtree, cls.scratch)
        subprocess.run(["cpack", "-G", "DEB", "-B", cls.scratch,
                        "--config", os.path.join(BUILD, "CPackConfig.cmake")],
                       check=True, stdout=subprocess.DEVNULL)
        cls.deb = next(pathlib.Path(cls.scratch).glob("schedexe_*.deb"))
        cls.root = pathlib.Path(cls.scratch, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)
        # As unpacked, before a test runs the programs in it.
        cls.unpacked = {"/" + str(p.relative_to(cls.root)): p for p in cls.root.rglob("*")
                        if p.is_file() or p.is_symlink()}

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

    @unittest.skipUnless(shutil.which("systemd-analyze"), "needs systemd-analyze")
    def test_systemd_accepts_the_unit_without_a_warning(self):
        unit = (self.root / "usr/lib/systemd/system/schedexe.service").read_text()
        # The program as unpacked here: verify checks that it can be run.
        checked = pathlib.Path(self.scratch, "schedexe.service")
        checked.write_text(unit.replace("ExecStart=/", f"ExecStart={self.root}/")
                           .replace("ExecStartPost=-/", f"ExecStartPost=-{self.root}/"))
        # verify leaves a stamp in /run/systemd: it gets a /run of its own,
        # so that the host's stays as it was.
        private_run = ["unshare", "--mount", "--propagation", "private"]
        if os.geteuid() != 0:
            private_run.append("--map-root-user")
        if subprocess.run(private_run + ["true"], capture_output=True).returncode != 0:
            self.skipTest("the kernel refuses a mount namespace")
        run = subprocess.run(private_run + [
            "sh", "-c", 'mount -n -t tmpfs tmpfs /run && exec systemd-analyze verify "$1"', "sh",
            checked], capture_output=True, text=True)
        # What the unit does is checked live, under systemd (systemd_stage.py).
        self.assertEqual((run.returncode, run.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main()
