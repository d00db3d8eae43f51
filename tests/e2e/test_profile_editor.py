"""schedexe-profile against a running service, natively and under Wine:
schedules added, a one-time event fired and settled, reloads with the change
mark forced, restarts, an editor killed between its two writes, restarts
between a second firing and the next settle, and a freed slot taken again.
After each step the counts, the service's queue and the DMI tables say what
the data file says."""

import configparser
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from agent import BIN, Agent, activation, queue_object, sanitizer_reports, unexpected_reports
from test_linux_service import faketime
from test_wine_service import WINE_RUN, WineAgent, control


def parse(text):
    """Sections of the data file: {section: {key: value}}, names folded."""
    ini = configparser.ConfigParser(delimiters="=", interpolation=None)
    ini.read_string(text)
    return {name.lower(): dict(ini[name]) for name in ini.sections()}


class ProfileEditorTest(unittest.TestCase):
    said = ""  # what the last edit wrote on its standard error

    def setUp(self):
        self.reports = sanitizer_reports()
        self.a = self.make_agent()
        self.a.install_tables()
        self.a.write_data(
            "[TARN Event Categories]\nNumber of Categories=2\nEventCat1=System Alarms\n"
            "EventCat2=User Alarms\n[EventCat2 List]\nNumber of Cat2 Events=0\n" +
            "".join(f"Cat2:{i}=Unused\n" for i in range(1, 13)) +
            "[Scheduler Profiles]\nNumber of Profiles=0\n")
        # Where libfaketime can be preloaded, every program runs on one clock
        # shifted to 20 s into a minute: the first one-time event, added a few
        # seconds on, is due at the next. Elsewhere the test waits for it.
        clock = self.preload()
        self.shift = 20 - time.time() % 60 if clock else 0.0
        self.env = dict(LD_PRELOAD=clock, FAKETIME=f"{self.shift:+.3f}",
                        FAKETIME_DONT_FAKE_MONOTONIC="1") if clock else {}
        self.service = None

    def make_agent(self):
        agent = Agent()
        self.addCleanup(agent.close)
        # The editors' lock of this agent, named as its queue is.
        lock = "/dev/shm/" + queue_object(agent.registry).replace(".queue.", ".editor.")
        self.addCleanup(lambda: os.path.exists(lock) and os.unlink(lock))
        return agent

    def preload(self):
        return faketime()

    def command(self, name, *args):
        return [os.path.join(BIN, name), *args]

    def tool_env(self):
        return self.a.env(**self.env)

    def now(self):
        return time.time() + self.shift

    def start(self, settle=True):
        self.service = self.start_service()
        if settle:
            self.profile("settle", "--wait-for-start")
        else:
            # The start's own first pass, with no editor after it.
            self.a.wait_for(lambda: (view := self.view())["passes"] and not view["passing"],
                            what="the start")

    def start_service(self):
        return self.a.start("/d", **self.env)

    def stop(self):
        self.service.send_signal(signal.SIGTERM)
        self.service.wait(30)

    def run_tool(self, name, *args):
        return subprocess.run(self.command(name, *args), env=self.tool_env(),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=180)

    def profile(self, *args):
        run = self.run_tool("schedexe-profile", *args)
        self.assertEqual(run.returncode, 0, f"{args}: {run.stderr}")
        self.said = run.stderr

    def signal_reload(self):
        # The event exists once the start's first pass is over.
        self.a.wait_for(lambda: self.run_tool("tarnsched-signal").returncode == 0,
                        what="the reload event")

    def view(self):
        return json.loads(self.run_tool("schedexe-timers", "--json").stdout)

    def queue(self):
        view = self.view()
        return {(t["slot"], t["name"], t["next"]["epoch"]) for t in view["timers"] if t["queued"]}

    def check(self):
        """Counts, queue and DMI tables agree with the data file."""
        data = parse(self.a.read_data())
        entries = data["eventcat2 list"]
        in_use = [n for n in range(1, 13) if entries.get(f"cat2:{n}", "").lower() not in ("unused", "!unused!")]
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
                             (name,) * 4, f"{n}, the editor said: {self.said}")
            self.assertEqual(state[n + 1], "Active" if n in in_use else "Unused", n)
        return data

    def add_one_time(self, name):
        """A One Time profile due at the start of the next minute at least
        30 s away, so that it fires after the check that follows the add."""
        due = self.now() // 60 * 60 + 60
        when = time.localtime(due if due - self.now() >= 30 else due + 60)
        self.profile("add", name, "--frequency", "One Time", "--year", str(when.tm_year),
                     "--month", time.strftime("%B", when), "--day-of-month", str(when.tm_mday),
                     "--hour", str(when.tm_hour), "--minute", str(when.tm_min))

    def test_schedules_survive_firings_reloads_restarts_and_an_interrupted_edit(self):
        a = self.a
        self.start()
        # Due far from now, so no firing moves them during the test.
        minute = int(self.now() // 60 + 30) % 60
        hour = int(self.now() // 3600 + 12) % 24
        self.profile("add", "Hourly", "--frequency", "Hourly", "--minute", str(minute))
        self.profile("add", "Daily", "--frequency", "Daily", "--hour", str(hour), "--minute", "30")
        self.add_one_time("Once")
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
                marked = self.run_tool("tarnprofile", "set", a.host_path(a.data_file),
                                       "EventCat2 List", "Changed", "True")
                self.assertEqual(marked.returncode, 0, marked.stderr)
            before = self.view()["passes"]
            self.signal_reload()
            a.wait_for(lambda: self.view()["passes"] > before, what="the reload")
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
            self.command("schedexe-profile", "add", "Late", "--frequency", "Hourly", "--minute",
                         str((minute + 15) % 60)), env=self.tool_env(), stdin=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        a.wait_for(lambda: "Late" in a.read_data(), what="the first write")
        editor.kill()
        editor.wait()
        os.kill(self.service.pid, signal.SIGCONT)
        self.signal_reload()
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

        # Freed slots are taken again: slot 1 by a new hourly one, the daily
        # one's by a weekly one.
        self.profile("add", "Hourly", "--frequency", "Hourly", "--minute", str(minute))
        self.profile("delete", "Daily")
        self.profile("add", "Weekly", "--frequency", "Weekly", "--day-of-week", "Friday",
                     "--hour", "8", "--minute", "0")
        self.assertEqual(self.check()["eventcat2 list"]["cat2:2"], "Weekly")
        self.stop()
        self.assertEqual(unexpected_reports(self.reports), [])


@unittest.skipUnless(os.path.exists(os.path.join(BIN, "schedExe.exe")) and shutil.which("Xvfb"),
                     "needs the cross build and Xvfb")
class WineProfileEditorTest(ProfileEditorTest):
    """The same steps with the .exe programs, in a Wine prefix of the test's
    own: a prefix's named objects are its machine's."""

    @classmethod
    def setUpClass(cls):
        subprocess.run([WINE_RUN, "--start"], check=True, stdin=subprocess.DEVNULL, timeout=300)

    @classmethod
    def tearDownClass(cls):
        subprocess.run([WINE_RUN, "--stop"], stdin=subprocess.DEVNULL, timeout=120)

    def make_agent(self):
        root = tempfile.mkdtemp(prefix="schedexe-wine-editor-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        client = os.path.join(root, "agent", "KVClient")
        self.addCleanup(self.end_service)
        return WineAgent(os.path.join(root, "agent"), client,
                         os.path.join(client, "agent-journal.log"), os.path.join(root, "data"))

    def preload(self):
        return None  # Wine's programs keep the real clock

    def command(self, name, *args):
        return [WINE_RUN, os.path.join(BIN, name + ".exe"), *args]

    def tool_env(self):
        return dict(os.environ, AGENT_JOURNAL=self.a.journal)

    def start_service(self):
        return subprocess.Popen(self.command("schedExe", "/d"), env=self.tool_env(),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def stop(self):
        # "/d" ends when its hidden window is closed.
        self.a.wait_for(lambda: control("close-window", self.tool_env()).returncode == 0,
                        what="the service's window")
        self.assertEqual(self.service.wait(30), 0)

    def end_service(self):
        if self.service and self.service.poll() is None:
            self.service.kill()
            self.service.wait()


if __name__ == "__main__":
    unittest.main()
