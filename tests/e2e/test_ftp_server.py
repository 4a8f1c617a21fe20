"""The receiver's FTP server as a client meets it: started by the settings,
greeting with a challenge and refusing wrong passwords, TLS from the
configured key pair, start-up errors reported, and no delay at shutdown."""
import ftplib
import os
import re
import signal
import socket
import ssl
import subprocess
import time
import unittest

from receiver import BINARY, Receiver

FTP_PORT = 2121


def key_pair(folder):
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    return key, cert


def settings(ftp=1, ftps=1, key="", cert=""):
    return ("[DEBUG]\nTrace=2\n[MANAGEMENT]\nFtpPort=%d\nFTP_Support=%d\nFTPS_Support=%d\n"
            "SSL_PrivateKey=%s\nSSL_CertificateKey=%s\n" % (FTP_PORT, ftp, ftps, key, cert))


def connect_when_listening(seconds=5):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            ftp = ftplib.FTP()
            ftp.connect("127.0.0.1", FTP_PORT, timeout=5)
            return ftp
        except OSError:
            time.sleep(0.05)
    return None


def stop_and_read_stderr(receiver):
    time.sleep(0.3)  # the FTP server thread reports while the rest runs
    receiver.process.send_signal(signal.SIGTERM)
    _, err = receiver.process.communicate(timeout=10)
    return err


def tls_context():
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context


class FtpServerOfTheReceiver(unittest.TestCase):
    def test_greets_refuses_logins_and_speaks_tls(self):
        receiver = Receiver(settings=None)
        key, cert = key_pair(receiver.root)
        with open(receiver.settings_path, "w") as f:
            f.write(settings(key=key, cert=cert))
        with receiver:
            ftp = connect_when_listening()
            self.assertIsNotNone(ftp)
            self.assertEqual(ftp.getwelcome(), "220 FTP ( TX QBX Service ) ready")
            self.assertRegex(ftp.sendcmd("USER printer"), r"^331 [0-9A-F]{20} Password required for printer\.$")
            with self.assertRaises(ftplib.error_perm) as refused:
                ftp.sendcmd("PASS anything")
            self.assertEqual(str(refused.exception), "530 Login incorrect.")
            ftp.close()

            secure = ftplib.FTP_TLS(context=tls_context())
            secure.connect("127.0.0.1", FTP_PORT, timeout=5)
            self.assertEqual(secure.auth(), "234 Using authentication type TLS.")
            self.assertIsInstance(secure.sock, ssl.SSLSocket)
            self.assertEqual(secure.sendcmd("PBSZ 0"), "200 PBSZ=0")
            self.assertEqual(secure.sendcmd("PROT P"), "200 Protection level set to P")
            curl = subprocess.run(["curl", "-sS", "--max-time", "20", "--user", "a:b",
                                   "ftp://127.0.0.1:%d/" % FTP_PORT], capture_output=True)
            self.assertEqual(curl.returncode, 67)  # login denied
            # Shutting down with sessions connected is immediate.
            started = time.time()
            self.assertEqual(receiver.stop(), 0)
            self.assertLess(time.time() - started, 1.5)
            secure.close()

    def test_nothing_listens_when_both_are_off(self):
        with Receiver(settings=settings(ftp=0, ftps=0)):
            time.sleep(0.3)
            with self.assertRaises(OSError):
                socket.create_connection(("127.0.0.1", FTP_PORT), timeout=1).close()

    def test_start_up_failures_are_reported_and_the_rest_runs(self):
        blocker = socket.socket()
        blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        blocker.bind(("0.0.0.0", FTP_PORT))
        blocker.listen(1)
        try:
            with Receiver(settings=settings()) as receiver:
                self.assertIn(b"Quillbox: Cannot listen FTP port", stop_and_read_stderr(receiver))
        finally:
            blocker.close()

    def test_no_key_pair_is_made_behind_the_users_back(self):
        program_folder = os.path.dirname(os.path.abspath(BINARY))
        if os.path.exists(os.path.join(program_folder, "DfPriv.key")):
            self.skipTest("a key pair lies next to the program")
        with Receiver(settings=settings()) as receiver:
            self.assertIn(b"Quillbox: Cannot initialize SSL", stop_and_read_stderr(receiver))
        self.assertFalse(os.path.exists(os.path.join(program_folder, "DfPriv.key")))
        self.assertFalse(os.path.exists(os.path.join(program_folder, "DfCert.crt")))

    def test_unreadable_keys_leave_plain_ftp_only(self):
        receiver = Receiver(settings=settings(key="/nonexistent/key.pem", cert="/nonexistent/cert.pem"))
        with receiver:
            ftp = connect_when_listening()
            self.assertIsNotNone(ftp)
            with self.assertRaises(ftplib.error_perm) as refused:
                ftp.sendcmd("AUTH TLS")
            self.assertEqual(str(refused.exception), "500 command not understood.")
            ftp.close()
            self.assertIn(b"Quillbox: Cannot initialize SSL", stop_and_read_stderr(receiver))


if __name__ == "__main__":
    unittest.main()
