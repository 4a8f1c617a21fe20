"""Starts build/quillbox on a throw-away machine root and talks to it."""
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time

BINARY = os.environ.get("QB_BINARY", os.path.join(os.path.dirname(__file__), "../../build/quillbox"))
JOB_PORT = 37100
DIRECT_PORT = 37101
SENDSCAN = os.environ.get("QB_SENDSCAN", os.path.join(os.path.dirname(BINARY), "quillbox-sendscan"))
CLIENT_ADDRESS = "127.0.0.2"  # any 127.x other than 127.0.0.1
OK = b"OK\x00\x05"
# What starts every trace line: local time to the millisecond.
TIME_STAMP = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} ")
NG_JOB_LIMIT = b"NG\x00\x15"


def read_file(path, binary=False):
    with open(path, "rb" if binary else "r") as handle:
        return handle.read()


def write_file(path, content, mode=None):
    """Writes text or bytes to path, then gives it `mode` if one is given."""
    with open(path, "wb" if isinstance(content, bytes) else "w") as handle:
        handle.write(content)
    if mode is not None:
        os.chmod(path, mode)


def wait_until(predicate, timeout=5.0):
    """True once predicate() holds, False when timeout seconds passed first."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return False


def listening(port):
    """True when something accepts TCP connections on 127.0.0.1:port."""
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def retry(connect, seconds=10.0):
    """connect() once it no longer fails with OSError (a server still
    starting), or its error after `seconds`."""
    deadline = time.time() + seconds
    while True:
        try:
            return connect()
        except OSError:
            if time.time() > deadline:
                raise
            time.sleep(0.05)


def run_together(workers, timeout=None):
    """Runs function(i) for i in range(count) of each (function, count) of
    `workers`, each on a thread of its own, and waits for them all."""
    threads = [threading.Thread(target=target, args=(i,)) for target, count in workers for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout)


def cpu_share(pid, seconds=3.0):
    """The share of one core the process (all its threads) used over the
    next `seconds`: a busy loop shows here, where wall time would hide it."""
    def cpu_seconds():
        with open("/proc/%d/stat" % pid) as handle:
            fields = handle.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    before, start = cpu_seconds(), time.time()
    time.sleep(seconds)
    return (cpu_seconds() - before) / (time.time() - start)


def sendscan(*args, reply_timeout=10):
    """Runs the printer simulator; returns its exit code and what it said."""
    result = subprocess.run([SENDSCAN, "--timeout", str(reply_timeout)] + [str(a) for a in args],
                            capture_output=True, text=True, timeout=12 * reply_timeout)
    return result.returncode, result.stdout


def packet(body):
    return struct.pack(">H", len(body)) + body


class Receiver:
    """One receiver process with its own root; use as a context manager."""

    def __init__(self, settings="[DEBUG]\nTrace=2\n", data_folder=True, env=None, prefix=()):
        """prefix: a command line the program is started through (prlimit, ip netns exec)."""
        self.root = tempfile.mkdtemp(prefix="qb-e2e-")
        self.data = os.path.join(self.root, "var/lib/Tovira/Quillbox")
        for folder in ("etc", "tmp", "srv"):
            os.makedirs(os.path.join(self.root, folder))
        if data_folder:
            os.makedirs(self.data)
            if settings is not None:
                write_file(self.settings_path, settings)
        self.env = dict(os.environ, QUILLBOX_ROOT=self.root, TMP=os.path.join(self.root, "tmp"))
        self.env.pop("QUILLBOX_OS_GENERATION", None)
        self.env.update(env or {})
        self.process = None
        self.prefix = list(prefix)

    @property
    def settings_path(self):
        return os.path.join(self.data, "quern.ini")

    def start(self, args=(), wait_for_port=True):
        self.process = subprocess.Popen([*self.prefix, BINARY, *args], env=self.env, stderr=subprocess.PIPE)
        if not wait_for_port:
            return self
        deadline = time.time() + 10
        while time.time() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("receiver ended: " + self.process.stderr.read().decode(errors="replace"))
            if listening(DIRECT_PORT):
                return self
            time.sleep(0.05)
        raise RuntimeError("receiver did not start listening")

    def stop(self, sig=signal.SIGTERM, timeout=10):
        if self.process is None or self.process.poll() is not None:
            return self.process.returncode if self.process else None
        self.process.send_signal(sig)
        try:
            return self.process.wait(timeout=timeout)
        finally:
            self.process.stderr.close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.root, ignore_errors=True)

    def trace(self):
        """The trace's lines without their time stamps."""
        try:
            with open(os.path.join(self.root, "tmp/qbxLog.log"), "rb") as handle:
                lines = handle.read().decode("utf-8", errors="replace").splitlines()
        except FileNotFoundError:
            return []
        return [TIME_STAMP.sub("", line, count=1) for line in lines]

    def add_destination(self, number, name, code="", extension=""):
        """The folder srv/<name>, made and listed as destination `number`."""
        folder = os.path.join(self.root, "srv", name)
        os.makedirs(folder)
        with open(os.path.join(self.data, "tvscan_f.bin"), "a") as handle:
            handle.write("%d;%s;%s;%s;%s\n" % (number, folder, name, code, extension))
        return folder

    def temp_files(self):
        """The raw road's page files in the temporary folder."""
        return [n for n in os.listdir(os.path.join(self.root, "tmp")) if n.startswith("rcvimg")]

    def log(self):
        """The receive log's text ("" before its first entry)."""
        path = os.path.join(self.data, "tvscanlog_f.bin")
        if not os.path.exists(path):
            return ""
        with open(path, encoding="utf-8", errors="replace") as log:
            return log.read()

    def log_with(self, text, timeout=5.0):
        """The receive log once it holds `text`: a document whose entry waits
        for the printer to hang up is logged a moment after the sender ends."""
        wait_until(lambda: text in self.log(), timeout)
        return self.log()

    def wait_for_trace(self, line, timeout=5.0, count=1):
        return wait_until(lambda: self.trace().count(line) >= count, timeout)

    def connect(self, port=JOB_PORT, source=CLIENT_ADDRESS):
        client = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        client.bind((source, 0))
        client.settimeout(5)
        client.connect(("127.0.0.1", port))
        return client


def receive_exactly(client, count):
    data = b""
    while len(data) < count:
        chunk = client.recv(count - len(data))
        if not chunk:
            break
        data += chunk
    return data


def closed_by_peer(client, timeout=5.0):
    client.settimeout(timeout)
    try:
        while True:
            if not client.recv(4096):
                return True
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


# An enabled service whose state is the text of "state" beside the script
# (start and stop change it); every call is added to "calls" there.
FAKE_SYSTEMCTL = """#!/bin/sh
here=$(dirname "$0")
echo "$@" >> "$here/calls"
case "$1" in
  is-enabled) echo enabled; exit 0;;
  is-active) s=$(cat "$here/state"); echo "$s"; [ "$s" = active ] && exit 0; exit 3;;
  start) echo active > "$here/state";;
  stop) echo inactive > "$here/state";;
esac
exit 0
"""


def fake_systemctl(receiver, state="active"):
    """Puts FAKE_SYSTEMCTL first on the receiver's PATH; returns its folder."""
    folder = os.path.join(receiver.root, "fakebin")
    os.makedirs(folder)
    write_file(os.path.join(folder, "systemctl"), FAKE_SYSTEMCTL, 0o755)
    write_file(os.path.join(folder, "state"), state + "\n")
    receiver.env["PATH"] = folder + ":" + receiver.env["PATH"]
    return folder


def window_message(number, wparam=0, lparam=0):
    return struct.pack("<IQq", number, wparam, lparam)


def post(paths, number, wparam=0, lparam=0):
    """Sends one window message to each endpoint, as the caller's account."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as sender:
        for path in paths:
            sender.sendto(window_message(number, wparam, lparam), path)
    return "ok"


def main_window(root):
    """The endpoint of the main window of the receiver under root."""
    windows = os.path.join(root, "run/quillbox/windows")
    return os.path.join(windows, os.readlink(os.path.join(windows, "class-MENU")))


def shell(command):
    """Runs a shell command; True when it succeeded."""
    return subprocess.run(command, shell=True, capture_output=True, text=True).returncode == 0


def join_peer_namespace(test, tag, link):
    """A network namespace of the test's own joined to ours by a veth pair:
    our end gets link + "1", the namespace's end link + "2" (a /24 prefix).
    Returns (namespace, our end, its end); the test is skipped where
    namespaces are not allowed, and everything goes at its clean-up (root
    only)."""
    suffix = str(os.getpid() % 100000)
    ns, near, far = "qb%sm%s" % (tag, suffix), "qb%sa%s" % (tag, suffix), "qb%sb%s" % (tag, suffix)
    if not shell("ip netns add " + ns):
        test.skipTest("network namespaces are not allowed here")
    test.addCleanup(shell, "ip netns del " + ns)
    test.assertTrue(shell("ip link add %s type veth peer name %s" % (near, far)))
    test.addCleanup(shell, "ip link del " + near)
    inside = "ip netns exec %s " % ns
    for command in ("ip link set %s netns %s" % (far, ns),
                    "ip addr add %s1/24 dev %s" % (link, near),
                    "ip link set %s up" % near,
                    inside + "ip addr add %s2/24 dev %s" % (link, far),
                    inside + "ip link set %s up" % far,
                    inside + "ip link set lo up"):
        test.assertTrue(shell(command), command)
    return ns, near, far
