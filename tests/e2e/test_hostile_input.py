"""Random and half-valid packets on both ports: the receiver answers or
ignores them, never crashes, and still serves a well-behaved printer."""
import os
import random
import socket
import struct
import unittest

from receiver import (DIRECT_PORT, JOB_PORT, OK, Receiver, direct_cipher, packet,
                      random_loopback_source, receive_exactly)


def fuzz_rng():
    return random.Random(int(os.environ.get("QB_FUZZ_SEED", "20261205")))


def add_destination(receiver, access_code=""):
    """Destination 1 of the receiver, with a sub-folder; returns its folder."""
    folder = os.path.join(receiver.root, "srv/d1")
    os.makedirs(os.path.join(folder, "sub"))
    with open(os.path.join(receiver.data, "tvscan_f.bin"), "w") as handle:
        handle.write("1;%s;;%s;\n" % (folder, access_code))
    return folder


def temp_leftovers(receiver):
    return [n for n in os.listdir(os.path.join(receiver.root, "tmp")) if n.startswith("rcvimg")]

CODES = [0x3400, 0x3401, 0x3402, 0x3001, 0x3002, 0x3003, 0x3004, 0x3005, 0x3800, 0x3801]


def hostile_body(rng):
    """A message code the receiver knows (or not) followed by random bytes,
    with offsets that often point past the end."""
    code = rng.choice(CODES + [rng.randrange(0x10000)])
    size = rng.choice([1, 3, 4, 5, 8, 36, 84, 90, 540, 1000, rng.randrange(1, 24577)])
    body = bytearray(rng.getrandbits(8) for _ in range(size))
    body[0:2] = struct.pack(">H", code)[:size]
    if size >= 36 and rng.random() < 0.5:
        body[4:6] = struct.pack(">H", rng.choice([0, 36, 83, 84, 85, 0xFFFF]))
        body[34:36] = struct.pack(">H", rng.choice([0, 40, 84, size, 0xFFFF]))
    return bytes(body)


class HostileInput(unittest.TestCase):
    def test_random_conversations_never_break_the_receiver(self):
        rng = fuzz_rng()
        with Receiver(settings="[DEBUG]\nTrace=0\n") as receiver:
            add_destination(receiver)
            greeted = 0
            for round_number in range(1500):
                port = rng.choice([JOB_PORT, DIRECT_PORT])
                # A fresh source address each time: a printer that earned a
                # lock-out would otherwise be turned away unheard.
                source = random_loopback_source(rng)
                client = receiver.connect(port, source=source)
                client.settimeout(2)
                try:
                    greeted += receive_exactly(client, 4) == OK
                    for _ in range(rng.randrange(1, 12)):
                        data = packet(hostile_body(rng))
                        if rng.random() < 0.1:
                            data = data[:rng.randrange(1, len(data))]  # cut short
                        client.sendall(data)
                except OSError:
                    pass  # the receiver may hang up on us: that is its right
                client.close()
                self.assertIsNone(receiver.process.poll(), "receiver died in round %d" % round_number)
            self.assertGreater(greeted, 1400)
            # Nobody was hurt: a fresh printer is served (from another address,
            # since the random one may have earned a lock-out).
            good = receiver.connect(JOB_PORT, source="127.0.0.3")
            self.assertEqual(receive_exactly(good, 4), OK)
            self.assertEqual(receiver.stop(), 0)
            self.assertEqual(temp_leftovers(receiver), [])

    def test_negotiated_jobs_with_random_pages_and_message_order(self):
        """Past negotiation, where image headers, data and the end messages
        come with odd fields and in any order."""
        rng = fuzz_rng()
        with Receiver(settings="[DEBUG]\nTrace=0\n[MANAGEMENT]\nOverWrite=0\n") as receiver:
            add_destination(receiver)
            for round_number in range(200):
                source = random_loopback_source(rng)
                client = receiver.connect(JOB_PORT, source=source)
                client.settimeout(2)
                try:
                    receive_exactly(client, 4)
                    client.sendall(packet(struct.pack(">HHH", 0x3400, 1, 0)))
                    para = struct.pack(">HHHH", 0x3402, 1, 0, rng.choice([0, 40]))
                    para = (para + b"\0" * 32 + b"NOTE:fuzz").ljust(540, b"\0")
                    client.sendall(packet(para))
                    for _ in range(rng.randrange(1, 10)):
                        client.sendall(packet(self.random_step(rng)))
                except OSError:
                    pass
                client.close()
                self.assertIsNone(receiver.process.poll(), "receiver died in round %d" % round_number)
            self.assertEqual(receiver.stop(), 0)
            self.assertEqual(temp_leftovers(receiver), [])

    def test_enciphered_panel_requests_with_odd_fields(self):
        """Direct-port requests that pass the cipher, with offsets and paths
        pointing anywhere."""
        rng = fuzz_rng()
        with Receiver(settings="[DEBUG]\nTrace=0\n") as receiver:
            folder = add_destination(receiver, "1234")
            for round_number in range(200):
                source = random_loopback_source(rng)
                client = receiver.connect(DIRECT_PORT, source=source)
                client.settimeout(2)
                try:
                    receive_exactly(client, 4)
                    key = "7-%s-0" % source
                    cap = struct.pack(">HHHH", 0x3400, 3, 0, 7).ljust(16, b"\0")
                    client.sendall(packet(direct_cipher("0-%s-0" % source, cap)))
                    length = struct.unpack(">H", receive_exactly(client, 2))[0]
                    reply = direct_cipher(key, receive_exactly(client, length))
                    key = "7-%s-%d" % (source, struct.unpack(">H", reply[14:16])[0])
                    for _ in range(rng.randrange(1, 6)):
                        code = rng.choice([0x3402, 0x3800, 0x3801, 0x3400])
                        size = rng.choice([2, 4, 6, 8, 9, 40, 300, 1000])
                        body = bytearray(rng.getrandbits(8) for _ in range(size))
                        body[0:2] = struct.pack(">H", code)
                        if code == 0x3801 and size >= 40 and rng.random() < 0.7:
                            path = rng.choice([folder, folder + "/sub", "/", "/nonexistent",
                                               folder + "/../../..", "x" * 300]).encode()
                            struct.pack_into(">H", body, 2, 8)
                            body = body[:8] + path + (b"\0" if rng.random() < 0.8 else b"")
                        client.sendall(packet(direct_cipher(key, bytes(body))))
                except OSError:
                    pass
                client.close()
                self.assertIsNone(receiver.process.poll(), "receiver died in round %d" % round_number)
            self.assertEqual(receiver.stop(), 0)

    @staticmethod
    def random_step(rng):
        kind = rng.random()
        if kind < 0.3:
            form = rng.choice([0, 0, 1, 2, 4, 5, 9])
            name = rng.choice([b"TIFF-G4MMR", b"PDF-G4MMR", b"TIFF-G3MH", b"X", b"TOO-LONG-NAME"])
            header = bytearray(84)
            struct.pack_into(">HHHIHHH", header, 0, 0x3001, form, 36,
                             rng.choice([0, 100, 0xFFFFFFFF]), rng.choice([0x200, 0x300, 0x600, 7]),
                             rng.choice([0, 1, 7, 8, 64, 1728, 4961]),
                             rng.choice([0, 1, 3, 50, 2200]))
            struct.pack_into(">HH", header, 22, rng.randrange(4), rng.randrange(2))
            struct.pack_into(">HH", header, 32, rng.randrange(2),
                             rng.choice([37 + len(name), 0, 83, 90, 0xFFFF]))
            header[36:36 + len(name)] = name
            doc = b"doc" + bytes([rng.choice(b"ab./\\:")]) + b".tif\0"
            return bytes(header[:37 + len(name)]) + doc
        if kind < 0.7:
            return bytes(rng.getrandbits(8) for _ in range(rng.choice([5, 8, 216, 1000, 24576])))
        code = rng.choice([0x3002, 0x3003, 0x3004, 0x3005])
        return struct.pack(">HH", code, rng.choice([0, 0, 1, rng.randrange(0x10000)]))


if __name__ == "__main__":
    unittest.main()
