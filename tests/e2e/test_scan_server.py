import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from receiver import (CLIENT_ADDRESS, DIRECT_PORT, JOB_PORT, NG_DISK, OK, Receiver,
                      closed_by_peer, direct_cipher, packet, receive_exactly)


class ScanServer(unittest.TestCase):
    def test_greets_lists_the_printer_and_ends_cleanly(self):
        with Receiver() as receiver:
            client = receiver.connect()
            self.assertEqual(receive_exactly(client, 4), OK)
            with open(receiver.settings_path) as handle:
                self.assertIn("Scanner1=" + CLIENT_ADDRESS + ",", handle.read())
            client.close()
            self.assertTrue(receiver.wait_for_trace(
                next((l for l in receiver.trace() if l.startswith("Connection accepted")), "")
                .replace("accepted", "closed"), timeout=5))
            deadline = time.time() + 5
            while time.time() < deadline:
                with open(receiver.settings_path) as handle:
                    if "Scanner1=" not in handle.read():
                        break
                time.sleep(0.02)
            else:
                self.fail("the closed connection is still listed")
            still_open = receiver.connect()
            self.assertEqual(receive_exactly(still_open, 4), OK)
            self.assertEqual(receiver.stop(signal.SIGTERM), 0)
            self.assertTrue(closed_by_peer(still_open))

    def test_reads_the_windows_directory_settings_of_generation_zero(self):
        with Receiver(settings=None, env={"QUILLBOX_OS_GENERATION": "0"}) as receiver:
            pass
        receiver = Receiver(settings="[DEBUG]\nTrace=0\n", env={"QUILLBOX_OS_GENERATION": "0"})
        with open(os.path.join(receiver.root, "etc/quern.ini"), "w") as handle:
            handle.write("[DEBUG]\nTrace=2\n")
        with receiver:
            self.assertTrue(receiver.wait_for_trace(" Timer Start"))

    def test_runs_on_defaults_without_a_data_folder(self):
        with Receiver(data_folder=False) as receiver:
            client = receiver.connect()
            self.assertEqual(receive_exactly(client, 4), OK)
            self.assertEqual(receiver.trace(), [])  # Trace defaults to off
            self.assertFalse(os.path.exists(receiver.data))

    def test_direct_port_bodies_are_enciphered(self):
        with Receiver() as receiver:
            client = receiver.connect(DIRECT_PORT)
            self.assertEqual(receive_exactly(client, 4), OK)
            key = "0-%s-0" % CLIENT_ADDRESS
            client.sendall(packet(direct_cipher(key, bytes([0x30, 0x01, 0, 0]))))
            self.assertTrue(receiver.wait_for_trace(" RcvMsg:Unknown Message(3001)"))
            client.settimeout(0.5)
            with self.assertRaises(socket.timeout):
                client.recv(1)  # an unknown message is not answered
            # The capability request is understood with both key numbers 0.
            client.sendall(packet(direct_cipher(key, bytes([0x34, 0x00, 0, 1, 0, 0, 0, 0]))))
            self.assertTrue(receiver.wait_for_trace(" RcvMsg:TVS_DIRECT_CAP"))

    def test_hostile_lengths_close_only_their_own_connection(self):
        with Receiver() as receiver:
            stalled = receiver.connect()
            self.assertEqual(receive_exactly(stalled, 4), OK)
            stalled.sendall(b"\x00\x10\x34")  # a body that never completes
            hostile = receiver.connect()
            self.assertEqual(receive_exactly(hostile, 4), OK)
            hostile.sendall(b"\x60\x01" + b"\x00" * 64)
            self.assertTrue(closed_by_peer(hostile))
            self.assertTrue(receiver.wait_for_trace(" JcSockSize=24577(24576)"))
            fresh = receiver.connect(DIRECT_PORT)
            self.assertEqual(receive_exactly(fresh, 4), OK)
            self.assertEqual(receiver.process.poll(), None)

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("mount"), "needs root to mount a tmpfs")
    def test_a_nearly_full_conf_volume_refuses_printers(self):
        mount_point = tempfile.mkdtemp(prefix="qb-small-")
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8m", "tmpfs", mount_point],
                          capture_output=True).returncode != 0:
            os.rmdir(mount_point)
            self.skipTest("tmpfs cannot be mounted here")
        try:
            settings = "[DEBUG]\nTrace=2\n[PATH]\nCONF=%s\n" % mount_point
            with Receiver(settings=settings) as receiver:
                self.assertEqual(receive_exactly(receiver.connect(JOB_PORT), 4), NG_DISK)
                refused = receiver.connect(DIRECT_PORT)
                self.assertEqual(receive_exactly(refused, 4), NG_DISK)
                self.assertFalse(closed_by_peer(refused, timeout=0.5))
        finally:
            subprocess.run(["umount", mount_point])
            os.rmdir(mount_point)


if __name__ == "__main__":
    unittest.main()
