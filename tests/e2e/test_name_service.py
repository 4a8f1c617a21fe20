"""The name service of the real receiver on its fixed port: replies, and
the host table tvqnhost.ini at shutdown. Replies to port 37010 go to the
asking printer's own 37010, which on this machine belongs to the receiver:
the printer sits in a network namespace of its own (needs root). Which
request kind is answered on which port and recorded is for the in-process
name service tests."""
import configparser
import os
import socket
import struct
import subprocess
import sys
import time
import unittest

from receiver import Receiver, join_peer_namespace, write_file

OWN_NAME = socket.gethostname().split(".")[0][:32]
LINK = "10.213.92."  # a subnet of this test's own


def datagram(command, name, count=1):
    body = struct.pack(">II", command, count) + name.encode()
    return body + b"\0" * (296 - len(body))


def read_ini(path):
    """{(section, key): value}, sections and keys lower-cased."""
    parser = configparser.ConfigParser(interpolation=None)
    parser.read(path)
    return {(section.lower(), key): value for section in parser.sections()
            for key, value in parser[section].items()}


def wait_for_name_service(test, receiver):
    """The scan ports open a moment before the UDP port is bound: a request
    sent in between would be lost. The first write event comes after it."""
    test.assertTrue(receiver.wait_for_trace(" QN:FD_WRITE Receive"))


# Binds port 37010 in the printer's namespace, sends the requests given as
# hex arguments to the receiver, and prints every datagram it hears for the
# given seconds as "hex sender-address".
PRINTER = r'''
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 37010))
print("ready", flush=True)
sys.stdin.readline()
for request in sys.argv[2:]:
    s.sendto(bytes.fromhex(request), ("%s1", 37010))
end = time.time() + float(sys.argv[1])
while time.time() < end:
    s.settimeout(max(0.01, end - time.time()))
    try:
        data, sender = s.recvfrom(1000)
    except socket.timeout:
        break
    print(data.hex(), sender[0], flush=True)
''' % LINK


@unittest.skipUnless(os.geteuid() == 0, "needs root for network namespaces")
class RepliesToPort37010(unittest.TestCase):
    def setUp(self):
        self.ns, self.near, self.far = join_peer_namespace(self, "n", LINK)

    def printer(self, seconds, *requests):
        return subprocess.Popen(["ip", "netns", "exec", self.ns, sys.executable, "-c", PRINTER,
                                 str(seconds)] + [r.hex() for r in requests],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def heard(self, printer):
        out, _ = printer.communicate(timeout=30)
        return [(bytes.fromhex(line.split()[0]), line.split()[1]) for line in out.splitlines()]

    def test_first_kind_requests_are_answered_on_37010_and_the_printer_hears_announcements(self):
        receiver = Receiver()
        self.addCleanup(receiver.__exit__, None, None, None)
        write_file(os.path.join(receiver.data, "tvqnhost.ini"),
                   "[HOST]\nupdate=1\nscanner01=%s,%s2,KNOWN\n" % (time.strftime("%Y%m%d%H%M%S"), LINK))
        # Listening before the receiver starts: its start announces our
        # name to the printers it knows.
        printer = self.printer(3, datagram(0x09090001, OWN_NAME.lower()),
                               datagram(0x09090001, "someone-else"),
                               datagram(0x09090002, "printer-ns"))
        self.assertEqual(printer.stdout.readline().strip(), "ready")
        receiver.start()
        wait_for_name_service(self, receiver)
        printer.stdin.write("go\n")
        printer.stdin.flush()
        heard = self.heard(printer)
        # Each reply's command, the name it carries, and its sender.
        codes = [(struct.unpack(">I", d[:4])[0], d[8:].split(b"\0")[0].decode(), sender)
                 for d, sender in heard]
        self.assertEqual(codes, [(0x09090012, OWN_NAME.upper(), LINK + "1"),
                                 (0x09090011, OWN_NAME.upper(), LINK + "1"),
                                 (0x09090012, OWN_NAME.upper(), LINK + "1")])
        self.assertTrue(all(len(d) == 296 for d, _ in heard))
        self.assertEqual(receiver.stop(), 0)
        table = read_ini(os.path.join(receiver.data, "tvqnhost.ini"))
        self.assertTrue(table[("host", "scanner01")].endswith(",%s2,PRINTER-NS" % LINK))
        self.assertIsNone(table.get(("host", "scanner02")))
        self.assertEqual(table[("host", "update")], "1")


if __name__ == "__main__":
    unittest.main()
