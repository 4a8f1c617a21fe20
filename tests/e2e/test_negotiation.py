"""Capability, parameter and folder requests against the real receiver,
driven by quillbox-sendscan and, for malformed requests, by hand."""
import os
import struct
import subprocess
import unittest

from receiver import (CLIENT_ADDRESS, DIRECT_PORT, JOB_PORT, OK, Receiver, closed_by_peer,
                      direct_cipher, packet, receive_exactly)
from receiver import sendscan as simulator

def sendscan(*args):
    return simulator(*args, reply_timeout=5)


class DestinationReceiver(Receiver):
    """A receiver whose destination 1 is a folder with access code 1234."""

    def __init__(self, settings="[DEBUG]\nTrace=2\n"):
        super().__init__(settings=settings)
        self.folder = os.path.join(self.root, "srv/dest1")
        os.makedirs(self.folder)
        with open(os.path.join(self.data, "tvscan_f.bin"), "w") as handle:
            handle.write("1;%s;Front desk;1234;\n2;%s/gone;;;\n" % (self.folder, self.root))


def receive_body(client, key=None):
    length = struct.unpack(">H", receive_exactly(client, 2))[0]
    body = receive_exactly(client, length)
    return direct_cipher(key, body) if key else body


class Negotiation(unittest.TestCase):
    def test_capability_on_both_ports(self):
        with DestinationReceiver():
            code, out = sendscan("cap")
            self.assertEqual(code, 0, out)
            self.assertIn("formats TIFF-G4MMR, PDF-G4MMR, TIFF-G3MH; server key number 0", out)
            code, out = sendscan("cap", "--direct")
            self.assertEqual(code, 0, out)
            self.assertIn("fillers at 47 and 56 (106 bytes)", out)

    def test_folder_checks_give_the_packed_access_code_or_refuse(self):
        with DestinationReceiver() as receiver:
            for extra in ([], ["--job-port"], ["--job-port", "--para"],
                          ["--job-port", "--file-name", "x", "--sender", "ABC"]):
                code, out = sendscan("check", 1, *extra)
                self.assertEqual(code, 0, out)
                self.assertIn("parameters: accepted, access code FFFF1234", out)
            code, out = sendscan("check", 2)
            self.assertEqual(code, 1)
            self.assertIn("refused, error 0x3E40", out)
            self.assertTrue(receiver.wait_for_trace("  Folder(2) check NG"))
            self.assertTrue(receiver.wait_for_trace("File Name = x"))

    def test_a_refused_panel_request_locks_the_printer_out(self):
        with DestinationReceiver() as receiver:
            code, out = sendscan("check", 1, "--major", 1)  # the panel speaks 3.0
            self.assertEqual(code, 1)
            self.assertIn("0x3E40", out)
            client = receiver.connect(JOB_PORT)
            self.assertTrue(closed_by_peer(client))
            self.assertTrue(receiver.wait_for_trace(" Access locked client:" + CLIENT_ADDRESS))
            code, out = sendscan("cap")
            self.assertEqual(code, 1)

    def test_folder_name_and_sub_folder_listing(self):
        with DestinationReceiver() as receiver:
            for name in ("b", "A", ".hidden"):
                os.makedirs(os.path.join(receiver.folder, name))
            code, out = sendscan("dir-name", 1)
            self.assertEqual(code, 0, out)
            self.assertIn("destination folder: " + receiver.folder, out)
            code, out = sendscan("dir-name", 2)
            self.assertEqual(code, 1)
            self.assertIn("0x3E40", out)
            code, out = sendscan("dir-list", receiver.folder)
            self.assertEqual(code, 0, out)
            self.assertIn("sub-folders: 3\n  ..\n  A\n  b\n", out)
            code, out = sendscan("dir-list", receiver.folder + "/none")
            self.assertIn("sub-folders: 0", out)

    def test_a_fax_notice_to_destination_zero_is_logged(self):
        with DestinationReceiver() as receiver:
            client = receiver.connect(JOB_PORT)
            self.assertEqual(receive_exactly(client, 4), OK)
            client.sendall(packet(struct.pack(">HHH", 0x3400, 1, 0)))
            self.assertEqual(len(receive_body(client)), 106)
            notice = bytearray(80)
            notice[0:9] = b"QNF_NOTI:"
            struct.pack_into(">HH", notice, 14, 40, 60)  # date text, sender
            notice[40:57] = b"2021.03.04.05.06\0"
            notice[60:70] = b"FAX SENDER"
            request = struct.pack(">HHHH", 0x3402, 0, 0, 26) + bytes(18) + bytes(notice)
            client.sendall(packet(request))
            self.assertEqual(receive_body(client), struct.pack(">HHHI", 0x3411, 1, 0, 0xFFFFFFFF))
            with open(os.path.join(receiver.data, "tvscanlog_f.bin"), "rb") as handle:
                self.assertIn(b"FAX SENDER", handle.read())

    def test_malformed_direct_requests_are_answered_without_harm(self):
        with DestinationReceiver() as receiver:
            client = receiver.connect(DIRECT_PORT)
            self.assertEqual(receive_exactly(client, 4), OK)
            zero = "0-%s-0" % CLIENT_ADDRESS
            client.sendall(packet(direct_cipher(zero, struct.pack(">HHHH", 0x3400, 3, 0, 5))))
            reply = receive_body(client, "5-%s-0" % CLIENT_ADDRESS)
            self.assertEqual(reply[10:14], b"\x2f\x00\x38\x00")
            key = "5-%s-%d" % (CLIENT_ADDRESS, struct.unpack(">H", reply[14:16])[0])
            # A listing whose path offset points past the request lists nothing.
            client.sendall(packet(direct_cipher(key, struct.pack(">HH", 0x3801, 900))))
            self.assertEqual(receive_body(client, key), struct.pack(">HHHH", 0x3811, 1, 0, 0))
            # A folder-name request cut inside its number reads destination 0.
            client.sendall(packet(direct_cipher(key, struct.pack(">HB", 0x3800, 1))))
            self.assertEqual(receive_body(client, key), struct.pack(">HHHH", 0x3810, 0, 0x3E40, 0))
            self.assertTrue(receiver.wait_for_trace("DT_DIRECT_DIR_LISTRES: dataLEngth = 8"))


if __name__ == "__main__":
    unittest.main()
