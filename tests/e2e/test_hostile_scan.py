"""Hostile and broken clients against the real receiver: neither a full
descriptor table nor a flood of datagrams costs a busy core (process CPU
time from /proc, not wall time)."""
import os
import resource
import socket
import subprocess
import time
import unittest

from receiver import JOB_PORT, OK, Receiver, cpu_share, receive_exactly, wait_until
from test_name_service import datagram, read_ini, wait_for_name_service

NAME_PORT = 37010


class BusyLoops(unittest.TestCase):
    def test_the_soft_descriptor_limit_is_raised_to_the_hard_one(self):
        with Receiver(settings="[DEBUG]\nTrace=0\n", prefix=["prlimit", "--nofile=256:4096"]) as receiver:
            self.assertEqual(resource.prlimit(receiver.process.pid, resource.RLIMIT_NOFILE), (4096, 4096))

    def test_a_full_descriptor_table_costs_no_busy_core(self):
        with Receiver(settings="[DEBUG]\nTrace=0\n", prefix=["prlimit", "--nofile=64:64"]) as receiver:
            clients = []
            try:
                for i in range(120):
                    client = socket.socket()
                    client.bind(("127.0.%d.%d" % (1 + i // 200, 2 + i % 200), 0))
                    client.setblocking(False)
                    client.connect_ex(("127.0.0.1", JOB_PORT))
                    clients.append(client)
                # The trace file cannot be opened then: the unit tests count its lines.
                time.sleep(0.5)
                share = cpu_share(receiver.process.pid)
                self.assertLess(share, 0.05)
            finally:
                for client in clients:
                    client.close()
            # Freed descriptors are used again: a printer is served.
            self.assertTrue(wait_until(lambda: self.greeted(receiver), 10))

    @staticmethod
    def greeted(receiver):
        try:
            client = receiver.connect(JOB_PORT, source="127.0.9.9")
            client.settimeout(2)
            with client:
                return receive_exactly(client, 4) == OK
        except OSError:
            return False


class NameServiceFlood(unittest.TestCase):
    def test_a_flood_costs_no_busy_core(self):
        with Receiver(settings="[DEBUG]\nTrace=0\n") as receiver:
            time.sleep(0.3)
            flood = subprocess.Popen(["python3", "-c", FLOOD, "4"])
            try:
                share = cpu_share(receiver.process.pid)
            finally:
                flood.wait(timeout=10)
            self.assertEqual(flood.returncode, 0)
            self.assertLess(share, 0.05)
            self.assertIsNone(receiver.process.poll())

    def test_service_mode_writes_the_table_at_most_once_a_second(self):
        service = Receiver()
        self.addCleanup(service.__exit__, None, None, None)
        service.start(["QBXSVC"])
        wait_for_name_service(self, service)
        sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sender.bind(("127.0.0.2", 0))
        for i in range(10):
            sender.sendto(datagram(0x09090002, "printer%d" % (i % 3)), ("127.0.0.1", NAME_PORT))
        sender.close()
        path = os.path.join(service.data, "tvqnhost.ini")
        self.assertTrue(wait_until(lambda: os.path.exists(path) and
                                   ("host", "scanner01") in read_ini(path), 3))
        time.sleep(1.5)
        # Loaded as 1; ten recorded requests wrote it twice each before.
        self.assertLessEqual(int(read_ini(path)[("id", "id")]), 3)
        self.assertEqual(service.stop(), 0)


# Sends name requests as fast as it can for the given seconds, from many
# claimed senders on loopback: about 60,000 a second or more.
FLOOD = r"""
import socket, struct, sys, time
socks = []
for i in range(16):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.2.%d" % (i + 1), 0))
    s.setblocking(False)
    socks.append(s)
request = struct.pack(">II", 0x09090004, 1) + b"flood".ljust(288, b"\0")
end = time.time() + float(sys.argv[1])
sent = 0
while time.time() < end:
    for s in socks:
        try:
            s.sendto(request, ("127.0.0.1", 37010))
            sent += 1
        except BlockingIOError:
            pass
print("sent", sent, file=sys.stderr)
"""


if __name__ == "__main__":
    unittest.main()
