"""The receiver's FTP server as real clients meet it: ftplib answering the
challenge, curl and lftp with an access code, plain and over TLS; what the
settings start, what start-up problems are reported, and no delay at
shutdown. The protocol rules themselves are tested in process
(tests/ftp)."""
import ftplib
import hashlib
import io
import os
import socket
import ssl
import subprocess
import time
import unittest

from receiver import BINARY, Receiver, listening, read_file, retry, wait_until, write_file
from test_scan_documents import printer_pdf

FTP_PORT = 2121
SECRET = b"Quillbox/FTP-challenge/v1.0;K"


def key_pair(folder):
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    return key, cert


def tls_context():
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context


def answer(challenge):
    return hashlib.sha1(SECRET + bytes.fromhex(challenge)).hexdigest().upper()


class FtpReceiver(Receiver):
    """Destinations 3 and 7 open to anyone, 5 behind the code 1234."""

    def __init__(self, extra="", tls=False, debug_log=False, ftp=1):
        """tls: False, True (a fresh key pair) or the FTPS lines to use."""
        super().__init__(settings=None)
        tls_lines = tls if isinstance(tls, str) else "FTPS_Support=0\n"
        if tls is True:
            tls_lines = "FTPS_Support=1\nSSL_PrivateKey=%s\nSSL_CertificateKey=%s\n" % key_pair(self.root)
        self.debug_log = os.path.join(self.root, "tmp/ftp-debug.log")
        debug_line = "FTP_DebugLog=%s\n" % self.debug_log if debug_log else ""
        write_file(self.settings_path, "[DEBUG]\nTrace=2\n[MANAGEMENT]\nFtpPort=%d\nFTP_Support=%d\n%s"
                   "OverWrite=0\nFTP_SocketTimeOut=30\n%s%s" % (FTP_PORT, ftp, tls_lines, debug_line, extra))
        self.folders = {number: self.add_destination(number, "dest%d" % number, code)
                        for number, code in ((3, ""), (5, "1234"), (7, ""))}

    def files(self, number):
        return sorted(os.listdir(self.folders[number]))

    def raw(self, source="127.0.0.2"):
        """A plain control connection, once the server listens."""
        return retry(lambda: socket.create_connection(("127.0.0.1", FTP_PORT), timeout=10,
                                                      source_address=(source, 0)))

    def ftp(self, source="127.0.0.2", login=None, tls=False):
        """An ftplib client, logged in with the access code `login` if given."""
        client = ftplib.FTP_TLS(context=tls_context()) if tls else ftplib.FTP()
        retry(lambda: client.connect("127.0.0.1", FTP_PORT, timeout=10, source_address=(source, 0)))
        if login is not None:
            client.sendcmd("USER printer")
            client.sendcmd("PASS " + login)
        return client

    def challenge_login(self, source="127.0.0.2", tls=False, right=True):
        client = self.ftp(source, tls=tls)
        if tls:
            client.auth()
        expected = answer(client.sendcmd("USER scanner").split()[1])
        client.sendcmd("PASS " + (expected if right else "0" * 39 + "X"))
        return client, expected


class RealClients(unittest.TestCase):
    def test_every_client_stores_plain_and_over_tls_and_shutdown_does_not_wait(self):
        def ftplib_client(name, tls, code, source):
            try:  # the wrong "code" is a wrong challenge answer here
                client, _ = receiver.challenge_login(source, tls, right=code == "1234")
                if tls:
                    self.assertEqual(client.prot_p(), "200 Protection level set to P")
                client.cwd("5")  # a challenge login opens every destination
                self.assertEqual(client.storbinary("STOR " + name, io.BytesIO(printer_pdf())),
                                 "226 Transfer complete.")
                return client.quit() == "221 Goodbye."
            except ftplib.error_perm as refused:
                self.assertEqual(str(refused), "530 Login incorrect.")
                return False

        def curl(name, tls, code, source):
            done = subprocess.run(["curl", "-sS", "--max-time", "20", "--interface", source, "-T", document,
                                   "--user", "scanner:" + code, *(["--ssl-reqd", "-k"] if tls else []),
                                   "ftp://127.0.0.1:%d/5/%s" % (FTP_PORT, name)], capture_output=True, text=True)
            return done.returncode == 0

        def lftp(name, tls, code, source):
            security = ("set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:verify-certificate no"
                        if tls else "set ftp:ssl-allow no")
            done = subprocess.run(["lftp", "-u", "scanner," + code, "-e",
                                   "%s; set net:max-retries 1; set net:timeout 10; set cmd:fail-exit true; "
                                   "set net:socket-bind-ipv4 %s; "
                                   "cd 5; put %s -o %s; bye" % (security, source, document, name),
                                   "ftp://127.0.0.1:%d" % FTP_PORT], capture_output=True, text=True, timeout=60)
            return done.returncode == 0

        stored = []
        receiver = FtpReceiver(tls=True)
        document = os.path.join(receiver.root, "page.pdf")
        write_file(document, printer_pdf())
        with receiver:
            # Each attempt from an address of its own: refusals lock an address out.
            source = 10
            for client in (ftplib_client, curl, lftp):
                for tls in (False, True):
                    for code in ("1234", "9999"):
                        source += 1
                        name = "%s-%s-%s.pdf" % (client.__name__, "tls" if tls else "plain", code)
                        with self.subTest(name):
                            self.assertEqual(client(name, tls, code, "127.0.0.%d" % source), code == "1234")
                            if code == "1234":
                                stored.append(name)
            self.assertTrue(wait_until(lambda: receiver.files(5) == sorted(stored)), receiver.files(5))
            for name in stored:
                self.assertEqual(read_file(os.path.join(receiver.folders[5], name), True), printer_pdf(), name)
            self.assertTrue(wait_until(lambda: all(name in receiver.log() for name in stored)))
            self.assertTrue(receiver.wait_for_trace("There is a new image file."))
            # Shutting down with a protected session connected is immediate.
            connected, _ = receiver.challenge_login("127.0.0.99", tls=True)
            started = time.time()
            self.assertEqual(receiver.stop(), 0)
            self.assertLess(time.time() - started, 1.5)
            connected.close()


class StartUp(unittest.TestCase):
    def test_what_the_settings_start_and_what_start_up_problems_say(self):
        program_folder = os.path.dirname(os.path.abspath(BINARY))
        blocker = socket.socket()
        blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.addCleanup(blocker.close)
        # Settings, whether the FTP port must be taken, the reply to AUTH TLS
        # (None: nothing listens), and what standard error must say.
        made_before = os.path.exists(os.path.join(program_folder, "DfPriv.key"))
        # FTP_Support, the FTPS lines, whether the FTP port is taken, the
        # reply to AUTH TLS (None: not asked), and what standard error says.
        cases = [(0, "FTPS_Support=0\n", False, None, b""),
                 (1, "FTPS_Support=1\n", True, None, b"Quillbox: Cannot listen FTP port"),
                 # No key pair is made behind the user's back.
                 (1, "FTPS_Support=1\n", False, "500 command not understood.", b"Quillbox: Cannot initialize SSL"),
                 (1, "FTPS_Support=1\nSSL_PrivateKey=/nonexistent/key.pem\nSSL_CertificateKey=/nonexistent/c.pem\n",
                  False, "500 command not understood.", b"Quillbox: Cannot initialize SSL")]
        for ftp, tls, taken, auth, complaint in cases:
            with self.subTest(tls=tls, taken=taken):
                if taken:
                    blocker.bind(("0.0.0.0", FTP_PORT))
                    blocker.listen(1)
                with FtpReceiver(tls=tls, ftp=ftp) as receiver:
                    time.sleep(0.3)  # the FTP server thread reports while the rest runs
                    if not ftp:
                        self.assertFalse(listening(FTP_PORT))
                    elif auth is not None:
                        client = receiver.ftp()
                        with self.assertRaises(ftplib.error_perm) as refused:
                            client.sendcmd("AUTH TLS")
                        self.assertEqual(str(refused.exception), auth)
                        client.close()
                    receiver.process.terminate()
                    _, err = receiver.process.communicate(timeout=10)
                    self.assertIn(complaint, err)
                if taken:
                    blocker.close()
        if not made_before:
            self.assertFalse(os.path.exists(os.path.join(program_folder, "DfPriv.key")))
            self.assertFalse(os.path.exists(os.path.join(program_folder, "DfCert.crt")))


if __name__ == "__main__":
    unittest.main()
