"""A scratch agent for end-to-end runs of schedExe: registry, data file,
client folder with the stand-ins, and the journal of what they were sent."""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

BIN = os.environ.get("SCHEDEXE_BIN", os.path.join(os.path.dirname(__file__), "../../build/native/bin"))

CLASS = "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"


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


def in_order(lines, expected):
    """Whether `expected` occurs in `lines` in this order, other lines
    allowed in between (a firing's commands and a one-time event's deletion
    run on two threads)."""
    remaining = iter(lines)
    return all(line in remaining for line in expected)


def activation(slot):
    return f"wactivate /category:2 /event:{slot}"


def sanitizer_reports():
    """Names of the reports that sanitized programs have written (see
    tests/e2e/CMakeLists.txt)."""
    folder = os.environ.get("SCHEDEXE_SANITIZER_REPORTS")
    if not folder or not os.path.isdir(folder):
        return set()
    return {os.path.join(folder, name) for name in os.listdir(folder)}


def unexpected_reports(before):
    """Text of the reports written since `before`, but for the deliberate
    crash of crashing-standin."""
    texts = []
    for path in sorted(sanitizer_reports() - before):
        with open(path, errors="replace") as f:
            text = f.read()
        if "faulty_standin.cc" not in text:
            texts.append(text)
    return texts


RELOAD_EVENT = "/dev/shm/schedexe.TARNSCHED"


def remove_reload_event():
    try:
        os.unlink(RELOAD_EVENT)
    except FileNotFoundError:
        pass


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
    agent writes it), the journal and the client folder. Users set data_file,
    journal, client and client_prefix, and BIN names the built programs."""

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
        target = os.path.join(self.client, name)
        os.remove(target)
        if replacement:
            shutil.copy(os.path.join(BIN, replacement), target)

    def release_hanging_programs(self):
        """Lets every hanging-standin in the client folder end."""
        open(os.path.join(self.client, "release"), "w").close()

    def wait_for(self, predicate, timeout=60.0, what="condition"):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return
            time.sleep(0.05)
        raise AssertionError(f"timed out waiting for {what}; journal: {self.commands()}")

    def wait_for_count(self, line, count=1, timeout=60.0):
        self.wait_for(lambda: self.commands().count(line) >= count, timeout,
                      f"{count} x {line!r}")


class Agent(AgentFiles):
    """Folders of one run: <root>/agent (TTX Path), <root>/data (DatsPath)."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="schedexe-e2e-")
        self.agent_dir = os.path.join(self.root, "agent")
        self.data_dir = os.path.join(self.root, "data")
        self.work_dir = os.path.join(self.root, "work")
        self.journal = os.path.join(self.root, "journal.log")
        self.registry = os.path.join(self.root, "registry.reg")
        self.data_file = os.path.join(self.data_dir, "tarn.dat")
        self.client = os.path.join(self.agent_dir, "KVClient")
        self.client_prefix = self.agent_dir + "\\KVClient\\"
        for d in (os.path.join(self.agent_dir, "KVClient"), self.data_dir, self.work_dir):
            os.makedirs(d)
        for program in ("DmiSetValue", "wactivate"):
            shutil.copy(os.path.join(BIN, program), os.path.join(self.agent_dir, "KVClient"))
        # The backup/restore/mirror command is relative to the service's folder.
        shutil.copy(os.path.join(BIN, "kvcmd"), self.work_dir)
        with open(self.registry, "w") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix]\r\n"
                    f'"TTX Path"="{self.agent_dir}"\r\n\r\n'
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix\\ZIZ2UDE]\r\n"
                    f'"DatsPath"="{self.data_dir}"\r\n')
        self.processes = []
        self.listeners = []
        # A reload signal left in the shared event by an earlier run would
        # reach this run's service as soon as it opens the event.
        remove_reload_event()

    def env(self, **extra):
        env = dict(os.environ)
        env.update(SCHEDEXE_REGISTRY=self.registry, AGENT_JOURNAL=self.journal)
        env.pop("NOTIFY_SOCKET", None)
        env.update(extra)
        return env

    def start(self, *args, **env):
        p = subprocess.Popen([os.path.join(BIN, "schedExe"), *args], cwd=self.work_dir,
                             env=self.env(**env), stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.processes.append(p)
        return p

    def signal_reload(self, times=1):
        """Signals "TARNSCHED"; the service makes the event once its initial
        pass is over, so until then the signal is tried again."""
        command = [os.path.join(BIN, "tarnsched-signal"), "--times", str(times)]
        self.wait_for(lambda: subprocess.run(command, env=self.env(),
                                             stderr=subprocess.DEVNULL).returncode == 0,
                      what="the reload event")

    def notify_listener(self):
        """A NOTIFY_SOCKET for a service of this run, closed with it."""
        listener = NotifyListener(self.root)
        self.listeners.append(listener)
        return listener

    def close(self):
        for listener in self.listeners:
            listener.close()
        for p in self.processes:
            if p.poll() is None:
                p.kill()
            p.wait()
            if p.stdout:
                p.stdout.close()
        shutil.rmtree(self.root, ignore_errors=True)
        remove_reload_event()


class NotifyListener:
    """The NOTIFY_SOCKET end of systemd: collects the status datagrams as they
    arrive, as systemd does (a sender waits while the socket's queue is full)."""

    def __init__(self, root):
        self.path = os.path.join(root, "notify.sock")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(self.path)
        self.sock.settimeout(0.1)
        self._reports = []
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
            fields = dict(line.split("=", 1) for line in data.splitlines() if "=" in line)
            with self._lock:
                self._reports.append(fields)

    @property
    def reports(self):
        with self._lock:
            return list(self._reports)

    def states(self):
        return [(int(r["X_SCHEDEXE_STATE"]), int(r.get("X_SCHEDEXE_CHECKPOINT", 0)),
                 int(r.get("X_SCHEDEXE_WAIT_HINT", 0))) for r in self.reports
                if "X_SCHEDEXE_STATE" in r]

    def wait_states(self, count, timeout=30.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            states = self.states()
            if len(states) >= count:
                return states
            time.sleep(0.02)
        raise AssertionError(f"only {self.states()} reported")

    def close(self):
        self._closing.set()
        self._reader.join()
        self.sock.close()
