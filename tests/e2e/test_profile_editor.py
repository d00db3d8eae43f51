"""schedexe-profile against a running service: schedules added, a one-time
event fired and settled, reloads with the change mark forced, restarts, an
editor killed between its two writes, restarts between a second firing and
the next settle, and a freed slot taken again. After
each step the counts, the service's queue and the DMI tables say what the
data file says."""

import contextlib
import json
import os
import signal
import subprocess
import time
import unittest

from agent import BIN, Agent, activation, queue_object
from test_linux_service import faketime

FREE = ("unused", "!unused!")


def parse(text):
    """Sections of the data file: {section: {key: value}}, names folded."""
    sections, current = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            current = sections.setdefault(line[1:line.rindex("]")].lower(), {})
        elif "=" in line and current is not None:
            key, value = line.split("=", 1)
            current.setdefault(key.strip().lower(), value.strip())
    return sections


class ProfileEditorTest(unittest.TestCase):
    def setUp(self):
        self.a = Agent()
        self.a.install_tables()
        self.a.write_data(
            "[TARN Event Categories]\nNumber of Categories=2\nEventCat1=System Alarms\n"
            "EventCat2=User Alarms\n[EventCat2 List]\nNumber of Cat2 Events=0\n" +
            "".join(f"Cat2:{i}=Unused\n" for i in range(1, 13)) +
            "[Scheduler Profiles]\nNumber of Profiles=0\n")
        # Every program runs on one shifted clock, 20 s into a minute: the
        # first one-time event, added a few seconds on, is due at the next.
        self.shift = 20 - time.time() % 60
        self.env = dict(TZ="UTC", LD_PRELOAD=faketime(), FAKETIME=f"{self.shift:+.3f}",
                        FAKETIME_DONT_FAKE_MONOTONIC="1")
        self.service = None

    def tearDown(self):
        self.a.close()
        # The editors' lock of this agent, named as its queue is.
        with contextlib.suppress(FileNotFoundError):
            os.unlink("/dev/shm/" + queue_object(self.a.registry).replace(".queue.", ".editor."))

    def now(self):
        return time.time() + self.shift

    def start(self, settle=True):
        self.service = self.a.start("/d", **self.env)
        if settle:
            self.profile("settle", "--wait-for-start")
        else:
            # The start's own first pass, with no editor after it. (A start
            # that hangs shows its log and the agent programs still running.)
            try:
                self.a.wait_for(lambda: self.passes() >= 1 and not self.passing(),
                                what="the start")
            except AssertionError:
                running = subprocess.run(["ps", "-eo", "pid,etime,args"], capture_output=True,
                                         text=True).stdout.splitlines()
                print("\n".join(self.a.log()[-15:] +
                                [p for p in running if "DmiSetValue" in p or "schedExe" in p]))
                raise

    def stop(self):
        self.service.send_signal(signal.SIGTERM)
        self.service.wait(30)

    def run_tool(self, name, *args):
        return subprocess.run([os.path.join(BIN, name), *args], env=self.a.env(**self.env),
                              capture_output=True, text=True, timeout=180)

    def profile(self, *args, code=0):
        started = time.monotonic()
        run = self.run_tool("schedexe-profile", *args)
        self.assertEqual(run.returncode, code, f"{args}: {run.stderr}")
        return time.monotonic() - started

    def view(self):
        return json.loads(self.run_tool("schedexe-timers", "--json").stdout)

    def passes(self):
        return self.view()["passes"]

    def passing(self):
        return self.view()["passing"]

    def queue(self):
        view = self.view()
        return {(t["slot"], t["name"], t["next"]["epoch"]) for t in view["timers"] if t["queued"]}

    def check(self):
        """Counts, queue and DMI tables agree with the data file."""
        data = parse(self.a.read_data())
        entries = data["eventcat2 list"]
        in_use = [n for n in range(1, 13) if entries.get(f"cat2:{n}", "").lower() not in FREE]
        names = {n: data[f"scheduler profile {n}"]["name"] for n in in_use}
        self.assertEqual(entries["number of cat2 events"], str(len(in_use)))
        self.assertEqual(data["scheduler profiles"]["number of profiles"], str(len(in_use)))
        self.assertEqual(entries["changed"], "False")
        self.assertEqual({(slot, name) for slot, name, _ in self.queue()},
                         {(str(n), names[n]) for n in in_use})
        table = self.a.dmi_column("Scheduler Profile Table", "NAME")
        state = self.a.dmi_column("Scheduler Profile Table", "STATE")
        profiles = self.a.dmi_column("Scheduler Profiles", "VALUE")
        cat2 = self.a.dmi_column("EventCat2 List", "VALUE")
        events = self.a.dmi_column("Event Cat2 Table", "NAME")
        self.assertEqual((profiles[6], cat2[11]), (str(len(in_use)),) * 2)
        for n in range(1, 13):
            name = names.get(n, "Unused")
            self.assertEqual((table[n + 1], profiles[n + 6], cat2[n + 12], events[n + 1]),
                             (name,) * 4, n)
            self.assertEqual(state[n + 1], "Active" if n in in_use else "Unused", n)
        return data

    def add_one_time(self, name):
        """A One Time profile due at the start of the next minute at least
        30 s away, so that it fires after the check that follows the add."""
        due = self.now() // 60 * 60 + 60
        when = time.gmtime(due if due - self.now() >= 30 else due + 60)
        return self.profile("add", name, "--frequency", "One Time", "--year", str(when.tm_year),
                            "--month", time.strftime("%B", when), "--day-of-month",
                            str(when.tm_mday), "--hour", str(when.tm_hour), "--minute",
                            str(when.tm_min))

    @unittest.skipUnless(faketime(), "needs libfaketime (which cannot be preloaded under"
                         " AddressSanitizer)")
    def test_schedules_survive_firings_reloads_restarts_and_an_interrupted_edit(self):
        a = self.a
        self.start()
        # Due far from now, so no firing moves them during the test.
        minute = int(self.now() // 60 + 30) % 60
        hour = int(self.now() // 3600 + 12) % 24
        took = [self.profile("add", "Hourly", "--frequency", "Hourly", "--minute", str(minute)),
                self.profile("add", "Daily", "--frequency", "Daily", "--hour", str(hour),
                             "--minute", "30"),
                self.add_one_time("Once")]
        print(f"\nadd, end to end: {', '.join(f'{t:.2f} s' for t in took)}")
        self.check()

        # The one-time event fires and leaves its slot at "Delete"; settle
        # releases it once and frees it.
        a.wait_for(lambda: activation(3) in a.commands(), timeout=150, what="the firing")
        a.wait_for_data("State=Delete", "the deletion")
        self.profile("settle")
        self.assertEqual(parse(a.read_data())["eventcat2 list"]["cat2:3"], "Unused")
        queue = self.queue()
        self.check()

        # Reloads, half of them with the change mark forced by another program.
        for i in range(10):
            if i % 2:
                self.run_tool("tarnprofile", "set", a.data_file, "EventCat2 List", "Changed",
                              "True")
            before = self.passes()
            a.signal_reload()
            a.wait_for(lambda: self.passes() > before, what="the reload")
            self.profile("settle")
            self.check()
        self.assertEqual(self.queue(), queue)

        for _ in range(3):
            self.stop()
            self.start()
            self.assertEqual(self.queue(), queue)
            self.check()

        # An editor killed between its two writes, and a reload in the gap.
        os.kill(self.service.pid, signal.SIGSTOP)
        editor = subprocess.Popen(
            [os.path.join(BIN, "schedexe-profile"), "add", "Late", "--frequency", "Hourly",
             "--minute", "45"], env=a.env(**self.env), stderr=subprocess.DEVNULL)
        a.wait_for(lambda: "Late" in a.read_data(), what="the first write")
        editor.kill()
        editor.wait()
        os.kill(self.service.pid, signal.SIGCONT)
        a.signal_reload()
        self.profile("settle")
        self.check()

        # A second one-time firing, in slot 1, then three restarts before the
        # next settle: each start's first pass releases the fired slot again
        # and lowers the counts, until the walk reaches nothing at all; settle
        # recounts and queues again what fell out.
        self.profile("delete", "Hourly")
        self.add_one_time("Twice")
        self.check()
        queue = {entry for entry in self.queue() if entry[0] != "1"}
        a.wait_for(lambda: activation(1) in a.commands(), timeout=150, what="the second firing")
        a.wait_for(lambda: parse(a.read_data())["scheduler profile 1"]["state"] == "Delete",
                   what="the second deletion")
        for _ in range(3):
            self.stop()
            self.start(settle=False)
        self.assertEqual(parse(a.read_data())["eventcat2 list"]["number of cat2 events"], "0")
        self.assertEqual(self.queue(), set())
        self.profile("settle")
        self.assertEqual(self.queue(), queue)
        self.check()
        self.profile("add", "Hourly", "--frequency", "Hourly", "--minute", str(minute))
        self.check()

        # The daily one goes; a new one takes its slot.
        self.profile("delete", "Daily")
        self.profile("add", "Weekly", "--frequency", "Weekly", "--day-of-week", "Friday",
                     "--hour", "8", "--minute", "0")
        self.assertEqual(self.check()["eventcat2 list"]["cat2:2"], "Weekly")
        queue = self.queue()
        self.stop()
        self.start()
        self.assertEqual(self.queue(), queue)


if __name__ == "__main__":
    unittest.main()
