"""schedExe end to end on Linux, driven as an operator would: a registry
file, a data file, the agent stand-ins, signals and systemd's notify socket."""

import os
import random
import signal
import subprocess
import time
import unittest

from agent import (BIN, KVCMD, Agent, SYNCH, UNCHANGED, activation,
                   active, deleted, fired, in_order, release, sanitizer_reports,
                   unexpected_reports)

LIST = """[TARN Event Categories]
Number of Categories=2
EventCat1=System Alarms
EventCat2=User Alarms

[EventCat2 List]
Number of Cat2 Events=5
{changed}Cat2:1=Alpha
Cat2:2=Beta
Cat2:3=Gamma
Cat2:4=Delta
Cat2:5=Epsilon
Cat2:6=Unused
Cat2:7=!unused!
Cat2:8=Unused
Cat2:9=Unused
Cat2:10=Unused
Cat2:11=Unused
Cat2:12=Unused

[Scheduler Profiles]
Number of Profiles=5
"""


def profile(slot, name, state, frequency="One Time", year=2030, month="June",
            day=1, hour=12, minute=0):
    return (f"\n[Scheduler Profile {slot}]\nName={name}\nFrequency={frequency}\n"
            f"Year={year}\nMonth={month}\nDayOfMonth={day}\nDayOfWeek=Monday\n"
            f"Hour={hour}\nMinute={minute}\nState={state}\n")


MIX = (profile(1, "Alpha", "Active") + profile(2, "Beta", "Add", "Weekly") +
       profile(3, "Gamma", "update", "Monthly") + profile(4, "Delta", "Delete") +
       profile(5, "Epsilon", ""))


def faketime():
    """libfaketime, preloaded into the service itself: the faketime wrapper
    would stand between the test's signals and the service. AddressSanitizer
    cannot start with it preloaded."""
    if os.environ.get("SCHEDEXE_SANITIZER") == "address":
        return None
    for path in ("/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
                 "/usr/lib/faketime/libfaketime.so.1"):
        if os.path.exists(path):
            return path
    return None


class ServiceTest(unittest.TestCase):
    def setUp(self):
        self.agent = Agent()
        self.reports = sanitizer_reports()

    def tearDown(self):
        self.agent.close()
        self.assertEqual(unexpected_reports(self.reports), [])

    def end(self, p, sig=signal.SIGTERM):
        """Sends `sig` and expects the process to end with exit code 0."""
        p.send_signal(sig)
        self.assertEqual(p.wait(timeout=30), 0)

    def test_initial_pass_and_reloads_in_foreground_mode(self):
        a = self.agent
        a.write_data(LIST.format(changed="Changed=True\n") + MIX)
        p = a.start("/d")
        a.wait_for_count(SYNCH, 1)
        initial = [active(2), active(3), deleted(4), *release(4, 5, 5), UNCHANGED, SYNCH]
        self.assertEqual(a.commands(), initial)
        data = a.read_data()
        self.assertIn("Number of Cat2 Events=4\n", data)
        self.assertIn("Number of Profiles=4\n", data)
        self.assertIn("[Event Cat2:4]\nUser Changable=\n", data)

        # "Changed" still reads True: the reload handles the profiles again,
        # and the deleted slot is released once more with the new counts.
        a.signal_reload()
        a.wait_for_count(SYNCH, 2)
        self.assertEqual(a.commands()[len(initial):],
                         [active(2), active(3), deleted(4), *release(4, 4, 4),
                          UNCHANGED, SYNCH])

        # Without the mark a reload only sends the synch trigger.
        a.write_data(LIST.format(changed="") + MIX)
        before = len(a.commands())
        a.signal_reload()
        a.wait_for_count(SYNCH, 3)
        self.assertEqual(a.commands()[before:], [SYNCH])

        self.assertIsNone(p.poll())
        self.end(p)

    def test_command_line_chooses_the_mode(self):
        a = self.agent
        a.write_data("")
        # "/d x" is service mode: outside systemd the dispatcher fails at once.
        p = a.start("/d", "x")
        self.assertEqual(p.wait(timeout=30), 0)
        p = a.start()
        self.assertEqual(p.wait(timeout=30), 0)
        self.assertEqual(a.commands(), [])
        # "/D" and a quoted "/d" are foreground mode: the worker runs (a missing
        # data file still ends in the change mark reset and the synch trigger).
        p = a.start("/D")
        a.wait_for_count(SYNCH, 1)
        self.end(p)
        p = a.start(SCHEDEXE_CMDLINE='schedExe "/d"')
        a.wait_for_count(SYNCH, 2)
        self.end(p, signal.SIGINT)
        self.assertEqual(a.commands(), [UNCHANGED, SYNCH, UNCHANGED, SYNCH])

    def test_backup_profiles_start_the_command_tool(self):
        a = self.agent
        a.write_data(LIST.format(changed="") +
                     "\n[Backup/Restore/Mirror Profiles]\nNumber of Profiles=3\n"
                     "Profile1=Nightly\nProfile2=Weekly copy\nProfile3=Mirror\n"
                     "\n[Backup/Restore/Mirror Profile Nightly]\nPackage=4\n"
                     "\n[Backup/Restore/Mirror Profile Weekly copy]\nPackage=4\n"
                     "\n[Backup/Restore/Mirror Profile Mirror]\nPackage=3\n")
        p = a.start("/d")
        a.wait_for_count(KVCMD, 2)
        a.wait_for_count(SYNCH, 1)
        self.end(p)
        self.assertEqual(a.commands().count(KVCMD), 2)

    def test_service_states_and_controls(self):
        a = self.agent
        a.write_data(LIST.format(changed="") + MIX)
        notify = a.notify_listener()
        p = a.start(NOTIFY_SOCKET=notify.path)
        expected = [(2, 1, 5000), (2, 2, 1000), (4, 0, 0)]
        self.assertEqual(notify.wait_states(3), expected)
        self.assertEqual([r["X_SCHEDEXE_CONTROLS"] for r in notify.reports], ["0", "0", "7"])
        self.assertIn("READY", notify.reports[2])
        # One control at a time: pending signals are not delivered in the
        # order they were sent. Pause while paused, continue while
        # running, interrogate and shutdown report nothing.
        steps = [(signal.SIGTSTP, [(6, 1, 1000), (7, 0, 0)]), (signal.SIGTSTP, []),
                 (signal.SIGUSR1, []), (signal.SIGCONT, [(5, 1, 1000), (4, 0, 0)]),
                 (signal.SIGCONT, []), (signal.SIGUSR2, []),
                 (signal.SIGTERM, [(3, 1, 5000), (1, 0, 0)])]
        for sig, reports in steps:
            p.send_signal(sig)
            expected += reports
            if reports:
                notify.wait_states(len(expected))
            else:
                time.sleep(0.5)
            self.assertEqual(notify.states(), expected, sig)
        self.assertEqual(p.wait(timeout=30), 0)
        self.assertIn("STOPPING", notify.reports[-2])
        self.assertEqual(notify.reports[-1]["X_SCHEDEXE_WIN32_EXIT_CODE"], "0")

    def test_a_burst_of_controls(self):
        a = self.agent
        a.write_data(LIST.format(changed="") + MIX)
        notify = a.notify_listener()
        p = a.start(NOTIFY_SOCKET=notify.path)
        notify.wait_states(3)
        # Pending signals merge and arrive in any order: whatever gets
        # through, every pause and continue is a complete, legal step.
        controls = [signal.SIGTSTP, signal.SIGCONT, signal.SIGUSR1, signal.SIGUSR2] * 50
        random.Random(7).shuffle(controls)
        for sig in controls:
            p.send_signal(sig)
        time.sleep(1)
        self.end(p)
        states = notify.states()
        self.assertEqual(states[:3], [(2, 1, 5000), (2, 2, 1000), (4, 0, 0)])
        self.assertEqual(states[-2:], [(3, 1, 5000), (1, 0, 0)])
        steps = {4: ((6, 1, 1000), (7, 0, 0)), 7: ((5, 1, 1000), (4, 0, 0))}
        state, rest = 4, states[3:-2]
        while rest:
            self.assertEqual(tuple(rest[:2]), steps[state], states)
            state, rest = rest[1][0], rest[2:]

    @unittest.skipUnless(faketime(), "needs libfaketime")
    def test_event_fires_and_fires_while_paused(self):
        a = self.agent
        # Slot 1 one time at 10:20, slot 2 daily at 10:21; the clock starts
        # at 10:19:50.
        a.write_data(LIST.format(changed="") +
                     profile(1, "alpha", "Add", "One Time", 2027, "April", 14, 10, 20) +
                     profile(2, "Beta", "Active", "Daily", hour=10, minute=21))
        notify = a.notify_listener()
        p = subprocess.Popen(
            [os.path.join(BIN, "schedExe")], cwd=a.work_dir,
            # Timed waits run on the monotonic clock: only the wall clock moves.
            env=a.env(NOTIFY_SOCKET=notify.path, TZ="UTC", LD_PRELOAD=faketime(),
                      FAKETIME="@2027-04-14 10:19:50",
                      FAKETIME_DONT_FAKE_MONOTONIC="1"),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        a.processes.append(p)
        notify.wait_states(3)
        a.wait_for_count(activation(1), 1, timeout=40)
        a.wait_for_count(deleted(1), 1)
        self.assertTrue(in_order(a.commands(), fired(1) + [activation(1)]), a.commands())
        data = a.read_data()
        self.assertIn("[Event Cat2:1]\nEvent Status=True\n", data)
        self.assertIn("Name=alpha\nFrequency=One Time\nYear=2027\nMonth=April\n"
                      "DayOfMonth=14\nDayOfWeek=Monday\nHour=10\nMinute=20\n"
                      "State=Delete\n", data)

        # Paused: slot 2 still fires at 10:21; the reload waits for continue.
        # Its wactivate crashes, and the firing goes on regardless.
        a.replace_program("wactivate", "crashing-standin")
        p.send_signal(signal.SIGTSTP)
        notify.wait_states(5)
        a.write_data(LIST.format(changed="Changed=True\n") +
                     profile(2, "Beta", "Active", "Daily", hour=10, minute=21))
        a.signal_reload()
        a.wait_for_count(activation(2), 1, timeout=90)
        self.assertTrue(in_order(a.commands(), fired(2) + [activation(2)]), a.commands())
        self.assertIn("[Event Cat2:2]\nEvent Status=True\n", a.read_data())
        # The initial pass and two firings; no reload yet.
        self.assertEqual(a.commands().count(SYNCH), 3)
        self.assertEqual(a.commands().count(UNCHANGED), 1)
        p.send_signal(signal.SIGCONT)
        a.wait_for_count(UNCHANGED, 2)
        a.wait_for_count(SYNCH, 4)
        self.end(p)

    def test_hanging_and_missing_agent_programs(self):
        a = self.agent
        a.write_data(LIST.format(changed="Changed=True\n") + MIX)
        original = a.read_data()
        # DmiSetValue hangs in the initial pass: the service still answers
        # every control, and stops while paused.
        a.replace_program("DmiSetValue", "hanging-standin")
        notify = a.notify_listener()
        p = a.start(NOTIFY_SOCKET=notify.path)
        expected = [(2, 1, 5000), (2, 2, 1000), (4, 0, 0)]
        self.assertEqual(notify.wait_states(3), expected)
        a.wait_for_count(active(2), 1)
        for sig, reports in [(signal.SIGTSTP, [(6, 1, 1000), (7, 0, 0)]),
                             (signal.SIGCONT, [(5, 1, 1000), (4, 0, 0)]),
                             (signal.SIGTSTP, [(6, 1, 1000), (7, 0, 0)]),
                             (signal.SIGTERM, [(3, 1, 5000), (1, 0, 0)])]:
            p.send_signal(sig)
            expected += reports
            self.assertEqual(notify.wait_states(len(expected)), expected, sig)
        self.assertEqual(p.wait(timeout=30), 0)
        self.assertEqual(a.commands(), [active(2)])
        for slot in range(1, 6):
            self.assertIn(f"[Scheduler Profile {slot}]\n", a.read_data())
        a.release_hanging_programs()

        # DmiSetValue missing: no command runs, yet the data file gets every
        # change of the pass, as with the agent present.
        a.replace_program("DmiSetValue")
        a.write_data(original)
        p = a.start("/d")
        a.wait_for(lambda: "Number of Profiles=4\n" in a.read_data(), what="slot release")
        # "Changed" still reads True: the reload releases the slot once more.
        a.signal_reload()
        a.wait_for(lambda: "Number of Profiles=3\n" in a.read_data(), what="reload")
        self.assertIsNone(p.poll())
        self.end(p)
        data = a.read_data()
        self.assertIn("Number of Cat2 Events=3\n", data)
        self.assertIn("[Event Cat2:4]\nUser Changable=\n", data)
        self.assertEqual(a.commands(), [active(2)])

    def test_bad_input_and_signal_bursts(self):
        a = self.agent
        # No data file and no data directory value: the service runs on.
        with open(a.registry, "w") as f:
            f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix]\n"
                    f'"TTX Path"="{a.agent_dir}"\n')
        p = a.start("/d")
        a.wait_for_count(SYNCH, 1)
        a.signal_reload(times=1000)
        a.wait_for_count(SYNCH, 2)
        self.assertIsNone(p.poll())
        self.assertLessEqual(a.commands().count(SYNCH), 1001)
        self.end(p)


if __name__ == "__main__":
    unittest.main()
