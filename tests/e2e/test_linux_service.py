"""schedExe end to end on Linux, driven as an operator would: a registry
file, a data file, the agent stand-ins, signals and systemd's notify socket."""

import os
import calendar
import contextlib
import json
import random
import re
import signal
import socket
import subprocess
import time
import unittest

from agent import (BIN, CLASS, KVCMD, MIX, PAUSE, RESUME, START, STOP, SYNCH, UNCHANGED, Agent,
                   Scenarios, activation, active, deleted, fired, in_order, notify_fields, profile,
                   read_journal, sanitizer_reports, status_reports, tarn, unexpected_reports,
                   wait)

SIGNALS = {"stop": signal.SIGTERM, "pause": signal.SIGTSTP, "continue": signal.SIGCONT,
           "interrogate": signal.SIGUSR1, "shutdown": signal.SIGUSR2}


def faketime():
    """libfaketime, preloaded into the service itself: the faketime wrapper
    would stand between the test's signals and the service. AddressSanitizer
    cannot start with it preloaded."""
    if os.environ.get("SCHEDEXE_SANITIZER") == "address":
        return None
    return next(filter(os.path.exists, ("/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
                                        "/usr/lib/faketime/libfaketime.so.1")), None)


class LinuxAgent(Agent):
    """The kvcmd stand-in journals to the same file: its lines are kept apart
    from the client folder's programs'."""

    def commands(self):
        return [line for line in super().commands() if line != KVCMD]


class ServiceTest(Scenarios, unittest.TestCase):
    # Shutdown too: Linux delivers it as a signal, and it reports nothing.
    CONTROL_STEPS = [("shutdown", [])] + Scenarios.CONTROL_STEPS

    def setUp(self):
        self.a = LinuxAgent()
        self.sanitizer_reports = sanitizer_reports()
        self.service_env = {}

    def tearDown(self):
        self.a.close()
        self.assertEqual(unexpected_reports(self.sanitizer_reports), [])

    def start_service(self):
        self.notify = self.a.notify_listener()
        self.p = self.a.start(NOTIFY_SOCKET=self.notify.path, **self.service_env)

    def control(self, name):
        self.p.send_signal(SIGNALS[name])

    def reports(self):
        return self.notify.reports()

    def running(self):
        return self.p.poll() is None

    def assert_ended(self):
        self.assertEqual(self.p.wait(timeout=30), 0)

    def kvcmd_commands(self):
        return [line for line in read_journal(self.a.journal, "") if line == KVCMD]

    def test_command_line_chooses_the_mode(self):
        a = self.a
        # No data directory value: every pass is the empty one (the change
        # mark reset and the synch trigger), and the program runs on.
        a.write_registry()
        # "/d x" is service mode: outside systemd the dispatcher fails at once.
        hint = ('schedExe: not started as a service (error 1063); "schedExe /d" runs the '
                'scheduler in the foreground')
        for args in (("/d", "x"), ()):
            self.assertEqual(a.start(*args).wait(timeout=30), 0, args)
            self.assertIn(hint, a.log())
            # A short usage follows: the two ways it runs, and where the log goes.
            self.assertIn("       schedExe /d   the scheduler in the foreground, until Ctrl-C or"
                          " its window closes", a.log())
            self.assertIn("The log goes to standard error (the journal under systemd: journalctl"
                          " -u schedexe),", a.log())
        self.assertEqual(a.commands(), [])
        # "/D" and a quoted "/d" are foreground mode, ended by either signal.
        p = a.start("/D")
        a.wait_for_count(SYNCH, 1)
        p.send_signal(signal.SIGTERM)
        self.assertEqual(p.wait(timeout=30), 0)
        # After a foreground run the failed dispatcher call is no news.
        self.assertNotIn(hint, a.log())
        # A line left over in the environment is not this process's own;
        # one sent to it is, quoted "/d" and all.
        self.assertEqual(a.start("/x", SCHEDEXE_CMDLINE="schedExe /d").wait(timeout=30), 0)
        p = a.start("/d", SCHEDEXE_CMDLINE=f'"{os.path.join(BIN, "schedExe")}" "/d"')
        a.wait_for_count(SYNCH, 2)
        p.send_signal(signal.SIGINT)
        self.assertEqual(p.wait(timeout=30), 0)
        self.assertEqual(a.commands(), [UNCHANGED, SYNCH] * 2)

    def test_one_scheduler_per_agent(self):
        # A second scheduler on the same agent waits before its initial
        # pass, naming the first; once the first is gone, even by kill -9,
        # it takes over.
        a = self.a
        first = a.start("/d")
        a.wait_for_count(SYNCH, 1)
        second = a.start("/d")
        a.wait_for_log(f"warning: another scheduler (process {first.pid}) serves this agent; "
                       "waiting until it ends")
        self.assertEqual(a.commands().count(SYNCH), 1)
        first.kill()
        first.wait(timeout=30)
        a.wait_for_log(f"notice: the other scheduler (process {first.pid}) has ended; "
                       "this one takes over")
        a.wait_for_count(SYNCH, 2)
        second.send_signal(signal.SIGTERM)
        self.assertEqual(second.wait(timeout=30), 0)

    def test_a_signal_sent_while_the_scheduler_starts(self):
        # The event exists only after the initial pass (held up here by a
        # DmiSetValue that hangs): a plain signal says a scheduler is
        # starting; one told to wait signals once the pass is over.
        a = self.a
        a.write_data(tarn(*MIX, changed=True))
        a.replace_program("DmiSetValue", "hanging-standin")
        service = a.start("/d")
        a.wait_for_count(active(2))
        command = [os.path.join(BIN, "tarnsched-signal")]
        run = subprocess.run(command, env=a.env(), capture_output=True, text=True, timeout=30)
        self.assertEqual(run.returncode, 1)
        self.assertIn(f"a scheduler (process {service.pid}) is starting", run.stderr)
        waiting = subprocess.Popen(command + ["--wait", "60"], env=a.env(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        a.release_hanging_programs()
        self.assertEqual(waiting.wait(timeout=90), 0)
        a.wait_for_log("notice: reload of ")
        service.send_signal(signal.SIGTERM)
        self.assertEqual(service.wait(timeout=30), 0)

    def assert_no_stop_lost(self, p, reports):
        """Ended within 10 s, by exit 0 or by the signal, and no running
        report after a stop-pending one."""
        self.assertIn(p.wait(timeout=10), (0, -signal.SIGTERM))
        states = [report[0] for report in reports()]
        if 3 in states:
            self.assertNotIn(4, states[states.index(3):], states)

    def test_a_stop_during_start_up_is_never_lost(self):
        a = self.a
        a.write_data(tarn(*MIX))
        delays = random.Random(12)
        for _ in range(300):
            listener = a.notify_listener()
            p = a.start(NOTIFY_SOCKET=listener.path)
            time.sleep(delays.uniform(0, 0.025))
            p.send_signal(signal.SIGTERM)
            self.assert_no_stop_lost(p, listener.reports)
            listener.close()
        # A notify socket with a full queue holds the first start-pending
        # report, so the stop lands inside start-up every time; it is served
        # once running has been reported.
        for run in range(3):
            path = os.path.join(a.root, f"full{run}.sock")
            with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as sink, \
                    socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as filler:
                sink.bind(path)
                filler.setblocking(False)
                with contextlib.suppress(BlockingIOError):
                    while True:
                        filler.sendto(b"filler", path)
                p = a.start(NOTIFY_SOCKET=path)
                time.sleep(0.3)
                p.send_signal(signal.SIGTERM)
                time.sleep(0.3)
                sink.settimeout(0.2)
                messages, deadline = [], time.monotonic() + 10
                while time.monotonic() < deadline:
                    try:
                        messages.append(notify_fields(sink.recv(4096).decode()))
                    except socket.timeout:
                        if p.poll() is not None:
                            break
                self.assert_no_stop_lost(p, lambda: status_reports(messages))
                self.assertEqual(status_reports(messages), START + STOP)

    def test_a_burst_of_controls(self):
        self.a.write_data(tarn(*MIX))
        self.start()
        # Pending signals merge and arrive in any order: whatever gets
        # through, every pause and continue is a complete, legal step.
        controls = ["pause", "continue", "interrogate", "shutdown"] * 50
        random.Random(7).shuffle(controls)
        for name in controls:
            self.control(name)
        time.sleep(1)
        self.stop()
        reports = self.reports()[len(START):-len(STOP)]
        state, steps = 4, {4: PAUSE, 7: RESUME}
        while reports:
            self.assertEqual(reports[:2], steps[state], self.reports())
            state, reports = reports[1][0], reports[2:]

    def test_status_says_what_the_scheduler_does(self):
        self.a.write_data(tarn(*MIX, changed=True))
        self.start()
        self.a.wait_for_count(SYNCH)

        def between():
            return [m for m in self.notify.messages() if "X_SCHEDEXE_STATE" not in m]

        queue = re.compile(r"RUNNING: \d+ events? queued, next '(Alpha|Beta|Gamma)' \(slot [123]\) at [-\d: ]+")
        wait(lambda: any(queue.fullmatch(m.get("STATUS", "")) for m in between()), 10,
             lambda: f"the queue in the status: {between()}")
        self.reload()
        wait(lambda: any("READY" in m for m in between()), 60, lambda: f"a reload: {between()}")
        messages = between()
        begin = next(i for i, m in enumerate(messages) if "RELOADING" in m)
        self.assertEqual(messages[begin]["STATUS"], "RUNNING: reloading the data file")
        self.assertGreater(int(messages[begin]["MONOTONIC_USEC"]), 0)
        self.assertTrue(any("READY" in m for m in messages[begin + 1:]), messages)
        self.stop()
        reports = [m["STATUS"] for m in self.notify.messages() if "X_SCHEDEXE_STATE" in m]
        self.assertEqual(reports[-1], "STOPPED: stopped")

    def test_dmisetvalue_says_in_one_line_what_failed(self):
        a = self.a
        table = CLASS + "Scheduler Profile Table|"

        def run(*args):
            return a.run(os.path.join(a.client, "DmiSetValue"), *args)
        # Before the tables are installed, the store is named, not the class.
        missing = run(table, "7", "x", "A1|2", "8")
        self.assertEqual(missing.returncode, 5, missing.stderr)
        self.assertRegex(missing.stderr, r"^DmiSetValue: no DMI store at \S*dmi-store.dat "
                         r"\(dmitables install makes one\)\n$")
        a.install_tables()
        for args, code, reason in [
                (("NOPE|", "7", "x", "", "8"), 5, "Class NOPE| not found"),
                ((table, "x7", "x", "A1|2", "8"), 6, "Invalid attribute id x7"),
                ((table, "7", "x", "A1|2", "-3"), 7, "Unknown type -3"),
                ((table, "7", "x" * 999, "A1|2", "8"), 8, "Set Failed, DMI error 0x")]:
            result = run(*args)
            self.assertEqual(result.returncode, code, result.stderr)
            self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
            self.assertIn(reason, result.stderr)
        self.assertEqual(len(a.commands()), 5)

    @unittest.skipUnless(faketime(), "needs libfaketime")
    def test_event_fires_and_fires_while_paused(self):
        a = self.a
        # Slot 1 one time at 10:20, slot 2 daily at 10:21; the clock starts
        # at 10:19:50. Timed waits run on the monotonic clock: only the wall
        # clock moves.
        daily = profile(2, "Beta", "Active", "Daily", hour=10, minute=21)
        a.write_data(tarn(profile(1, "alpha", "Add", "One Time", 2027, "April", 14, 10, 20), daily))
        self.service_env = dict(TZ="UTC", LD_PRELOAD=faketime(), FAKETIME="@2027-04-14 10:19:50",
                                FAKETIME_DONT_FAKE_MONOTONIC="1")
        self.start()
        a.wait_for_count(activation(1), 1, timeout=40)
        a.wait_for_count(deleted(1), 1)
        self.assertIn("Name=alpha\nFrequency=One Time\nYear=2027\nMonth=April\n"
                      "DayOfMonth=14\nDayOfWeek=Monday\nHour=10\nMinute=20\n"
                      "State=Delete\n", a.read_data())

        # Paused: slot 2 still fires at 10:21; the reload waits for continue.
        # Its wactivate crashes, and the firing goes on regardless.
        a.replace_program("wactivate", "crashing-standin")
        self.control("pause")
        self.wait_reports(len(START + PAUSE))
        a.write_data(tarn(daily, changed=True))
        a.signal_reload()
        a.wait_for_count(activation(2), 1, timeout=90)
        # Every run is told at the default level with how it ended (a
        # sanitizer turns the crash into its own exit code).
        a.wait_for_log('notice: fired slot 2 "Beta": ', "wactivate /category:2 /event:2 ",
                       " exit code " if os.environ.get("SCHEDEXE_SANITIZER") else
                       " ended by signal 11, ran ")
        self.assertTrue(in_order(a.commands(), fired(2) + [activation(2)]), a.commands())
        self.assertEqual(a.dmi_column("Event Cat2 Table", "FIRED")[3], "True")
        self.assertIn("[Event Cat2:2]\nEvent Status=True\n", a.read_data())
        # The initial pass and two firings; no reload yet.
        self.assertEqual((a.commands().count(SYNCH), a.commands().count(UNCHANGED)), (3, 1))
        self.control("continue")
        a.wait_for_count(UNCHANGED, 2)
        a.wait_for_count(SYNCH, 4)
        self.wait_reports(len(START + PAUSE + RESUME))
        self.stop()

    def timers(self, *args, **env):
        return subprocess.run([os.path.join(BIN, "schedexe-timers"), *args],
                              env=self.a.env(**env), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=30)

    def timers_json(self, *args):
        run = self.timers("--json", *args, **self.service_env)
        self.assertEqual(run.returncode, 0, run.stderr)
        view = json.loads(run.stdout)
        return view, {t["slot"]: t for t in view["timers"]}

    @unittest.skipUnless(faketime(), "needs libfaketime")
    def test_timers_view_before_during_and_after_the_service(self):
        a = self.a
        self.assertEqual(self.timers("--help").returncode, 0)
        for bad in (["--bogus"], ["--next"], ["--next", "0"], ["--next", "x"]):
            self.assertEqual(self.timers(*bad).returncode, 2, bad)
        a.write_data(tarn(profile(1, "Alpha", "Active", "Daily", hour=10, minute=20),
                          profile(2, "Beta", "Add", "Monthly", day=31, hour=9),
                          profile(3, "Gamma", "Delete"), profile(4, "Delta", "Add", "Irregular")))
        at = lambda text: calendar.timegm(time.strptime(text, "%Y-%m-%d %H:%M"))
        # One shifted clock for the service and the views: 10:19:50 now, a
        # minute earlier when a sanitizer slows the start down.
        lead = 70 if os.environ.get("SCHEDEXE_SANITIZER") else 10
        shift = at("2027-04-14 10:20") - lead - time.time()
        self.service_env = dict(TZ="UTC", LD_PRELOAD=faketime(), FAKETIME=f"{shift:+.3f}",
                                FAKETIME_DONT_FAKE_MONOTONIC="1")
        # Not running: what a start would queue, and nothing written or started.
        before = a.read_data()
        view, slots = self.timers_json("--next", "4")
        self.assertFalse(view["live"])
        self.assertEqual(slots["1"]["next"]["epoch"], at("2027-04-14 10:20"))
        # Set for the 31st in April: 1 May, then 30-day spans.
        self.assertEqual([f["epoch"] for f in slots["2"]["firings"]],
                         [at(d + " 09:00") for d in ("2027-05-01", "2027-05-31", "2027-06-30",
                                                     "2027-07-30")])
        self.assertEqual((slots["3"]["why_not"], slots["4"]["why_not"]),
                         ("deleted", "irregular events never run"))
        self.assertNotIn("6", slots)
        self.assertIn("6", self.timers_json("--all")[1])
        self.assertEqual((a.read_data(), a.commands()), (before, []))

        # Running: the live queue; slot 1's NEXT is when it really fires.
        self.start()
        a.wait_for_count(SYNCH, 1)
        view, slots = self.timers_json()
        self.assertEqual((view["live"], view["publisher_pid"]), (True, self.p.pid))
        self.assertTrue(slots["1"]["queued"] and slots["2"]["queued"])
        self.assertIsNone(slots["1"]["last"])
        a.wait_for_count(activation(1), 1, timeout=lead + 30)
        fired = at("2027-04-14 10:20")
        a.wait_for(lambda: self.timers_json()[1]["1"]["next"]["epoch"] == fired + 86400,
                   timeout=10, what="the daily event moved on")
        view, slots = self.timers_json()
        # Its start, which the timer makes within the second it is due.
        self.assertIn(slots["1"]["last"]["epoch"] - fired, (0, 1))
        self.assertIn("schedExe is running", self.timers(**self.service_env).stdout)

        # A killed service leaves nothing that counts as live.
        self.p.kill()
        self.p.wait(timeout=30)
        view, slots = self.timers_json()
        self.assertFalse(view["live"])
        self.assertIsNone(slots["1"]["last"])

    def test_log_says_what_is_wrong_at_start_up(self):
        a = self.a
        # No registry file at all: it is named, no data file.
        self.service_env = dict(SCHEDEXE_REGISTRY=os.path.join(a.root, "none.reg"))
        self.start_service()
        self.wait_reports(len(START))
        a.wait_for_log("error: registry: the registry file " + os.path.join(a.root, "none.reg") +
                       " is missing, so ", "DatsPath")
        a.wait_for_log("notice: data file: (none)")
        self.stop()
        # No DatsPath, then a garbled data file; DmiSetValue is missing. Under
        # the journal each line starts with its priority.
        a.write_registry(None)
        with open(a.registry, "a") as f:
            f.write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix\\ZIZ2UDE]\r\n")
        a.replace_program("DmiSetValue")
        with open(a.data_file, "wb") as f:
            f.write(bytes(range(256)) * 4)
        self.service_env = dict(journal=True)
        self.start_service()
        a.wait_for_log("<3>registry: cannot read", '"DatsPath"')
        self.wait_reports(len(START))
        a.wait_for_log("<3>the data file's folder cannot be read from the registry; retrying")
        a.write_registry(os.path.dirname(a.data_file))
        a.wait_for_log("<5>registry:", "DatsPath", "reads again")
        a.wait_for_log("<4>the data file names no category")
        a.wait_for_log("<3>cannot start ", "DmiSetValue", ": No such file or directory")
        a.wait_for_log("<5>initial pass of ", "0 queued, 0 updated, 0 deleted")
        # The data file unreadable (a folder), then gone.
        os.remove(a.data_file)
        os.mkdir(a.data_file)
        self.reload()
        a.wait_for_log("<3>cannot read data file " + a.data_file)
        os.rmdir(a.data_file)
        self.reload()
        a.wait_for_log("<3>data file " + a.data_file + " does not exist")
        self.stop()
        # Said once, without the follow-on of a file that reads as empty.
        self.assertEqual(sum("names no category" in line for line in a.log()), 1, a.log())
        self.assertTrue(all(line[:3] in ("<3>", "<4>", "<5>") for line in a.log()), a.log())

    def test_log_says_what_is_wrong_while_serving(self):
        a = self.a
        # Slot 1 fires 10 s after the start (room for a slow start-up on a
        # busy machine); slot 2 was due last year; slot 4 lies beyond a count
        # of 3; wactivate and DmiSetValue fail every time (tarnprofile in
        # their place: a usage error, 2).
        clock = faketime()
        a.write_data(tarn(profile(1, "Alpha", "Add", "One Time", 2027, "April", 14, 10, 20),
                          profile(2, "Beta", "Add", "One Time", 2026, "April", 14, 10, 20),
                          profile(3, "Gamma", "Add", "Weekly"), profile(4, "Delta", "Add"))
                     .replace("Number of Cat2 Events=5", "Number of Cat2 Events=3"))
        a.replace_program("wactivate", "tarnprofile")
        a.replace_program("DmiSetValue", "tarnprofile")
        self.service_env = dict(SCHEDEXE_LOG_LEVEL="info")
        if clock:
            self.service_env.update(TZ="UTC", LD_PRELOAD=clock, FAKETIME="@2027-04-14 10:19:50",
                                    FAKETIME_DONT_FAKE_MONOTONIC="1")
        self.start_service()
        self.wait_reports(len(START))
        a.wait_for_log("warning: slot 4 (Scheduler Profile 4): skipped: beyond",
                       '"Number of Cat2 Events" (3)')
        a.wait_for_log("warning: slot 2 was due at 2026-04-14 10:20:00: one-time event overdue,"
                       " deleted unrun")
        a.wait_for_log("warning: ", "DmiSetValue ", " ended with exit code 2")
        self.assertEqual([line for line in a.log() if "debug:" in line], [])
        if clock:
            a.wait_for_log('notice: firing slot 1 "Alpha" due 2027-04-14 10:20:00: '
                           "wactivate /category:2 /event:1")
            a.wait_for_log('notice: fired slot 1 "Alpha": ',
                           "KVClient\\wactivate /category:2 /event:1 exit code 2, ran ")
        # A hand edit without "Changed=True" is not acted on.
        a.write_data(a.read_data().replace("Frequency=Weekly", "Frequency=Daily"))
        self.reload()
        a.wait_for_log("notice: reload of ", "not marked")
        # A data folder that cannot be written: the release of the deleted
        # slot fails.
        a.write_data(tarn(profile(3, "Gamma", "Delete", "Weekly"), changed=True))
        folder = os.path.dirname(a.data_file)
        if subprocess.run(["chattr", "+i", folder], stderr=subprocess.DEVNULL).returncode:
            os.chmod(folder, 0o555)
        self.reload()
        a.wait_for_log("error: cannot write data file " + a.data_file, "[Event Cat2:3]",
                       "Operation not permitted")
        self.stop()

if __name__ == "__main__":
    unittest.main()
