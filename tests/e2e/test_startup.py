import os
import queue
import threading
import signal
import socket
import struct
import subprocess
import time
import unittest

from receiver import (DIRECT_PORT, JOB_PORT, NG_JOB_LIMIT, OK, Receiver, BINARY, closed_by_peer,
                      listening, post, read_file, receive_exactly, wait_until, write_file)

RECORD_FORMAT = "<32s9i"  # tag, configPresent, configWindow, commPresent, commWindow,
                          # commState, hddState, three reserved words


def read_record(receiver):
    data = read_file(os.path.join(receiver.root, "run/quillbox/TvScannerQuernConf"), binary=True)
    tag, *words = struct.unpack(RECORD_FORMAT, data[:68])
    return tag.split(b"\0")[0].decode(), words


def wait_for_record(receiver, timeout=10.0):
    """The record is filled at the end of start-up, a moment after the ports
    open: wait until this program has marked itself present."""
    path = os.path.join(receiver.root, "run/quillbox/TvScannerQuernConf")
    if not wait_until(lambda: os.path.exists(path) and os.path.getsize(path) >= 68
                      and read_record(receiver)[1][2] == 1, timeout):
        raise AssertionError("the shared record was not filled")
    return read_record(receiver)


def write_record_words(receiver, config_present, config_window):
    path = os.path.join(receiver.root, "run/quillbox/TvScannerQuernConf")
    with open(path, "r+b") as handle:
        handle.seek(32)
        handle.write(struct.pack("<2i", config_present, config_window))


class FakeConfigWindow:
    """The configuration program's window: a datagram endpoint that answers
    every message at once (from its own thread, as a program would), or,
    with answers=False, reads every message and never answers one."""

    def __init__(self, receiver, handle=424242, answers=True):
        self.handle = handle
        self.answers = answers
        self.path = os.path.join(receiver.root, "run/quillbox/windows", str(handle))
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(self.path)
        self.messages = queue.Queue()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                data, sender = self.sock.recvfrom(64)
            except OSError:
                return
            if sender and self.answers:
                self.sock.sendto(struct.pack("<q", 0), sender)
            self.messages.put(struct.unpack("<IQq", data))

    def next_message(self, skip=()):
        while True:
            message = self.messages.get(timeout=5)
            if message not in skip:
                return message

    def close(self):
        self.sock.close()
        os.unlink(self.path)


class Startup(unittest.TestCase):
    def test_second_instance_is_refused_and_the_first_runs_on(self):
        with Receiver() as receiver:
            second = subprocess.run([BINARY], env=receiver.env, capture_output=True, timeout=10)
            self.assertEqual(second.returncode, 3)
            self.assertIn(b"Error: Quillbox is Already running", second.stderr)
            self.assertIsNone(receiver.process.poll())
            self.assertEqual(receive_exactly(receiver.connect(), 4), OK)

    def test_shared_record_follows_the_program_and_the_config_window_hears_of_jobs(self):
        with Receiver() as receiver:
            wait_for_record(receiver)
            # The start-up probe's connection shows as busy (17) for a moment:
            # the record is read once it is gone, and before we listen.
            self.assertTrue(wait_until(lambda: any(
                l.startswith("Connection closed") for l in receiver.trace())))
            self.assertTrue(wait_until(lambda: read_record(receiver)[1][4] == 16))
            tag, words = read_record(receiver)
            self.assertEqual(tag, "COMMUNICATE")
            config_present, config_window, comm_present, comm_window, comm_state = words[:5]
            self.assertEqual((config_present, config_window, comm_present, comm_state), (0, 0, 1, 16))
            self.assertNotEqual(comm_window, 0)
            window = FakeConfigWindow(receiver)
            write_record_words(receiver, 1, window.handle)
            client = receiver.connect()
            self.assertEqual(receive_exactly(client, 4), OK)
            # The start-up probe's idle status is sent just after its "closed"
            # line, so it may still reach a window announced right then.
            self.assertEqual(window.next_message(skip=[(1025, 2, 0)]), (1025, 1, 1))
            self.assertTrue(wait_until(lambda: read_record(receiver)[1][4] == 17))
            client.close()
            self.assertEqual(window.next_message(), (1025, 2, 0))
            self.assertTrue(wait_until(lambda: read_record(receiver)[1][4] == 16))

            self.assertEqual(receiver.stop(), 0)
            tag, words = read_record(receiver)
            self.assertEqual(tag, "CONFSET")  # the configuration program is still there
            self.assertEqual(words[2:4], [0, 0])
            window.close()

    def test_main_window_commands_from_other_processes(self):
        settings = "[DEBUG]\nTrace=2\n[MANAGEMENT]\nList=2\n"
        with Receiver(settings=settings) as receiver:
            log = os.path.join(receiver.data, "tvscanlog_f.bin")
            write_file(log, "".join("2026/01/0%d 10:00 *;p;f%d.pdf;1;/x\n" % (i, i)
                                    for i in range(1, 6)))
            self.assertTrue(wait_until(lambda: any(
                l.startswith("Connection closed") for l in receiver.trace())))
            wait_for_record(receiver)
            window = FakeConfigWindow(receiver)
            write_record_words(receiver, 1, window.handle)
            main_window = read_record(receiver)[1][3]
            endpoint = os.path.join(receiver.root, "run/quillbox/windows", str(main_window))
            # WM_COMMAND 1015 with tray state 3: disk full is published and announced.
            post([endpoint], 0x111, 1015, 3)
            self.assertEqual(window.next_message(skip=[(1025, 2, 0)]), (1025, 4, 0))
            self.assertTrue(wait_until(lambda: read_record(receiver)[1][5] == 512))
            # WM_COMMAND 1026 with 1: the receive log is trimmed to List entries.
            post([endpoint], 0x111, 1026, 1)
            self.assertTrue(wait_until(lambda: open(log).read().count(".pdf") == 2))
            self.assertIn("f5.pdf", open(log).read())
            window.close()

    def test_the_fax_companion_hears_of_the_end(self):
        with Receiver() as receiver:
            companion = FakeConfigWindow(receiver, handle=515151)
            os.symlink("515151", os.path.join(receiver.root,
                                              "run/quillbox/windows/class-TVFAXRCVHANDLE2QBX"))
            self.assertEqual(receiver.stop(), 0)
            self.assertEqual(companion.next_message(), (1029, 0, 0))
            companion.close()

    def test_a_configuration_program_tag_is_left_alone(self):
        receiver = Receiver()
        os.makedirs(os.path.join(receiver.root, "run/quillbox"))
        write_file(os.path.join(receiver.root, "run/quillbox/TvScannerQuernConf"),
                   struct.pack(RECORD_FORMAT, b"CONFSET", 1, 777, 0, 0, 0, 0, 5, 6, 7))
        with receiver:
            tag, words = wait_for_record(receiver)
            self.assertEqual(tag, "CONFSET")
            self.assertEqual(words[:3], [1, 777, 1])
            self.assertEqual(words[6:], [0, 0, 0])

    def test_sigterm_ends_quickly_and_clears_the_connected_list(self):
        with Receiver() as receiver:
            wait_for_record(receiver)
            client = receiver.connect()
            self.assertEqual(receive_exactly(client, 4), OK)
            self.assertRegex(read_file(receiver.settings_path),
                             r"Scanner1=127\.0\.0\.2,\d+,\d\d:\d\d:\d\d\n")
            started = time.time()
            self.assertEqual(receiver.stop(signal.SIGTERM), 0)
            self.assertLess(time.time() - started, 1.0)
            self.assertEqual(read_record(receiver)[1][2], 0)
            self.assertNotIn("Scanner", read_file(receiver.settings_path))
            self.assertTrue(closed_by_peer(client))

    def test_connection_limit_is_read_once_at_start(self):
        with Receiver(settings="[MANAGEMENT]\nMaxConnectNum=1\n") as receiver:
            write_file(receiver.settings_path, "[MANAGEMENT]\nMaxConnectNum=30\n")
            first = receiver.connect()
            self.assertEqual(receive_exactly(first, 4), OK)
            self.assertEqual(receive_exactly(receiver.connect(), 4), NG_JOB_LIMIT)

    def test_runs_on_defaults_without_a_data_folder(self):
        with Receiver(data_folder=False) as receiver:
            self.assertEqual(receive_exactly(receiver.connect(), 4), OK)
            self.assertEqual(receiver.trace(), [])  # Trace defaults to off
            self.assertFalse(os.path.exists(receiver.data))

    def test_service_mode_skips_the_shared_record(self):
        service = Receiver()
        self.addCleanup(service.__exit__, None, None, None)
        service.start(["QBXSVC"])
        self.assertTrue(service.wait_for_trace(" Service QBX Start !!!"))
        self.assertEqual(receive_exactly(service.connect(DIRECT_PORT), 4), OK)
        self.assertFalse(os.path.exists(
            os.path.join(service.root, "run/quillbox/TvScannerQuernConf")))
        self.assertEqual(service.stop(), 0)

    def test_other_command_lines_are_desktop_starts(self):
        for args in (["qbxsvc"], ["QBXSVC "], ["QBXSVC", "x"]):
            receiver = Receiver()
            self.addCleanup(receiver.__exit__, None, None, None)
            receiver.start(args)
            self.assertTrue(receiver.wait_for_trace(" Normal QBX Start !!!"), args)
            self.assertEqual(receiver.stop(), 0)

    def test_an_installed_companion_service_makes_a_desktop_instance_without_server(self):
        receiver = Receiver()
        fake_bin = os.path.join(receiver.root, "fakebin")
        os.makedirs(fake_bin)
        write_file(os.path.join(fake_bin, "systemctl"),
                   "#!/bin/sh\n[ \"$1\" = is-enabled ] && { echo disabled; exit 1; }\n"
                   "echo inactive; exit 3\n", 0o755)
        receiver.env["PATH"] = fake_bin + ":" + receiver.env["PATH"]
        self.addCleanup(receiver.__exit__, None, None, None)
        receiver.start(wait_for_port=False)
        self.assertTrue(receiver.wait_for_trace(" Desktop QBX Start !!!(0)"))
        self.assertIn("--- !! Service is Mukou !!--", receiver.trace())
        self.assertFalse(listening(JOB_PORT))
        self.assertEqual(receiver.stop(), 0)


if __name__ == "__main__":
    unittest.main()
