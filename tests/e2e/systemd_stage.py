#!/usr/bin/env python3
"""The service as an operator gets it: the Debian package installed and run
by a real systemd, PID 1 of a container over this machine's own root made
volatile. The README's Linux install steps run as written there; then start,
status with the next event, the start's settle step, reload, stop, a restart
after kill -9, the warnings in the journal and a firing, with the shipped unit
and again with its hardening drop-in. Nothing of the host's /tmp, /run, /etc
or units is written: the stage checks that too.

Usage: tests/e2e/systemd_stage.py, as root, after the native build (the
README's steps package build/native). Exit 0 passed, 1 failed, 77 skipped:
the kernel refused the namespaces.

How systemd-nspawn runs here (Debian 12, PID 1 not systemd, cgroups a v1
hybrid, which serves as it is):
- It refuses --volatile=overlay on "/" itself: in a mount namespace of the
  stage's own, / is bind-mounted (without submounts) on a scratch folder, and
  /tmp and /run are fresh tmpfs, where nspawn keeps its state and the
  overlay's upper layer instead of on the host's.
- --register=no --keep-unit: no machined and no system bus here.
- --link-journal=no: the container has the host's machine id.
- --private-network: the host's services boot again in there; it boots to
  basic.target so that none of them runs.
- It has its own /dev/shm, where the scheduler's named objects live.
Commands inside are run through nsenter into the container's PID 1."""

import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import time

SOURCE = pathlib.Path(__file__).resolve().parents[2]
README = SOURCE / "README.md"
MACHINE = "schedexe-stage"
SCRATCH = "/tmp/schedexe-stage"  # in the stage's own /tmp only
ROOT = SCRATCH + "/root"
CONSOLE = SCRATCH + "/console.log"
AGENT_JOURNAL = "/opt/agent/KVClient/agent-journal.log"
DATA_FILE = "/var/lib/agent/tarn.dat"
# Where the host keeps what the stage must not write.
HOST_PATHS = ["/etc/systemd/system", "/etc/schedexe", "/usr/lib/systemd/system/schedexe.service",
              "/usr/bin/schedExe", "/opt/agent", "/var/lib/agent"]
# Folders where other programs of the host come and go: their names only.
HOST_FOLDERS = ["/run", "/run/systemd", "/tmp"]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def host_snapshot():
    """What the host keeps in HOST_PATHS (every file's type, size and time)
    and the names in HOST_FOLDERS; a change between two snapshots is a
    write."""
    seen = {}
    for top in HOST_PATHS:
        paths = [top] + [os.path.join(d, n) for d, ds, fs in os.walk(top) for n in ds + fs]
        for path in paths:
            try:
                st = os.lstat(path)
                seen[path] = (st.st_mode, st.st_size, st.st_mtime_ns)
            except FileNotFoundError:
                seen[path] = None
    for folder in HOST_FOLDERS:
        names = set(os.listdir(folder))
        # Other people's builds and tests use /tmp meanwhile: only the names
        # nspawn or this stage would leave.
        seen[folder] = sorted(n for n in names if folder != "/tmp" or re.search(
            "nspawn|schedexe-stage", n))
    return seen


def namespaces_refused():
    """The kernel's answer to the namespaces nspawn makes: None, or why not."""
    run = subprocess.run(["unshare", "--mount", "--uts", "--ipc", "--net", "--pid", "--fork",
                          "--cgroup", "true"], capture_output=True, text=True, timeout=30)
    return None if run.returncode == 0 else run.stderr.strip() or f"exit {run.returncode}"


class Container:
    """systemd booted in the stage's mount namespace; `sh` runs a bash
    script in it as root, with a clean environment."""

    def __init__(self):
        os.makedirs(ROOT)
        subprocess.run(["mount", "-n", "--bind", "/", ROOT], check=True)
        self.console = open(CONSOLE, "w")
        self.nspawn = subprocess.Popen(
            ["systemd-nspawn", "--quiet", "--directory", ROOT, "--volatile=overlay", "--boot",
             "--register=no", "--keep-unit", "--link-journal=no", "--private-network",
             "--console=passive", "--machine", MACHINE, "systemd.unit=basic.target"],
            stdin=subprocess.DEVNULL, stdout=self.console, stderr=subprocess.STDOUT)
        self.leader = None

    def boot(self, timeout=90):
        deadline = time.monotonic() + timeout
        ours = os.readlink("/proc/self/ns/pid")
        while self.leader is None:
            check(self.nspawn.poll() is None, "systemd-nspawn ended: " + self.console_tail())
            check(time.monotonic() < deadline, "the container did not start its PID 1")
            # nspawn's first child only makes the container's PID 1 and ends:
            # the one in a PID namespace of its own is PID 1.
            children = f"/proc/{self.nspawn.pid}/task/{self.nspawn.pid}/children"
            for pid in pathlib.Path(children).read_text().split():
                try:
                    if os.readlink(f"/proc/{pid}/ns/pid") != ours:
                        self.leader = int(pid)
                except FileNotFoundError:
                    pass
            time.sleep(0.1)
        while True:
            state = self.sh("systemctl is-system-running", check=False, echo=False).stdout.strip()
            if state in ("running", "degraded"):
                return state
            check(time.monotonic() < deadline, f"the container's systemd is {state!r}")
            time.sleep(0.2)

    def sh(self, script, check=True, timeout=120, echo=True, cwd="/", tail=None, title=None):
        env = ["env", "-i", "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
               "HOME=/root", "LANG=C.UTF-8", "TERM=dumb", "SYSTEMD_PAGER=", "SYSTEMD_COLORS=0",
               "DEBIAN_FRONTEND=noninteractive"]
        run = subprocess.run(["nsenter", "--target", str(self.leader), "--all", *env, "bash",
                              "-c", f"cd {cwd} && {script}"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                             timeout=timeout)
        if echo:
            print(f"$ {title or script}")
            # Without the progress of make and dpkg.
            shown = [line for line in run.stdout.splitlines()
                     if not re.match(r"\[ *\d+%\] Built target|\(Reading database \.\.\. \d", line)]
            for line in shown[-(tail or 0):]:
                print(f"  {line}")
        if check and run.returncode != 0:
            raise Failure(f"exit {run.returncode}: {script}")
        return run

    def console_tail(self):
        self.console.flush()
        return "".join(open(CONSOLE, errors="replace").readlines()[-20:])

    def stop(self):
        """A clean halt; a second SIGTERM makes nspawn end it at once."""
        for _ in range(2):
            if self.nspawn.poll() is None:
                self.nspawn.terminate()
                try:
                    self.nspawn.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    pass
        if self.nspawn.poll() is None:
            self.nspawn.kill()
            self.nspawn.wait(timeout=30)


def next_event_ahead(status):
    """Whether the status words name a next event, at a time to come."""
    found = re.search(r"RUNNING: \d+ events? queued, next '.+' \(slot \d+\) at "
                      r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)", status)
    return bool(found) and time.mktime(time.strptime(found[1], "%Y-%m-%d %H:%M:%S")) > time.time()


def readme_blocks():
    """The shell blocks of the README's Linux install steps: the install (the
    package's route of the two around "# or"), the once-only setup, and the
    hardening drop-in."""
    text = README.read_text()
    section = text[text.index("On Linux, as a systemd service"):text.index("## Changing schedules")]
    blocks = [b for b in re.findall(r"```\n(.*?)```", section, re.S)
              if re.search(r"^(sudo|cmake) ", b, re.M)]
    check(len(blocks) == 3, f"expected 3 install blocks in the README, found {len(blocks)}")
    lines = blocks[0].splitlines()
    split = lines.index("# or")
    blocks[0] = "\n".join(lines[:split - 1] + lines[split + 1:]) + "\n"
    return blocks


def readme_script(block):
    # The stage runs as root; where sudo is not installed its lines run as
    # they are without it.
    return ("command -v sudo >/dev/null || sudo() { \"$@\"; }\nset -ev\n" + block)


class Stage:
    def __init__(self, box):
        self.box = box
        self.round_start = None

    def unit(self, *props):
        out = self.box.sh(f"systemctl show schedexe -p {','.join(props)}", echo=False).stdout
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)

    def wait(self, what, predicate, timeout=30):
        deadline = time.monotonic() + timeout
        while not predicate():
            check(time.monotonic() < deadline, f"timed out after {timeout} s waiting for {what}")
            time.sleep(0.2)

    def journal(self, *options):
        return self.box.sh("journalctl -q --no-pager -o cat -u schedexe " +
                           f"--since=@{self.round_start} " + " ".join(options), echo=False).stdout

    def security(self):
        out = self.box.sh("systemd-analyze security --no-pager schedexe | tail -1").stdout
        return float(re.search(r"Overall exposure level for schedexe.service: ([\d.]+)", out)[1])

    def started_and_settled(self):
        """Running, an event ahead as the next in the status line, and the
        start's settle step done: it exited 0 and left the data file
        settled."""
        self.wait("the unit to be active",
                  lambda: self.unit("ActiveState")["ActiveState"] == "active")
        # Until the initial pass has queued the events: "no events queued".
        self.wait("a next event ahead in the status line", lambda: next_event_ahead(
            self.unit("StatusText")["StatusText"]), 20)
        self.box.sh("systemctl status --no-pager -n 0 schedexe")
        self.wait("the settle step after the start", lambda: "status=0" in
                  self.unit("ExecStartPost")["ExecStartPost"])
        post = self.unit("ExecStartPost")["ExecStartPost"]
        check("code=exited" in post and "settle --wait-for-start" in post, post)
        data = self.box.sh(f"cat {DATA_FILE}", echo=False).stdout
        check("Changed=False" in data and "State=Add" not in data,
              "the data file is not settled after the start")
        print("  settle after start: exited 0, data file at Changed=False")
        # The provider, through the links beside the installed program.
        check("DMI provider libraries (" not in self.journal(),
              "the service did not load the DMI provider libraries")

    def reload(self):
        pid = self.unit("MainPID")["MainPID"]
        passes = self.journal().count("nothing done")
        self.box.sh("systemctl reload schedexe")
        self.wait("the reload's pass in the journal",
                  lambda: self.journal().count("nothing done") > passes)
        check(self.unit("MainPID", "ActiveState") == {"MainPID": pid, "ActiveState": "active"},
              "the reload changed the main process")

    def warnings(self, *expected):
        """What `journalctl -p warning` shows since the round began: the
        `expected` lines, nothing else (a normal start warns of nothing)."""
        shown = self.journal("-p warning").splitlines()
        print("$ journalctl -p warning -u schedexe   (since the round began)")
        for line in shown or ["(none)"]:
            print(f"  {line}")
        faults = [line for line in shown if line not in expected]
        check(not faults, "unexpected warnings: " + "; ".join(faults))
        check(set(expected) <= set(shown), f"missing warnings: {expected}")

    def stop_and_start(self):
        self.box.sh("systemctl stop schedexe")
        stopped = {"ActiveState": "inactive", "Result": "success"}
        check(self.unit("ActiveState", "Result") == stopped,
              "the stop did not end the unit cleanly")
        self.box.sh("systemctl start schedexe")
        self.started_and_settled()

    def kill_9(self):
        before = self.unit("MainPID", "NRestarts")
        self.box.sh(f"kill -9 {before['MainPID']}")

        def restarted():
            now = self.unit("MainPID", "ActiveState", "NRestarts")
            return (now["ActiveState"] == "active"
                    and now["MainPID"] not in ("0", before["MainPID"])
                    and int(now["NRestarts"]) == int(before["NRestarts"]) + 1)

        self.wait("the restart after kill -9", restarted)
        print(f"  restarted: main process {before['MainPID']} -> {self.unit('MainPID')['MainPID']}")
        self.started_and_settled()
        # systemd's own word on the killed process, nothing of the service's.
        self.warnings("schedexe.service: Main process exited, code=killed, status=9/KILL",
                      "schedexe.service: Failed with result 'signal'.")

    def firing(self, name):
        """A One Time profile for a minute ahead, added as an operator would:
        it fires, the stand-in journals its command line, the log tells it."""
        journaled = len(self.box.sh(f"cat {AGENT_JOURNAL} 2>/dev/null || true",
                                    echo=False).stdout.splitlines())
        now = time.time()
        ahead = 60 + (8 if now % 60 > 52 else 0)
        # Not a minute of the example's own events (hourly at :15, 09:00,
        # Monday 08:30): one due within the two seconds after another
        # firing is found overdue and deleted unrun, as the service must.
        while time.localtime(now + ahead).tm_min in (0, 15, 30):
            ahead += 60
        due = time.localtime(now + ahead)
        self.box.sh(f"schedexe-profile add '{name}' --frequency 'One Time' --year {due.tm_year} "
                    f"--month {time.strftime('%B', due)} --day-of-month {due.tm_mday} "
                    f"--hour {due.tm_hour} --minute {due.tm_min}")
        left = time.mktime(due[:5] + (0,) + due[6:]) - time.time()
        print(f"  waiting {left:.0f} s for the firing")
        fired = re.compile(rf"fired slot \d+ \"{name}\": .*(wactivate /category:2 /event:\d+) "
                           r"exit code 0, ran [\d.]+ s")
        self.wait(f"the firing of '{name}'", lambda: fired.search(self.journal()), left + 30)
        command = fired.search(self.journal())[1]
        new = self.box.sh(f"cat {AGENT_JOURNAL}", echo=False).stdout.splitlines()[journaled:]
        check(any(line.endswith(command) for line in new), f"the stand-in journaled no {command}")
        # The fired one-time profile's slot is left at "Delete" for the next
        # pass; a stop before that lands would have the next start find it
        # overdue again.
        self.wait(f"'{name}' at State=Delete in the data file", lambda: re.search(
            rf"Name={name}\r?\n(?:\w+=.*\n)*?State=Delete", self.box.sh(
                f"cat {DATA_FILE}", echo=False).stdout))

    def round(self, label):
        """The operator's checks of one configuration of the unit, from a
        fresh start."""
        print(f"-- {label}: start, status, settle, reload, warnings")
        self.started_and_settled()
        self.reload()
        self.warnings()
        print(f"-- {label}: stop and start")
        self.stop_and_start()
        print(f"-- {label}: kill -9 of the main process")
        self.kill_9()
        print(f"-- {label}: a firing")
        self.firing(f"Stage {label}")

    def run(self):
        mounts = self.box.sh("for m in / /tmp /run /dev/shm; do findmnt -n -o TARGET,FSTYPE $m;"
                             " done; stat -c '/dev/shm device %d' /dev/shm").stdout.split()
        check(mounts[:8] == ["/", "overlay", "/tmp", "tmpfs", "/run", "tmpfs", "/dev/shm", "tmpfs"]
              and mounts[-1] != str(os.stat("/dev/shm").st_dev),
              "the container's /, /tmp, /run or /dev/shm are not its own")
        install, once, hardening = readme_blocks()
        print("-- the README's install steps, as written, in the source folder")
        started = time.monotonic()
        self.box.sh(readme_script(install), cwd=SOURCE, timeout=600, tail=30,
                    title="(the README's install block, package route)")
        self.round_start = int(time.time())
        out = self.box.sh(readme_script(once), cwd=SOURCE, timeout=300,
                          title="(the README's once-only block)").stdout
        check(re.search(r"Status: \"RUNNING: .*next '", out),
              "the README's status step shows no next event")
        print(f"   (install steps took {time.monotonic() - started:.0f} s)")
        self.round("shipped unit")
        plain = self.security()
        print("-- the README's hardening drop-in")
        self.round_start = int(time.time())
        self.box.sh(readme_script(hardening), cwd=SOURCE, title="(the README's drop-in block)")
        hardened = self.security()
        check(hardened < 4.0, f"exposure {hardened} with the drop-in, not below 4.0")
        self.round("hardened unit")
        print(f"systemd-analyze security schedexe: {plain} (shipped unit), "
              f"{hardened} (with hardening.conf)")


def diagnose(box):
    if box.leader:
        for script in ("systemctl status --no-pager -l schedexe", "journalctl -q --no-pager -n 60"):
            try:
                box.sh(script, check=False, timeout=30)
            except subprocess.TimeoutExpired:
                print(f"$ {script}: timed out")
    print("-- systemd-nspawn's own output, last lines:\n" + box.console_tail())


def inside():
    """In the stage's own mount namespace: fresh /tmp and /run, the container,
    the checks, and the container halted whatever happened."""
    # -n: mount would record its mounts in the host's /run/mount/utab.
    for path, mode in (("/tmp", "1777"), ("/run", "755")):
        subprocess.run(["mount", "-n", "-t", "tmpfs", "-o", f"mode={mode}", "tmpfs", path],
                       check=True)
    # The outer process ends a stage that overruns with SIGTERM: the
    # container is halted all the same.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("FAILED: the stage was ended"))
    box = Container()
    try:
        print(f"-- container booted: {box.boot()}")
        Stage(box).run()
        return 0
    except (Failure, subprocess.TimeoutExpired, subprocess.CalledProcessError) as e:
        print(f"FAILED: {e}")
        diagnose(box)
        return 1
    finally:
        box.stop()


def main():
    sys.stdout.reconfigure(line_buffering=True)
    if os.environ.get("SCHEDEXE_STAGE_INSIDE"):
        return inside()
    if os.geteuid() != 0:
        os.execvp("sudo", ["sudo", sys.executable, *sys.argv])
    refused = namespaces_refused()
    if refused:
        print(f"SKIPPED: the kernel refuses the container's namespaces: {refused}")
        return 77
    for program in ("systemd-nspawn", "nsenter"):
        check(shutil.which(program), f"{program} is not installed")
    started, before = time.monotonic(), host_snapshot()
    stage = subprocess.Popen(["unshare", "--mount", "--propagation", "private", sys.executable,
                              "-u", __file__], env=dict(os.environ, SCHEDEXE_STAGE_INSIDE="1"))
    try:
        rc = stage.wait(timeout=900)
    except subprocess.TimeoutExpired:
        stage.terminate()
        rc = stage.wait(timeout=120) or 1
    changed = {p for p, v in host_snapshot().items() if before.get(p) != v}
    if changed:
        print("FAILED: the host changed under " + ", ".join(sorted(changed)))
        rc = rc or 1
    else:
        print("host untouched: " + ", ".join(HOST_PATHS + HOST_FOLDERS))
    outcome = "passed" if rc == 0 else "FAILED"
    print(f"systemd stage {outcome} in {time.monotonic() - started:.0f} s")
    return rc


if __name__ == "__main__":
    sys.exit(main())
