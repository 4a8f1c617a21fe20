"""Many senders into one destination folder at once: 200 FTP sessions and
50 scan-protocol printers all asking for the name scan.pdf. Every document
arrives whole, under a name of its own, with one receive-log line each."""
import ftplib
import hashlib
import io
import os
import subprocess
import tempfile
import threading
import unittest

from receiver import Receiver, SENDSCAN

FTP_PORT = 2121
SECRET = b"Quillbox/FTP-challenge/v1.0;K"
FTP_CLIENTS = 200
PRINTERS = 50


class Crowd(unittest.TestCase):
    def test_no_file_lost_and_no_name_reused(self):
        receiver = Receiver(settings="[MANAGEMENT]\nFtpPort=%d\nFTP_Support=1\nFTPS_Support=0\n"
                                     "OverWrite=0\nMaxConnectNum=100\nList=1000\n" % FTP_PORT)
        folder = os.path.join(receiver.root, "srv", "crowd")
        os.makedirs(folder)
        with open(os.path.join(receiver.data, "tvscan_f.bin"), "w") as handle:
            handle.write("1;%s;Crowd;;\n" % folder)
        with receiver, tempfile.TemporaryDirectory() as scratch:
            document = os.path.join(scratch, "scan.pdf")
            made = subprocess.run([SENDSCAN, "make-pdf", document], capture_output=True, text=True)
            self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
            with open(document, "rb") as handle:
                content = handle.read()
            failures = []

            def ftp_client(i):
                try:
                    client = ftplib.FTP()
                    client.connect("127.0.0.1", FTP_PORT, timeout=60,
                                   source_address=("127.0.%d.%d" % (1 + i // 200, 1 + i % 200), 0))
                    challenge = client.sendcmd("USER ftp%d" % i).split()[1]
                    client.sendcmd("PASS " + hashlib.sha1(SECRET + bytes.fromhex(challenge)).hexdigest())
                    client.storbinary("STOR 1/scan.pdf", io.BytesIO(content))
                    client.quit()
                except Exception as error:  # reported below
                    failures.append("ftp %d: %r" % (i, error))

            def printer(i):
                done = subprocess.run([SENDSCAN, "--timeout", "60", "--source", "127.0.9.%d" % (1 + i),
                                       "send", "1", document], capture_output=True, text=True)
                if done.returncode != 0:
                    failures.append("printer %d: %s" % (i, done.stdout + done.stderr))

            threads = [threading.Thread(target=ftp_client, args=(i,)) for i in range(FTP_CLIENTS)]
            threads += [threading.Thread(target=printer, args=(i,)) for i in range(PRINTERS)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join(180)
            self.assertEqual(failures, [])
            receiver.stop()
            names = sorted(os.listdir(folder))
            self.assertEqual(len(names), FTP_CLIENTS + PRINTERS, names[:10])
            for name in names:
                with open(os.path.join(folder, name), "rb") as handle:
                    self.assertEqual(handle.read(), content, name)
            with open(os.path.join(receiver.data, "tvscanlog_f.bin"), encoding="utf-8") as handle:
                logged = [line.split(";")[2] for line in handle.read().splitlines() if ";" in line]
            self.assertEqual(sorted(logged), names)


if __name__ == "__main__":
    unittest.main()
