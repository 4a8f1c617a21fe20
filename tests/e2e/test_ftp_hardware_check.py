"""MACAddressCheck on a real link: the receiver admits an FTP client only
when its hardware address carries a printer maker's prefix. The client
lives in a network namespace of its own, joined to ours by a veth pair
whose far end gets the hardware address under test (needs root)."""
import os
import subprocess
import unittest

from receiver import Receiver, join_peer_namespace, shell

FTP_PORT = 2121
LINK = "10.213.91."  # a subnet of this test's own



# Connects from the namespace and prints the first line the server sends,
# or "<closed>" when it hangs up without a word.
CLIENT = r'''
import socket, sys
s = socket.create_connection(("%s1", %d), timeout=5)
data = b""
while not data.endswith(b"\n"):
    chunk = s.recv(100)
    if not chunk:
        break
    data += chunk
print(data.decode().strip() or "<closed>")
''' % (LINK, FTP_PORT)


@unittest.skipUnless(os.geteuid() == 0, "needs root for network namespaces")
class HardwareAddressCheck(unittest.TestCase):
    def setUp(self):
        self.ns, self.near, self.far = join_peer_namespace(self, "f", LINK)

    def in_ns(self, command):
        return shell("ip netns exec %s %s" % (self.ns, command))

    def greeting_for(self, hardware_address):
        self.assertTrue(self.in_ns("ip link set %s address %s" % (self.far, hardware_address)))
        shell("ip neigh flush dev " + self.near)
        result = subprocess.run(["ip", "netns", "exec", self.ns, "python3", "-c", CLIENT],
                                capture_output=True, text=True, timeout=20)
        return result.stdout.strip()

    def test_only_printers_are_admitted(self):
        settings = ("[DEBUG]\nTrace=2\n[MANAGEMENT]\nFtpPort=%d\nFTP_Support=1\nFTPS_Support=0\n"
                    "MACAddressCheck=1\n" % FTP_PORT)
        with Receiver(settings=settings):
            self.assertTrue(self.greeting_for("02:51:42:00:00:07").startswith("220 "))  # maker A
            self.assertTrue(self.greeting_for("0a:51:44:00:00:08").startswith("220 "))  # maker B
            self.assertEqual(self.greeting_for("02:00:00:12:34:56"), "<closed>")  # someone else


if __name__ == "__main__":
    unittest.main()
