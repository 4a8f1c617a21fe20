"""Printers and users storing scans through the receiver's FTP server with
real clients: Python's ftplib answering the challenge, curl and lftp with an
access code; what lands where, the receive log, the extension call and the
new-file announcement."""
import ftplib
import hashlib
import io
import os
import subprocess
import tempfile
import time
import unittest

from receiver import Receiver
from test_scan_documents import printer_pdf

FTP_PORT = 2121
SECRET = b"Quillbox/FTP-challenge/v1.0;K"
EXTENSION = os.environ.get(
    "QB_EXTENSION", os.path.join(os.path.dirname(os.environ.get("QB_BINARY", os.path.join(
        os.path.dirname(__file__), "../../build/quillbox"))), "tools/extension_example/libquern_ext_example.so"))


def answer(challenge):
    return hashlib.sha1(SECRET + bytes.fromhex(challenge)).hexdigest().upper()


def attribute_record(sub_folder):
    text = sub_folder.encode() + b"\0"
    header = b"QNA_ATTR:\0" + (26 + len(text)).to_bytes(2, "big") + b"\0\0" + (26).to_bytes(2, "big")
    return header + b"\0\0" * 5 + text


class FtpReceiver(Receiver):
    def __init__(self, extra=""):
        super().__init__(settings="[DEBUG]\nTrace=2\n[MANAGEMENT]\nFtpPort=%d\nFTP_Support=1\n"
                                  "FTPS_Support=0\nOverWrite=0\n%s" % (FTP_PORT, extra))
        self.folders = {}
        lines = []
        for number, code, library in ((3, "", ""), (5, "1234", ""), (7, "", EXTENSION)):
            folder = os.path.join(self.root, "srv", "dest%d" % number)
            os.makedirs(folder)
            self.folders[number] = folder
            lines.append("%d;%s;Desk %d;%s;%s\n" % (number, folder, number, code, library))
        with open(os.path.join(self.data, "tvscan_f.bin"), "w") as handle:
            handle.writelines(lines)
        self.extension_log = os.path.join(self.root, "extension.log")
        self.env["QUERN_EXT_EXAMPLE_LOG"] = self.extension_log

    def files(self, number):
        return sorted(os.listdir(self.folders[number]))

    def log(self):
        path = os.path.join(self.data, "tvscanlog_f.bin")
        return open(path, encoding="utf-8").read() if os.path.exists(path) else ""

    def wait_for_files(self, number, names, timeout=5.0):
        deadline = time.time() + timeout
        while self.files(number) != names and time.time() < deadline:
            time.sleep(0.02)
        return self.files(number)

    def ftp(self, source="127.0.0.2"):
        deadline = time.time() + 5
        while True:
            try:
                client = ftplib.FTP()
                client.connect("127.0.0.1", FTP_PORT, timeout=10, source_address=(source, 0))
                return client
            except OSError:
                if time.time() > deadline:
                    raise
                time.sleep(0.05)

    def challenge_login(self, source="127.0.0.2", lower=False):
        client = self.ftp(source)
        reply = client.sendcmd("USER scanner")
        challenge = reply.split()[1]
        expected = answer(challenge)
        client.sendcmd("PASS " + (expected.lower() if lower else expected))
        return client, expected


class ScannerSessions(unittest.TestCase):
    def test_challenge_round_trip_series_log_and_announcement(self):
        with FtpReceiver() as receiver:
            client, _ = receiver.challenge_login(lower=True)
            self.assertEqual(client.cwd("5"), "250 CWD command successful")  # no code asked
            self.assertEqual(client.cwd("/3"), "250 CWD command successful")
            self.assertEqual(client.pwd(), "/3")
            for name in ("scan_000.pdf", "scan_001.pdf"):
                self.assertEqual(client.storbinary("STOR " + name, io.BytesIO(printer_pdf())),
                                 "226 Transfer complete.")
            self.assertEqual(client.quit(), "221 Goodbye.")
            self.assertEqual(receiver.wait_for_files(3, ["scan_000.pdf", "scan_002.pdf"]),
                             ["scan_000.pdf", "scan_002.pdf"])
            self.assertTrue(receiver.wait_for_trace("There is a new image file."))
            log = receiver.log()
            self.assertIn(";scanner;scan_000.pdf;2;%s\n" % receiver.folders[3], log)

    def test_wrong_answers_lock_the_address_out(self):
        with FtpReceiver() as receiver:
            for _ in range(3):
                client = receiver.ftp("127.0.0.7")
                client.sendcmd("USER scanner")
                with self.assertRaises(ftplib.error_perm):
                    client.sendcmd("PASS " + "0" * 39 + "X")
                client.close()
            time.sleep(0.2)
            # Closed without a greeting.
            with self.assertRaises((EOFError, OSError, ftplib.Error)):
                receiver.ftp("127.0.0.7")
            # Another address is not affected.
            other = receiver.ftp("127.0.0.8")
            self.assertEqual(other.getwelcome(), "220 FTP ( TX QBX Service ) ready")
            other.close()

    def test_curl_upload_with_an_access_code(self):
        with FtpReceiver() as receiver, tempfile.TemporaryDirectory() as scratch:
            document = os.path.join(scratch, "invoice.pdf")
            with open(document, "wb") as handle:
                handle.write(printer_pdf())
            done = subprocess.run(["curl", "-sS", "--max-time", "20", "--interface", "127.0.0.2",
                                   "-T", document, "--user", "scanner:1234",
                                   "ftp://127.0.0.1:%d/5/" % FTP_PORT], capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(receiver.wait_for_files(5, ["invoice.pdf"]), ["invoice.pdf"])
            # The wrong code is refused at the folder and nothing is stored.
            wrong = subprocess.run(["curl", "-sS", "--max-time", "20", "--interface", "127.0.0.3",
                                    "-T", document, "--user", "scanner:9999",
                                    "ftp://127.0.0.1:%d/5/" % FTP_PORT], capture_output=True, text=True)
            self.assertNotEqual(wrong.returncode, 0)
            time.sleep(0.3)
            self.assertEqual(receiver.files(5), ["invoice.pdf"])

    def test_lftp_upload_with_an_access_code(self):
        with FtpReceiver() as receiver, tempfile.TemporaryDirectory() as scratch:
            document = os.path.join(scratch, "report.pdf")
            with open(document, "wb") as handle:
                handle.write(printer_pdf())
            done = subprocess.run(
                ["lftp", "-u", "scanner,1234", "-e",
                 "set ftp:ssl-allow no; set net:max-retries 1; set net:timeout 10; "
                 "set net:socket-bind-ipv4 127.0.0.2; cd 5; put %s; bye" % document,
                 "ftp://127.0.0.1:%d" % FTP_PORT], capture_output=True, text=True, timeout=60)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(receiver.wait_for_files(5, ["report.pdf"]), ["report.pdf"])
            with open(os.path.join(receiver.folders[5], "report.pdf"), "rb") as handle:
                self.assertEqual(handle.read(), printer_pdf())

    def test_meta_data_places_the_document_and_calls_the_extension(self):
        if not os.path.exists(EXTENSION):
            self.skipTest("example extension not built")
        with FtpReceiver() as receiver:
            os.makedirs(os.path.join(receiver.folders[7], "Invoices"))
            client, expected = receiver.challenge_login()
            client.cwd("7")
            client.storbinary("STOR @DBA@1#2#doc.meta", io.BytesIO(attribute_record("Invoices")))
            client.storbinary("STOR @DBA@1#2#doc.pdf", io.BytesIO(printer_pdf()))
            client.quit()
            stored = os.path.join(receiver.folders[7], "Invoices", "doc.pdf")
            deadline = time.time() + 5
            while not os.path.exists(receiver.extension_log) and time.time() < deadline:
                time.sleep(0.02)
            with open(receiver.extension_log) as handle:
                self.assertIn("files=1\tpath=%s\tsender=scanner\tdestination=7\tmeta=yes" % stored,
                              handle.read())
            self.assertTrue(os.path.exists(stored))
            # The answer of that session logs in once more, and only once.
            again = receiver.ftp("127.0.0.4")
            again.sendcmd("USER scanner")
            self.assertEqual(again.sendcmd("PASS " + expected), "230 User scanner logged in.")
            again.quit()
            third = receiver.ftp("127.0.0.4")
            third.sendcmd("USER scanner")
            with self.assertRaises(ftplib.error_perm):
                third.sendcmd("PASS " + expected)


if __name__ == "__main__":
    unittest.main()
