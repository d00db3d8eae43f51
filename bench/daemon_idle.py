#!/usr/bin/env python3
"""Idle cost of the Linux daemon with twelve events queued, against the cron
daemon (`apt install cron`) running beside it at the same time: PSS, private
memory and RSS (/proc/PID/smaps_rollup) as ratios schedExe / cron, and the
context switches of all threads of each over a quiet spell (the daemon's
goal is none).

The daemon runs as installed: a DMI store made by `dmitables install` of the
agent's tables, DmiSetValue and the provider libraries in the client folder,
and links to the libraries beside schedExe, which loads them at start-up.
Given several bin folders (before and after a change), the rounds take them
in turn, so that each ratio meets the same machine; each prints
min / median / max over the rounds.

Usage: bench/daemon_idle.py [--rounds N] [--seconds S] [bin folder ...]
(default one folder, build/native/bin; 5 rounds; 20 s)"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TABLES = os.path.join(HERE, "../data/agent-tables.dmd")
LIBRARIES = ("dmiapi32.dll", "WDMI2API.DLL", "dmiprov.dll")
# The group the initial pass ends with: "synch" lands there when
# DmiSetValue reached the provider.
TRIGGERS = "CORVANEX|Remote Execution Triggers|"
# Shared objects that a program of only libc should not map.
RUNTIMES = ("libstdc++", "libgcc_s", "libm.so")


def rollup(pid):
    """KiB of (PSS, private, RSS)."""
    fields = {}
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 2 and parts[1].isdigit():
                fields[parts[0].rstrip(":")] = int(parts[1])
    return (fields["Pss"], fields["Private_Clean"] + fields["Private_Dirty"], fields["Rss"])


def switches(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                total += sum(int(line.split()[1]) for line in f if "ctxt_switches" in line)
        except FileNotFoundError:
            pass  # a thread that ended
    return total


def mapped(pid):
    with open(f"/proc/{pid}/maps") as f:
        return {os.path.basename(line.split()[-1]) for line in f if "/" in line}


def install(bin_dir, root):
    """The installed layout under root; returns (program, environment, journal)."""
    client = os.path.join(root, "agent", "KVClient")
    data = os.path.join(root, "data")
    programs = os.path.join(root, "bin")
    for d in (client, data, programs):
        os.makedirs(d)
    for name in ("DmiSetValue", "dmitables") + LIBRARIES:
        if os.path.exists(os.path.join(bin_dir, name)):
            shutil.copy(os.path.join(bin_dir, name), client)
            if name in LIBRARIES:
                os.symlink(os.path.join(client, name), os.path.join(programs, name))
    shutil.copy(os.path.join(bin_dir, "schedExe"), programs)
    lines = ["[TARN Event Categories]", "Number of Categories=2", "EventCat2=User Alarms",
             "[EventCat2 List]", "Number of Cat2 Events=12"]
    lines += [f"Cat2:{i}=Event{i}" for i in range(1, 13)]
    lines += ["[Scheduler Profiles]", "Number of Profiles=12"]
    # Daily events later today, none of them due while the bench runs (an
    # hour already past would have the daemon move each one on as overdue).
    hour = min(time.localtime().tm_hour + 1, 23)
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
    env = dict(os.environ, SCHEDEXE_REGISTRY=registry, AGENT_JOURNAL=journal,
               SCHEDEXE_LOG_LEVEL="info")
    for name in ("NOTIFY_SOCKET", "DMI_STORE", "LD_LIBRARY_PATH"):
        env.pop(name, None)
    subprocess.run([os.path.join(client, "dmitables"), "install", TABLES], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    # On disk, as installed programs are: pages of a file still being written
    # back cannot leave memory.
    os.sync()
    return os.path.join(programs, "schedExe"), env, journal


def synch_stored(root, env):
    rows = subprocess.run([os.path.join(root, "agent", "KVClient", "dmitables"), "rows",
                           TRIGGERS], env=env, capture_output=True, text=True).stdout
    return "synch" in rows.split()


def one_round(bin_dir, quiet_seconds):
    """(schedExe's and cron's (PSS, private, RSS), their switches, notes)."""
    root = tempfile.mkdtemp(prefix="schedexe-idle-")
    cron = daemon = None
    try:
        program, env, journal = install(bin_dir, root)
        log = open(os.path.join(root, "schedExe.log"), "w")
        cron = subprocess.Popen([shutil.which("cron"), "-f"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        daemon = subprocess.Popen([program, "/d"], cwd=root, env=env, stdin=subprocess.DEVNULL,
                                  stdout=log, stderr=log)
        deadline = time.monotonic() + 60
        while not (os.path.exists(journal) and "synch" in open(journal).read()):
            if time.monotonic() > deadline or daemon.poll() is not None:
                sys.exit(f"{bin_dir}: the daemon did not finish its initial pass")
            time.sleep(0.1)
        time.sleep(2)
        for p, name in ((cron, "cron"), (daemon, "schedExe")):
            if p.poll() is not None:
                sys.exit(f"{name} ended early (another cron running?)")
        before = (switches(daemon.pid), switches(cron.pid))
        time.sleep(quiet_seconds)
        woke = (switches(daemon.pid) - before[0], switches(cron.pid) - before[1])
        ours, theirs = rollup(daemon.pid), rollup(cron.pid)
        maps = mapped(daemon.pid)
        notes = {
            "provider": all(name in maps for name in LIBRARIES[:2]),
            "runtimes": sorted(m for m in maps if m.startswith(RUNTIMES)),
            "stored": synch_stored(root, env),
        }
        return ours, theirs, woke, notes
    finally:
        for p in (daemon, cron):
            if p and p.poll() is None:
                p.terminate()
                p.wait()
        shutil.rmtree(root, ignore_errors=True)


def spread(values, digits=2):
    return "/".join(f"{v:.{digits}f}" for v in (min(values), statistics.median(values),
                                                 max(values)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bins", nargs="*", default=[os.path.join(HERE, "../build/native/bin")])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seconds", type=int, default=20)
    args = parser.parse_args()
    if not shutil.which("cron"):
        sys.exit("cron is the yardstick: apt install cron")
    bins = [os.path.abspath(b) for b in args.bins]
    results = {b: [] for b in bins}
    for r in range(args.rounds):
        # Each round in the other order, so no folder always goes first.
        for b in (bins if r % 2 == 0 else bins[::-1]):
            results[b].append(one_round(b, args.seconds))
    print(f"idle daemon, 12 events queued, beside cron -f; {args.rounds} rounds, "
          "ratios schedExe / cron as min/median/max")
    for b in bins:
        runs = results[b]
        ratio = [[o[i] / t[i] for o, t, _, _ in runs] for i in range(3)]
        kib = [[o[i] for o, _, _, _ in runs] for i in range(3)]
        cron_kib = [[t[i] for _, t, _, _ in runs] for i in range(3)]
        notes = [n for _, _, _, n in runs]
        print(f"{b}:")
        for i, name in enumerate(("PSS", "private", "RSS")):
            print(f"  {name:8} {spread(ratio[i])}   schedExe {spread(kib[i], 0)} KiB, "
                  f"cron {spread(cron_kib[i], 0)} KiB")
        print(f"  wake-ups in {args.seconds} s: schedExe "
              f"{spread([w[0] for _, _, w, _ in runs], 0)}, "
              f"cron {spread([w[1] for _, _, w, _ in runs], 0)} (goal 0)")
        print(f"  provider loaded in {sum(n['provider'] for n in notes)}/{len(notes)} rounds, "
              f"DmiSetValue's sets stored in {sum(n['stored'] for n in notes)}; "
              f"C++ runtime mapped: {sorted({r for n in notes for r in n['runtimes']}) or 'none'}")


if __name__ == "__main__":
    main()
