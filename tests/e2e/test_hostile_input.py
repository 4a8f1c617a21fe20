"""Random and half-valid packets on both ports: the receiver answers or
ignores them, never crashes, and still serves a well-behaved printer.
Deeper conversations are the work of the fuzz_job_stream and
fuzz_direct_stream targets, in-process."""
import os
import random
import struct
import unittest

from receiver import DIRECT_PORT, JOB_PORT, OK, Receiver, packet, receive_exactly


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
        rng = random.Random(int(os.environ.get("QB_FUZZ_SEED", "20261205")))
        with Receiver(settings="[DEBUG]\nTrace=0\n") as receiver:
            os.makedirs(os.path.join(receiver.add_destination(1, "d1"), "sub"))
            greeted = 0
            for round_number in range(1500):
                port = rng.choice([JOB_PORT, DIRECT_PORT])
                # A fresh source address each time (any 127.x but 127.0.0.1):
                # a printer that earned a lock-out would otherwise be turned
                # away unheard.
                source = "127.%d.%d.%d" % (rng.randrange(1, 255), rng.randrange(256), rng.randrange(1, 255))
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
            self.assertEqual(receiver.temp_files(), [])

if __name__ == "__main__":
    unittest.main()
