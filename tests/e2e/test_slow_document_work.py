"""A slow extension library holds up only the printer whose document it
handles: other printers' documents go through at their usual pace, and a
stop does not wait for the library."""

import os
import signal
import subprocess
import time
import unittest

from receiver import SENDSCAN, sendscan
from test_scan_documents import EXTENSION, DocumentReceiver

SLOW_MS = 2000


def start_send(*args):
    return subprocess.Popen([SENDSCAN, "--timeout", "20"] + [str(a) for a in args],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def timed_send(*args):
    started = time.monotonic()
    code, out = sendscan(*args, reply_timeout=20)
    return code, out, time.monotonic() - started


class SlowExtension(unittest.TestCase):
    def receiver(self):
        return DocumentReceiver(extension=EXTENSION,
                                env={"QUERN_EXT_EXAMPLE_SLEEP_MS": str(SLOW_MS),
                                     "QUERN_EXT_EXAMPLE_LOG": os.devnull})

    def test_other_printers_are_not_held_up(self):
        with self.receiver() as receiver:
            # Without meta data the library is not called: the usual pace.
            code, out, alone = timed_send("raw", 1, "--source", "127.0.0.3", "--doc-name", "a")
            self.assertEqual(code, 0, out)

            # A sender-name record: the library runs before the answer, so
            # this printer waits for it ...
            slow = start_send("raw", 1, "--source", "127.0.0.2", "--doc-name", "slow",
                              "--skan-sender", "Desk")
            time.sleep(0.3)
            # ... while another printer's document goes through meanwhile.
            code, out, beside = timed_send("raw", 1, "--source", "127.0.0.4", "--doc-name", "b")
            print("document alone %.3f s, beside a %d ms library %.3f s" % (alone, SLOW_MS, beside))
            self.assertEqual(code, 0, out)
            self.assertLess(beside, alone + 0.5)
            self.assertIsNone(slow.poll(), "the slow document was answered before its library ran")
            slow_out, _ = slow.communicate(timeout=30)
            self.assertEqual(slow.returncode, 0, slow_out)
            self.assertEqual(len(receiver.files()), 3)

    def test_stop_does_not_wait_for_the_library(self):
        with self.receiver() as receiver:
            slow = start_send("raw", 1, "--source", "127.0.0.2", "--doc-name", "slow",
                              "--skan-sender", "Desk")
            self.assertTrue(receiver.wait_for_trace("  Debug T3 rcvImgNum=1", timeout=10))
            time.sleep(0.2)  # the library is running now
            started = time.monotonic()
            receiver.process.send_signal(signal.SIGTERM)
            receiver.process.wait(timeout=10)
            took = time.monotonic() - started
            slow.communicate(timeout=30)
            print("stop with the library running: %.3f s" % took)
            self.assertLess(took, 1.0)
            # The document was stored before the library was called.
            self.assertEqual(len(receiver.files()), 1)


if __name__ == "__main__":
    unittest.main()
