"""Many senders into one destination folder at once: 200 FTP sessions and
50 scan-protocol printers all asking for the name scan.pdf. Every document
arrives whole, under a name of its own, with one receive-log line each."""
import ftplib
import io
import os
import subprocess
import threading
import unittest

from receiver import Receiver, SENDSCAN, listening, read_file, run_together, wait_until
from test_ftp_scanner_session import FTP_PORT, answer

FTP_CLIENTS = 200
PRINTERS = 50


class CrowdReceiver(Receiver):
    """A receiver whose destinations are named folders under srv, with a
    printer's PDF in self.document once started."""

    def __init__(self, port, list_size, *destinations):
        self.port = port
        super().__init__(settings="[MANAGEMENT]\nFtpPort=%d\nFTP_Support=1\nFTPS_Support=0\n"
                                  "OverWrite=0\nMaxConnectNum=100\nList=%d\n" % (port, list_size))
        self.folders = [self.add_destination(number, name, code)
                        for number, (name, code) in enumerate(destinations, 1)]
        self.document = os.path.join(self.root, "scan.pdf")
        made = subprocess.run([SENDSCAN, "make-pdf", self.document], capture_output=True, text=True)
        assert made.returncode == 0, made.stdout + made.stderr
        self.content = read_file(self.document, binary=True)
        self.failures = []
        self.lock = threading.Lock()

    def start(self, args=(), wait_for_port=True):
        """Started, and the FTP server listening too: it opens its port on a
        thread of its own, after the scan ports the base class waits for."""
        super().start(args, wait_for_port)
        if wait_for_port and not wait_until(lambda: listening(self.port), 20):
            raise RuntimeError("the FTP server did not start listening")
        return self

    def fail(self, text):
        with self.lock:
            self.failures.append(text)

    def logged(self, folder):
        """The names the receive log gives for `folder`, sorted."""
        entries = [line.split(";") for line in self.log().splitlines() if ";" in line]
        return sorted(entry[2] for entry in entries if entry[4].endswith(os.path.basename(folder)))


class Crowd(unittest.TestCase):
    def test_no_file_lost_and_no_name_reused(self):
        receiver = CrowdReceiver(FTP_PORT, 1000, ("crowd", ""))
        folder = receiver.folders[0]
        with receiver:
            def ftp_client(i):
                try:
                    client = ftplib.FTP()
                    client.connect("127.0.0.1", FTP_PORT, timeout=60,
                                   source_address=("127.0.%d.%d" % (1 + i // 200, 1 + i % 200), 0))
                    challenge = client.sendcmd("USER ftp%d" % i).split()[1]
                    client.sendcmd("PASS " + answer(challenge))
                    client.storbinary("STOR 1/scan.pdf", io.BytesIO(receiver.content))
                    client.quit()
                except Exception as error:  # reported below
                    receiver.fail("ftp %d: %r" % (i, error))

            def printer(i):
                done = subprocess.run([SENDSCAN, "--timeout", "60", "--source", "127.0.9.%d" % (1 + i),
                                       "send", "1", receiver.document], capture_output=True, text=True)
                if done.returncode != 0:
                    receiver.fail("printer %d: %s" % (i, done.stdout + done.stderr))

            run_together([(ftp_client, FTP_CLIENTS), (printer, PRINTERS)], 180)
            self.assertEqual(receiver.failures, [])
            receiver.stop()
            names = sorted(os.listdir(folder))
            self.assertEqual(len(names), FTP_CLIENTS + PRINTERS, names[:10])
            for name in names:
                self.assertEqual(read_file(os.path.join(folder, name), True), receiver.content, name)
            self.assertEqual(receiver.logged(folder), names)


if __name__ == "__main__":
    unittest.main()
