"""A scratch agent for end-to-end runs of schedExe: registry, data file,
client folder with the stand-ins, the journal of what they were sent, and the
scenarios both targets run the same way."""

import contextlib
import os
import pathlib
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

BIN = os.environ.get("SCHEDEXE_BIN", os.path.join(os.path.dirname(__file__), "../../build/native/bin"))

CLASS = "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
# The agent's DMI tables, as an agent installs them.
DESCRIPTION = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                           "../../data/agent-tables.dmd")
# What the client folder needs to set attributes and read them back.
DMI_PROGRAMS = ("DmiSetValue", "dmitables")
DMI_LIBRARIES = ("dmiapi32.dll", "WDMI2API.DLL", "dmiprov.dll")


def keyed(group, attribute, value, row):
    return f'DmiSetValue "{CLASS}{group}|" {attribute} {value} "A1|{row}" 8'


SYNCH = 'DmiSetValue "CORVANEX|Remote Execution Triggers|" 16 "synch" "" 8'
UNCHANGED = keyed("EventCat2 List", 2, '"False"', 3)
KVCMD = ".\\kvcmd /e24"


def active(slot):
    return keyed("Scheduler Profile Table", 7, '"Active"', slot + 1)


def deleted(slot):
    return keyed("Scheduler Profile Table", 7, '"Delete"', slot + 1)


def release(slot, cat2_count, profile_count):
    """Every command of the release of a deleted profile's slot, in order."""
    lines = [keyed("Event Cat2 Table", 6, 0, slot + 1)]
    lines += [keyed("Event Cat2 Table", 6 + k, '"Unused"', slot + 1) for k in range(1, 13)]
    lines += [keyed("EventCat2 List", 2, '"Unused"', slot + 12),
              keyed("EventCat2 List", 2, cat2_count - 1, 11),
              keyed("EventCat2 List", 2, 0, 12),
              keyed("Scheduler Profiles", 2, '"Unused"', slot + 6),
              keyed("Scheduler Profiles", 2, profile_count - 1, 6),
              keyed("Scheduler Profile Table", 2, '"Unused"', slot + 1),
              keyed("Scheduler Profile Table", 7, '"Unused"', slot + 1)]
    return lines


def fired(slot):
    return [keyed("Event Cat2 Table", 5, '"True"', slot + 1),
            keyed("General", 2, '"True"', 3), SYNCH]


def activation(slot):
    return f"wactivate /category:2 /event:{slot}"


def in_order(lines, expected):
    """Whether `expected` occurs in `lines` in this order, other lines
    allowed in between (a firing's commands and a one-time event's deletion
    run on two threads)."""
    remaining = iter(lines)
    return all(line in remaining for line in expected)


# The data file: five named slots, free ones marked in both spellings.
SLOTS = ["Alpha", "Beta", "Gamma", "Delta", "Epsilon", "Unused", "!unused!"] + ["Unused"] * 5


def tarn(*profiles, changed=False, extra=""):
    return ("[TARN Event Categories]\nNumber of Categories=2\nEventCat1=System Alarms\n"
            "EventCat2=User Alarms\n\n[EventCat2 List]\nNumber of Cat2 Events=5\n" +
            ("Changed=True\n" if changed else "") +
            "".join(f"Cat2:{i}={name}\n" for i, name in enumerate(SLOTS, 1)) +
            "\n[Scheduler Profiles]\nNumber of Profiles=5\n" + "".join(profiles) + extra)


def profile(slot, name, state, frequency="One Time", year=2030, month="June",
            day=1, hour=12, minute=0):
    return (f"\n[Scheduler Profile {slot}]\nName={name}\nFrequency={frequency}\n"
            f"Year={year}\nMonth={month}\nDayOfMonth={day}\nDayOfWeek=Monday\n"
            f"Hour={hour}\nMinute={minute}\nState={state}\n")


# One profile in each state the initial pass tells apart.
MIX = [profile(1, "Alpha", "Active"), profile(2, "Beta", "Add", "Weekly"),
       profile(3, "Gamma", "update", "Monthly"), profile(4, "Delta", "Delete"),
       profile(5, "Epsilon", "")]
# Two with package 4 (one name with a blank), one without.
BACKUPS = ("\n[Backup/Restore/Mirror Profiles]\nNumber of Profiles=3\n"
           "Profile1=Nightly\nProfile2=Weekly copy\nProfile3=Mirror\n"
           "\n[Backup/Restore/Mirror Profile Nightly]\nPackage=4\n"
           "\n[Backup/Restore/Mirror Profile Weekly copy]\nPackage=4\n"
           "\n[Backup/Restore/Mirror Profile Mirror]\nPackage=3\n")

# Status reports: (state, checkpoint, wait hint, controls accepted, Win32 exit code).
START = [(2, 1, 5000, 0, 0), (2, 2, 1000, 0, 0), (4, 0, 0, 7, 0)]
PAUSE = [(6, 1, 1000, 7, 0), (7, 0, 0, 7, 0)]
RESUME = [(5, 1, 1000, 7, 0), (4, 0, 0, 7, 0)]
STOP = [(3, 1, 5000, 7, 0), (1, 0, 0, 7, 0)]


def wait(predicate, timeout=60.0, what=lambda: "condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what()}")


def read_journal(path, prefix):
    """Journal lines without time stamps; `prefix` (the client folder) is
    dropped from lines that start with it."""
    if not os.path.exists(path):
        return []
    with open(path, newline="") as f:
        lines = [line.rstrip("\r\n").split("\t", 1)[1] for line in f if "\t" in line]
    return [line[len(prefix):] if line.startswith(prefix) else line for line in lines]


class AgentFiles:
    """What a test reads and writes of an agent: the data file (CRLF, as the
    agent writes it), the journal, the client folder and its DMI tables.
    Users set data_file, journal, client, client_prefix and exe (the
    programs' suffix), and provide run(program, *args, check) (a program of
    theirs run to its end, its output kept) and host_path(path) (a path as
    the programs see it)."""

    exe = ""

    def dmitables(self, *args):
        return self.run(os.path.join(self.client, "dmitables"), *args, check=True).stdout

    def install_tables(self):
        self.dmitables("install", self.host_path(DESCRIPTION))

    def dmi_column(self, group, column):
        """{row: value} of one column of an agent table, read back as an
        operator would. The tests' values are single words."""
        lines = self.dmitables("rows", f"{CLASS}{group}|").splitlines()
        start = lines[0].index(column)
        return {int(line.split()[0]): line[start:].split()[0]
                for line in lines[1:lines.index("")]}

    def write_data(self, text):
        with open(self.data_file, "w", newline="") as f:
            f.write(text.replace("\n", "\r\n"))

    def read_data(self):
        with open(self.data_file, newline="") as f:
            return f.read().replace("\r\n", "\n")

    def commands(self):
        return read_journal(self.journal, self.client_prefix)

    def replace_program(self, name, replacement=None):
        """Puts `replacement` (a built program) in place of the client
        folder's stand-in `name`; None removes it."""
        target = os.path.join(self.client, name + self.exe)
        os.remove(target)
        if replacement:
            shutil.copy(os.path.join(BIN, replacement + self.exe), target)

    def release_hanging_programs(self):
        """Lets every hanging-standin in the client folder end."""
        open(os.path.join(self.client, "release"), "w").close()

    def wait_for(self, predicate, timeout=60.0, what="condition"):
        wait(predicate, timeout, lambda: f"{what}; journal: {self.commands()}")

    def wait_for_count(self, line, count=1, timeout=60.0):
        self.wait_for(lambda: self.commands().count(line) >= count, timeout,
                      f"{count} x {line!r}")

    def wait_for_data(self, text, what):
        self.wait_for(lambda: text in self.read_data(), what=what)

    def signal_reload(self, times=1):
        """Signals "TARNSCHED"; the service makes the event once its initial
        pass is over, so until then the signal is tried again."""
        command = [os.path.join(BIN, "tarnsched-signal"), "--times", str(times)]
        self.wait_for(lambda: self.run(*command).returncode == 0, what="the reload event")


class Scenarios:
    """Scenarios that run alike on both targets. A test class sets self.a (an
    AgentFiles) and provides start_service() (service mode, not waiting),
    control(name), reports() (the status reports of this start), running(),
    assert_ended() and kvcmd_commands()."""

    # Each control and the reports it makes. Continue while running, pause
    # while paused and interrogate report nothing; the last step leaves it
    # paused.
    CONTROL_STEPS = [("continue", []), ("interrogate", []), ("pause", PAUSE), ("pause", []),
                     ("interrogate", []), ("continue", RESUME), ("pause", PAUSE)]

    def start(self):
        self.a.install_tables()
        self.start_service()
        self.wait_reports(len(START))
        self.assertEqual(self.reports(), START)

    def wait_reports(self, count):
        wait(lambda: len(self.reports()) >= count, 30, lambda: f"{count} reports: {self.reports()}")

    def assert_tables(self, active, unused):
        """What the commands sent so far leave in the DMI tables: the states
        of these slots' rows, the unchanged mark and the counts the data file
        holds."""
        states = self.a.dmi_column("Scheduler Profile Table", "STATE")
        self.assertEqual([states[slot + 1] for slot in active + unused],
                         ["Active"] * len(active) + ["Unused"] * len(unused))
        cat2 = self.a.dmi_column("EventCat2 List", "VALUE")
        profiles = self.a.dmi_column("Scheduler Profiles", "VALUE")
        data = self.a.read_data()
        counts = [re.search(pattern, data).group(1) for pattern in
                  (r"Number of Cat2 Events=(\d+)",
                   r"\[Scheduler Profiles\]\nNumber of Profiles=(\d+)")]
        self.assertEqual([cat2[3], cat2[11], profiles[6]], ["False", *counts])

    def reload(self, times=1):
        self.a.signal_reload(times)

    def stop(self):
        expected = self.reports() + STOP
        self.control("stop")
        self.wait_reports(len(expected))
        self.assertEqual(self.reports(), expected)
        self.assert_ended()

    def test_passes_backups_reloads_and_a_signal_burst(self):
        a = self.a
        a.write_data(tarn(*MIX, changed=True, extra=BACKUPS))
        self.start()
        a.wait_for_count(SYNCH)
        initial = [active(2), active(3), deleted(4), *release(4, 5, 5), UNCHANGED, SYNCH]
        self.assertEqual(a.commands(), initial)
        self.assert_tables(active=[2, 3], unused=[4])
        # A reload of the file still marked changed: a whole pass again.
        self.reload()
        a.wait_for_count(SYNCH, 2)

        # Without the mark, a thousand signals at once: at least one more
        # reload, at most one for each, and the service runs on.
        a.write_data(tarn(*MIX, extra=BACKUPS))
        self.reload(1000)
        a.wait_for_count(SYNCH, 3)
        time.sleep(1)
        self.assertLessEqual(a.commands().count(SYNCH), 1002)
        self.assertTrue(self.running())
        # Backups start once, after the initial pass, never on a reload.
        self.assertEqual(self.kvcmd_commands(), [KVCMD, KVCMD])
        self.stop()

    def test_controls_while_an_agent_program_hangs(self):
        # DmiSetValue hangs in the initial pass: the service still answers
        # every control, and stops while paused (the worker not resumed).
        self.a.write_data(tarn(*MIX, changed=True))
        self.a.replace_program("DmiSetValue", "hanging-standin")
        self.start()
        self.a.wait_for_count(active(2))
        expected = START
        for command, reports in self.CONTROL_STEPS:
            self.control(command)
            expected = expected + reports
            if reports:
                self.wait_reports(len(expected))
            else:
                time.sleep(0.5)
            self.assertEqual(self.reports(), expected, command)
        self.stop()
        self.a.release_hanging_programs()
        self.assertEqual(self.a.commands(), [active(2)])
        for slot in range(1, 6):
            self.assertIn(f"[Scheduler Profile {slot}]\n", self.a.read_data())

    def test_missing_agent_program(self):
        # DmiSetValue missing: nothing is sent, yet the data file gets every
        # change of the pass, and reloads are served.
        a = self.a
        a.replace_program("DmiSetValue")
        a.write_data(tarn(*MIX, changed=True))
        self.start()
        a.wait_for_data("Number of Profiles=4\n", "slot release")
        # "Changed" still reads True: the reload releases the slot once more.
        self.reload()
        a.wait_for_data("Number of Profiles=3\n", "reload")
        self.assertTrue(self.running())
        self.stop()
        data = a.read_data()
        self.assertIn("Number of Cat2 Events=3\n", data)
        self.assertIn("[Event Cat2:4]\nUser Changable=\n", data)
        self.assertEqual(a.commands(), [])


def sanitizer_reports():
    """Paths of the reports that sanitized programs have written (see
    tests/e2e/CMakeLists.txt)."""
    folder = os.environ.get("SCHEDEXE_SANITIZER_REPORTS")
    if not folder or not os.path.isdir(folder):
        return set()
    return {os.path.join(folder, name) for name in os.listdir(folder)}


def unexpected_reports(before):
    """Text of the reports written since `before`, but for the deliberate
    crash of crashing-standin."""
    texts = [pathlib.Path(path).read_text(errors="replace")
             for path in sorted(sanitizer_reports() - before)]
    return [text for text in texts if "faulty_standin.cc" not in text]


class Agent(AgentFiles):
    """Folders of one Linux run: <root>/agent (TTX Path), <root>/data
    (DatsPath), <root>/work (the service's current folder)."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="schedexe-e2e-")
        self.agent_dir = os.path.join(self.root, "agent")
        self.work_dir = os.path.join(self.root, "work")
        self.journal = os.path.join(self.root, "journal.log")
        self.registry = os.path.join(self.root, "registry.reg")
        data_dir = os.path.join(self.root, "data")
        self.data_file = os.path.join(data_dir, "tarn.dat")
        self.client = os.path.join(self.agent_dir, "KVClient")
        self.client_prefix = self.agent_dir + "\\KVClient\\"
        for d in (self.client, data_dir, self.work_dir):
            os.makedirs(d)
        for program in ("wactivate", *DMI_PROGRAMS, *DMI_LIBRARIES):
            shutil.copy(os.path.join(BIN, program), self.client)
        # The backup/restore/mirror command is relative to the service's folder.
        shutil.copy(os.path.join(BIN, "kvcmd"), self.work_dir)
        self.write_registry(data_dir)
        self.processes = []
        self.listeners = []

    def write_registry(self, data_dir=None):
        """The agent's registry; without `data_dir`, no DatsPath value.

        Replaced whole, as a registry edit is: a running service never reads
        it half written."""
        with open(self.registry + ".new", "w") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix]\r\n"
                    f'"TTX Path"="{self.agent_dir}"\r\n\r\n')
            if data_dir:
                f.write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix\\ZIZ2UDE]\r\n"
                        f'"DatsPath"="{data_dir}"\r\n')
        os.replace(self.registry + ".new", self.registry)

    def env(self, **extra):
        env = dict(os.environ)
        env.update(SCHEDEXE_REGISTRY=self.registry, AGENT_JOURNAL=self.journal)
        env.pop("NOTIFY_SOCKET", None)
        # The DMI store in the client folder, where the service's own finds it.
        env.pop("DMI_STORE", None)
        env.update(extra)
        return env

    def host_path(self, path):
        return path

    def run(self, program, *args, check=False):
        return subprocess.run([program, *args], env=self.env(), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, check=check)

    def start(self, *args, **env):
        # A process group of its own, so that close() ends the programs it
        # started as well.
        # Its log goes to a file of its own; journal=True makes that file the
        # journal's stream, as systemd would.
        journal = env.pop("journal", False)
        self.log_file = os.path.join(self.root, f"service{len(self.processes)}.err")
        with open(self.log_file, "wb") as log:
            if journal:
                st = os.fstat(log.fileno())
                env["JOURNAL_STREAM"] = f"{st.st_dev}:{st.st_ino}"
            p = subprocess.Popen([os.path.join(BIN, "schedExe"), *args], cwd=self.work_dir,
                                 env=self.env(**env), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=log,
                                 start_new_session=True)
        p.registry = self.env(**env)["SCHEDEXE_REGISTRY"]
        self.processes.append(p)
        return p

    def log(self):
        """The log lines of the last service started."""
        with open(self.log_file, errors="replace") as f:
            return f.read().splitlines()

    def wait_for_log(self, *parts, timeout=30.0):
        """The first log line that holds every one of `parts`."""
        def found():
            return next((line for line in self.log() if all(p in line for p in parts)), None)
        wait(lambda: found() is not None, timeout, lambda: f"log line {parts}; log: {self.log()}")
        return found()

    def notify_listener(self):
        """A NOTIFY_SOCKET for a service of this run, closed with it."""
        listener = NotifyListener(os.path.join(self.root, f"notify{len(self.listeners)}.sock"))
        self.listeners.append(listener)
        return listener

    def close(self):
        # A folder made immutable by a test must be removable again.
        subprocess.run(["chattr", "-R", "-i", self.root], stderr=subprocess.DEVNULL)
        for listener in self.listeners:
            listener.close()
        # A DmiSetValue left running would find no agent once the folder is
        # gone and retry for a minute, holding the machine's DMI mutex.
        for p in self.processes:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(p.pid, signal.SIGKILL)
            p.wait()
            # What a killed service leaves in /dev/shm: libfaketime's clock
            # (named by the preloading process) and the queue snapshot.
            for name in (f"faketime_shm_{p.pid}", f"sem.faketime_sem_{p.pid}",
                         queue_object(p.registry)):
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(os.path.join("/dev/shm", name))
        shutil.rmtree(self.root, ignore_errors=True)


def queue_object(registry):
    """The service's queue snapshot object for the registry file `registry`
    (FNV-1a of its real path)."""
    digest = 14695981039346656037
    for byte in os.path.realpath(registry).encode():
        digest = ((digest ^ byte) * 1099511628211) % 2**64
    return f"schedexe.queue.{digest:016x}"


def notify_fields(datagram):
    return dict(line.split("=", 1) for line in datagram.splitlines() if "=" in line)


def status_reports(messages):
    """The status reports among notify messages, in the form of the START ...
    constants."""
    keys = ("STATE", "CHECKPOINT", "WAIT_HINT", "CONTROLS", "WIN32_EXIT_CODE")
    return [tuple(int(m.get("X_SCHEDEXE_" + k, 0)) for k in keys)
            for m in messages if "X_SCHEDEXE_STATE" in m]


class NotifyListener:
    """The NOTIFY_SOCKET end of systemd: collects the status datagrams as they
    arrive, as systemd does (a sender waits while the socket's queue is full)."""

    def __init__(self, path):
        self.path = path
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(self.path)
        self.sock.settimeout(0.1)
        self._messages = []
        self._lock = threading.Lock()
        self._closing = threading.Event()
        self._reader = threading.Thread(target=self._collect, daemon=True)
        self._reader.start()

    def _collect(self):
        while not self._closing.is_set():
            try:
                data = self.sock.recv(4096).decode()
            except socket.timeout:
                continue
            with self._lock:
                self._messages.append(notify_fields(data))

    def messages(self):
        with self._lock:
            return list(self._messages)

    def reports(self):
        return status_reports(self.messages())

    def close(self):
        self._closing.set()
        self._reader.join()
        self.sock.close()
