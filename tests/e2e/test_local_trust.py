"""Another local account against the receiver, as on a shared machine: an
outsider (uid nobody, in no group of the program's) can neither write the
receiver's files nor command, stop or crash any instance (normal, service,
desktop) through its window endpoints, not even with a socket handed to it;
a member of the program's group still can. In service mode a program is run
only from files nobody else can change, and a desktop instance ended by its
session leaves the service running. Root only: the test acts as the other
accounts by forking and dropping its ids."""
import json
import os
import pwd
import socket
import stat
import struct
import subprocess
import time
import unittest

from receiver import (BINARY, CLIENT_ADDRESS, Receiver, fake_systemctl, post, read_file, sendscan,
                      wait_until, window_message, write_file)

WM_DESTROY, WM_CLOSE, WM_COMMAND = 0x2, 0x10, 0x111
TRAY_MESSAGE, LEFT_DOUBLE_CLICK = 0x400 + 10, 0x203
SERVICE_END = 32778
# Everything that ends, stops or starts something, or launches a program.
HOSTILE_MESSAGES = [(WM_CLOSE, 0, 0), (WM_DESTROY, 0, 0), (WM_COMMAND, 40004, 0),
                    (WM_COMMAND, 1002, 0), (SERVICE_END, 0, 0), (WM_COMMAND, 40008, 0),
                    (WM_COMMAND, 40007, 0), (WM_COMMAND, 40006, 0),
                    (TRAY_MESSAGE, 101, LEFT_DOUBLE_CLICK)]
NOBODY = pwd.getpwnam("nobody").pw_uid
OUTSIDER_GROUP = pwd.getpwnam("nobody").pw_gid
GROUP = 4242  # the program's group of this test: no account has it
REFUSED_LINE = "Window message from uid %d" % NOBODY

def run_as(uid, gid, action):
    """Runs action() in a child with those ids and no other groups; returns
    what it returned (JSON-able), or "error: ..." for an exception."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.close(read_end)
            os.setgroups([])
            os.setgid(gid)
            os.setuid(uid)
            result = action()
        except BaseException as error:  # the parent judges it
            result = "error: %r" % error
        os.write(write_end, json.dumps(result).encode())
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as reader:
        data = reader.read()
    os.waitpid(pid, 0)
    return json.loads(data)


def endpoints(root):
    windows = os.path.join(root, "run/quillbox/windows")
    return [os.path.join(windows, name) for name in os.listdir(windows) if name.isdigit()]


def entries(folder):
    """Every entry below folder (links not followed), folder included."""
    return [folder] + [os.path.join(base, name) for base, folders, files in os.walk(folder)
                       for name in folders + files]


def try_to_write(paths):
    """As the caller's account: {path: "denied"|"opened"|other error} for
    opening each regular file for writing, sending to each socket."""
    results = {}
    for path in paths:
        try:
            if stat.S_ISSOCK(os.lstat(path).st_mode):
                with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as sender:
                    sender.sendto(window_message(WM_CLOSE), path)
            else:
                os.close(os.open(path, os.O_WRONLY))
            results[path] = "opened"
        except PermissionError:
            results[path] = "denied"
        except OSError as error:
            results[path] = "error %d" % error.errno
    return results


@unittest.skipUnless(os.geteuid() == 0, "acts as other accounts: needs root")
class LocalTrust(unittest.TestCase):
    def setUp(self):
        # An installation's shape: the tree traversable by all, the data and
        # run-time folders the program group's (as the package makes them),
        # files an older version left writable by everyone.
        self.receiver = Receiver()
        self.root = self.receiver.root
        os.chmod(self.root, 0o755)
        for folder, mode in ((self.receiver.data, 0o2775), (os.path.join(self.root, "run"), 0o755),
                             (os.path.join(self.root, "run/quillbox"), 0o2775)):
            os.makedirs(folder, exist_ok=True)
            os.chown(folder, 0, GROUP)
            os.chmod(folder, mode)
        self.conf = os.path.join(self.root, "conf")
        os.makedirs(self.conf)
        os.chmod(self.conf, 0o755)
        self.marker = os.path.join(self.root, "launched")
        self.dest = os.path.join(self.root, "srv/dest1")
        os.makedirs(self.dest)
        self.write_file(self.receiver.settings_path,
                        "[DEBUG]\nTrace=2\n[RCVFAX]\nUSESMTP=0\n[PATH]\nCONF=%s\n" % self.conf, 0o666)
        self.write_file(os.path.join(self.receiver.data, "tvscan_f.bin"),
                        "1;%s;Front desk;;\n" % self.dest, 0o666)
        for program in ("QuernConf.exe", "PF_QBX.exe"):
            self.write_file(os.path.join(self.conf, program),
                            "#!/bin/sh\necho %s >> %s\n" % (program, self.marker), 0o755)
        self.others = []

    def tearDown(self):
        for process in self.others:
            if process.poll() is None:
                process.kill()
                process.wait()
        self.receiver.__exit__(None, None, None)

    @staticmethod
    def write_file(path, text, mode):
        write_file(path, text)
        os.chown(path, 0, GROUP)  # as a file of the set-group-id data folder
        os.chmod(path, mode)

    def launched(self):
        return read_file(self.marker).split() if os.path.exists(self.marker) else []

    def assert_outsider_changes_nothing(self, *processes):
        """Nothing of the data and run-time folders is writable by others
        (so no file there can be replaced or removed), and the outsider can
        open or send to none of it. Its window messages, even over sockets
        root connected to every endpoint and handed on to it (the kernel
        still names the real sender), end, start or launch nothing: each
        instance traces one line about them however many came."""
        paths = entries(self.receiver.data) + entries(os.path.join(self.root, "run/quillbox"))
        for path in paths:
            try:
                mode = os.lstat(path).st_mode
            except FileNotFoundError:
                continue  # replaced meanwhile (the tray file's new text goes in beside it)
            if not stat.S_ISLNK(mode):
                self.assertEqual(mode & 0o002, 0, "%s is %o" % (path, mode))
        results = run_as(NOBODY, OUTSIDER_GROUP, lambda: try_to_write(
            [p for p in paths if not os.path.isdir(p) and not os.path.islink(p)]))
        self.assertIsInstance(results, dict, results)
        # "error 2": gone before the outsider tried, so not written either.
        self.assertEqual({p: r for p, r in results.items() if r not in ("denied", "error 2")}, {})

        paths = endpoints(self.root)
        senders = [socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) for _ in paths]
        for sender, path in zip(senders, paths):
            sender.connect(path)

        def send():  # as the outsider: how many datagrams went out
            return sum(sender.send(window_message(*message)) > 0
                       for sender in senders for message in HOSTILE_MESSAGES * 5)
        try:
            self.assertEqual(run_as(NOBODY, OUTSIDER_GROUP, send), len(HOSTILE_MESSAGES) * 5 * len(senders))
        finally:
            for sender in senders:
                sender.close()
        time.sleep(1.5)
        for process in processes:
            self.assertIsNone(process.poll())
        self.assertEqual(self.launched(), [])
        self.assertEqual(sum(REFUSED_LINE in line for line in self.receiver.trace()), len(processes))

    def test_normal_instance(self):
        receiver = self.receiver.start()
        tiff = os.path.join(self.root, "page.tif")
        self.assertEqual(sendscan("make-tiff", tiff)[0], 0)
        self.assertEqual(sendscan("send", 1, tiff)[0], 0)
        # The file lands before the hang-up, the log line at it.
        self.assertTrue(wait_until(lambda: os.listdir(self.dest) and
                                   os.path.exists(os.path.join(receiver.data, "tvscanlog_f.bin"))))
        trace = receiver.trace()
        for name in ("quern.ini", "tvscan_f.bin"):
            self.assertIn(" Write access of other accounts removed: %s"
                          % os.path.join(receiver.data, name), trace)
        self.assertEqual(os.stat(os.path.join(receiver.data, "tvscanlog_f.bin")).st_mode & 0o777, 0o660)
        self.assertEqual(os.stat(os.path.join(self.dest, os.listdir(self.dest)[0])).st_mode & 0o777,
                         0o660)
        self.assert_outsider_changes_nothing(receiver.process)

        record = os.path.join(self.root, "run/quillbox/TvScannerQuernConf")
        # A member of the group does what the configuration program does:
        # changes the settings, opens the configuration program, closes.
        def member():
            with open(receiver.settings_path, "a") as handle:
                handle.write("\n")
            return post(endpoints(self.root), WM_COMMAND, 40006)
        if os.path.lexists(record):
            os.unlink(record)  # no configuration program present
        self.assertEqual(run_as(NOBODY, GROUP, member), "ok")
        self.assertTrue(wait_until(lambda: self.launched() == ["QuernConf.exe"]))

        self.assertEqual(run_as(NOBODY, GROUP, lambda: post(endpoints(self.root)[:1], WM_CLOSE)), "ok")
        self.assertEqual(receiver.process.wait(timeout=10), 0)

    def start_desktop(self):
        desktop = subprocess.Popen([BINARY], env=self.receiver.env, stderr=subprocess.DEVNULL)
        self.others.append(desktop)
        count = len([l for l in self.receiver.trace() if l.startswith(" Desktop QBX Start")])
        self.assertTrue(wait_until(lambda: len(
            [l for l in self.receiver.trace() if l.startswith(" Desktop QBX Start")]) > count))
        return desktop

    def test_service_and_desktop_instances(self):
        calls = os.path.join(fake_systemctl(self.receiver), "calls")
        service = self.receiver.start(["QBXSVC"])
        desktop = self.start_desktop()
        self.assertTrue(wait_until(lambda: len(endpoints(self.root)) == 2))
        self.assert_outsider_changes_nothing(service.process, desktop)
        self.assertEqual([c for c in read_file(calls).split("\n") if c.startswith(("start", "stop"))], [])

        # A log-out ends the desktop instance only; a hang-up means nothing
        # to the service.
        desktop.send_signal(1)  # SIGHUP
        self.assertEqual(desktop.wait(timeout=10), 0)
        self.start_desktop().terminate()
        self.assertEqual(self.others[-1].wait(timeout=10), 0)
        service.process.send_signal(1)
        time.sleep(0.5)
        self.assertIsNone(service.process.poll())
        self.assertNotIn("stop", read_file(calls))

        # A member may stop the service as the companion service would.
        self.assertEqual(run_as(NOBODY, GROUP, lambda: post(endpoints(self.root), SERVICE_END)), "ok")
        self.assertEqual(service.process.wait(timeout=10), 0)

    def test_service_runs_only_programs_nobody_else_can_change(self):
        service = self.receiver.start(["QBXSVC"])
        self.assertTrue(service.wait_for_trace(" QN:FD_WRITE Receive"))
        program = os.path.join(self.conf, "PF_QBX.exe")

        def fax_notice(name):
            body = struct.pack(">II", 0x09090019, 1) + name.encode()
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
                sender.bind((CLIENT_ADDRESS, 0))
                sender.sendto(body + b"\0" * (296 - len(body)), ("127.0.0.1", 37010))

        # The program is another account's: refused, said in the trace (the
        # unit tests hold the other cases).
        os.chown(program, NOBODY, OUTSIDER_GROUP)
        fax_notice("firstpc")
        self.assertTrue(wait_until(lambda: any(
            l.startswith(" Refused to run %s: %s is owned by uid %d" % (program, program, NOBODY))
            for l in service.trace())))
        time.sleep(0.3)
        self.assertEqual(self.launched(), [])
        os.chown(program, 0, 0)
        # The service's own: run.
        fax_notice("secondpc")
        self.assertTrue(wait_until(lambda: self.launched() == ["PF_QBX.exe"]))
        self.assertEqual(service.stop(), 0)


if __name__ == "__main__":
    unittest.main()
