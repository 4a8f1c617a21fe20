"""A receiver killed in the middle of a document (SIGKILL, as a power loss
would) leaves nothing that looks like a scan, and the next start clears what
it was writing; a document that was answered stays whatever comes after."""
import os
import signal
import subprocess
import tempfile
import time
import unittest

from receiver import SENDSCAN, sendscan
from test_scan_documents import DocumentReceiver


def big_tiff(path, megabytes):
    """A little-endian TIFF header followed by filler: the receiver only
    checks the format at the page end, which this test never lets it reach."""
    with open(path, "wb") as handle:
        handle.write(b"II*\x00\x08\x00\x00\x00")
        handle.writelines([bytes(range(256)) * 4096] * megabytes)


class CrashSafety(unittest.TestCase):
    def test_killed_mid_document_leaves_no_partial_scan(self):
        scratch = tempfile.mkdtemp(prefix="qb-crash-")
        path = os.path.join(scratch, "big_000.tif")
        big_tiff(path, 400)
        receiver = DocumentReceiver()
        with receiver:
            # A finished document first: it must survive everything below.
            code, out = sendscan("raw", 1, "--doc-name", "kept")
            self.assertEqual(code, 0, out)
            kept = receiver.files()
            self.assertEqual(kept, ["kept0000_000.tif"])

            sender = subprocess.Popen([SENDSCAN, "--force", "--timeout", "30", "send", "1", path],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            staged = []
            deadline = time.time() + 30
            while time.time() < deadline:
                staged = [n for n in os.listdir(receiver.folder) if n.startswith(".qbx-")]
                if staged and os.path.getsize(os.path.join(receiver.folder, staged[0])) > 1 << 20:
                    break
                time.sleep(0.01)
            self.assertTrue(staged, "the document never started arriving")
            receiver.process.send_signal(signal.SIGKILL)
            receiver.process.wait()
            receiver.process.stderr.close()
            sender.kill()
            sender.wait()
            # Nothing under a real name but the finished document.
            self.assertEqual(receiver.files(), sorted(kept + staged))

            receiver.start()
            self.assertEqual(receiver.files(), kept)
            code, out = sendscan("raw", 1, "--doc-name", "after")
            self.assertEqual(code, 0, out)
            files = receiver.files()
            self.assertEqual(len(files), 2, files)
            self.assertTrue(files[0].startswith("after"), files)
        os.remove(path)
        os.rmdir(scratch)


if __name__ == "__main__":
    unittest.main()
