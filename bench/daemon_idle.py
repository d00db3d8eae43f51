#!/usr/bin/env python3
"""Idle cost of the Linux daemon with twelve events queued: resident memory
as a ratio against the cron daemon started by this script (the yardstick;
`apt install cron`), or against `sleep` when cron is not installed, and the
context switches of all its threads over a quiet minute (the goal is none).

Usage: bench/daemon_idle.py [bin folder] [seconds]"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

BIN = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "../build/native/bin")
QUIET_SECONDS = int(sys.argv[2]) if len(sys.argv) > 2 else 60


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def switches(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/status") as f:
            total += sum(int(line.split()[1]) for line in f if "ctxt_switches" in line)
    return total


def baseline():
    """(name, RSS in KiB) of the yardstick, started and ended here."""
    cron = shutil.which("cron")
    command = [cron, "-f"] if cron else ["sleep", "30"]
    p = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    try:
        time.sleep(2)
        return ("cron" if cron else "sleep"), rss_kib(p.pid)
    finally:
        p.kill()
        p.wait()


def main():
    root = tempfile.mkdtemp(prefix="schedexe-idle-")
    try:
        client = os.path.join(root, "agent", "KVClient")
        data = os.path.join(root, "data")
        os.makedirs(client)
        os.makedirs(data)
        shutil.copy(os.path.join(BIN, "DmiSetValue"), client)
        lines = ["[TARN Event Categories]", "Number of Categories=2", "EventCat2=User Alarms",
                 "[EventCat2 List]", "Number of Cat2 Events=12"]
        lines += [f"Cat2:{i}=Event{i}" for i in range(1, 13)]
        lines += ["[Scheduler Profiles]", "Number of Profiles=12"]
        # Daily events, none of them due in the next minute.
        hour = (time.localtime().tm_hour + 12) % 24
        for i in range(1, 13):
            lines += [f"[Scheduler Profile {i}]", f"Name=Event{i}", "Frequency=Daily",
                      f"Hour={hour}", f"Minute={i}", "State=Active"]
        with open(os.path.join(data, "tarn.dat"), "w") as f:
            f.write("\n".join(lines) + "\n")
        registry = os.path.join(root, "registry.reg")
        with open(registry, "w") as f:
            f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix]\n"
                    f'"TTX Path"="{os.path.join(root, "agent")}"\n\n'
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix\\ZIZ2UDE]\n"
                    f'"DatsPath"="{data}"\n')
        journal = os.path.join(root, "journal.log")
        env = dict(os.environ, SCHEDEXE_REGISTRY=registry, AGENT_JOURNAL=journal)
        env.pop("NOTIFY_SOCKET", None)
        p = subprocess.Popen([os.path.join(BIN, "schedExe"), "/d"], cwd=root, env=env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                if os.path.exists(journal) and "synch" in open(journal).read():
                    break
                time.sleep(0.1)
            else:
                sys.exit("the daemon did not finish its initial pass")
            time.sleep(2)
            before = switches(p.pid)
            time.sleep(QUIET_SECONDS)
            woke = switches(p.pid) - before
            ours = rss_kib(p.pid)
        finally:
            p.terminate()
            p.wait()
        name, theirs = baseline()
        print(f"idle daemon, 12 events queued: VmRSS {ours / 1024:.2f} MiB, "
              f"{ours / theirs:.2f} x {name} ({theirs / 1024:.2f} MiB, same run)")
        print(f"context switches of all its threads in {QUIET_SECONDS} s: {woke} (goal 0)")
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
