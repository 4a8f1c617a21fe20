"""Real FTP clients against the engine: what they accept is what printers
and users will meet. ftplib, curl and lftp each log in (refused, then with
the test login) and store a file, plain and over TLS."""
import ftplib
import os
import ssl
import subprocess
import tempfile
import unittest

from ftp_harness import FtpTestServer

HOST = "127.0.0.1"


def payload(size):
    return bytes((i * 7 + 3) % 251 for i in range(size))


class FtplibClient(unittest.TestCase):
    def test_refused_login_ends_the_session(self):
        with FtpTestServer() as server:
            ftp = ftplib.FTP()
            self.assertIn("220 FTP ( TX QBX Service ) ready", ftp.connect(HOST, server.port, timeout=10))
            with self.assertRaises(ftplib.error_perm) as refused:
                ftp.login("tester", "wrong")
            self.assertEqual(str(refused.exception), "530 Login incorrect.")
            # The server hangs up after a refused password.
            with self.assertRaises((EOFError, OSError, ftplib.Error)):
                ftp.voidcmd("NOOP")
            ftp.close()

    def test_plain_store_listing_and_replies(self):
        data = payload(300000)
        with FtpTestServer() as server:
            ftp = ftplib.FTP()
            ftp.connect(HOST, server.port, timeout=10)
            self.assertEqual(ftp.sendcmd("USER tester"), "331 Password required for tester.")
            self.assertEqual(ftp.sendcmd("PASS secret"), "230 User tester logged in.")
            self.assertEqual(ftp.pwd(), "/")
            self.assertEqual(ftp.sendcmd("TYPE i"), "200 Type set 'I'")
            self.assertEqual(ftp.nlst(), [])
            lines = []
            ftp.retrlines("LIST", lines.append)
            self.assertEqual(lines, [])
            reply = ftp.storbinary("STOR scan.pdf", _Reader(data))
            self.assertEqual(reply, "226 Transfer complete.")
            with self.assertRaises(ftplib.error_perm) as retr:
                ftp.retrbinary("RETR scan.pdf", lambda b: None)
            self.assertEqual(str(retr.exception), "550 scan.pdf: No such file or directory.")
            self.assertEqual(ftp.quit(), "221 Goodbye.")
        # Saved when the session ended (the base session saves every file).
            self.assertTrue(_wait_for_file(os.path.join(server.folder, "scan.pdf"), data))
            self.assertTrue(_wait_for(lambda: server.temporary_files() == []), server.temporary_files())

    def test_tls_store_with_protected_data(self):
        data = payload(70000)
        with FtpTestServer(ftp_support=0) as server:
            context = ssl.create_default_context()
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            plain = ftplib.FTP()
            plain.connect(HOST, server.port, timeout=10)
            with self.assertRaises(ftplib.error_perm) as denied:
                plain.sendcmd("USER tester")
            self.assertEqual(str(denied.exception), "550 Permission denied.")
            plain.close()

            ftp = ftplib.FTP_TLS(context=context)
            ftp.connect(HOST, server.port, timeout=10)
            ftp.login("tester", "secret")  # AUTH TLS first
            self.assertEqual(ftp.prot_p(), "200 Protection level set to P")
            self.assertEqual(ftp.nlst(), [])
            self.assertEqual(ftp.storbinary("STOR tls.jpg", _Reader(data)), "226 Transfer complete.")
            ftp.quit()
            self.assertTrue(_wait_for_file(os.path.join(server.folder, "tls.jpg"), data))
            self.assertTrue(_wait_for(lambda: "SSL AUTH OK!" in server.log()))


class TlsVersions(unittest.TestCase):
    """FTPS_MinTLSVersion: TLS 1.2 and newer by default; an administrator
    may admit an older printer, or insist on 1.3."""

    def handshake(self, server, newest):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.maximum_version = newest
        ftp = ftplib.FTP_TLS(context=context)
        ftp.connect(HOST, server.port, timeout=10)
        try:
            ftp.auth()
            return ftp.sock.version()
        except (ssl.SSLError, OSError, EOFError):
            return None
        finally:
            ftp.close()

    def test_default_and_strictest(self):
        with FtpTestServer() as server:
            self.assertEqual(self.handshake(server, ssl.TLSVersion.TLSv1_2), "TLSv1.2")
            self.assertEqual(self.handshake(server, ssl.TLSVersion.TLSv1_3), "TLSv1.3")
        with FtpTestServer(extra_settings="FTPS_MinTLSVersion=1.3\n") as server:
            self.assertIsNone(self.handshake(server, ssl.TLSVersion.TLSv1_2))
            self.assertEqual(self.handshake(server, ssl.TLSVersion.TLSv1_3), "TLSv1.3")
            self.assertTrue(_wait_for(lambda: "SSL AUTH FAILED." in server.log()))


class _Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def read(self, n):
        chunk = self.data[self.at:self.at + n]
        self.at += len(chunk)
        return chunk


def _wait_for(condition, seconds=10):
    import time
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def _wait_for_file(path, data, seconds=10):
    import time
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            with open(path, "rb") as f:
                if f.read() == data:
                    return True
        except FileNotFoundError:
            pass
        time.sleep(0.05)
    return False


class CommandLineClients(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="qbftpc.")
        self.source = os.path.join(self.work, "page.tif")
        self.data = payload(123457)
        with open(self.source, "wb") as f:
            f.write(self.data)

    def curl(self, server, user, *extra):
        return subprocess.run(["curl", "-sS", "--max-time", "30", "-T", self.source,
                               "--user", user, *extra,
                               "ftp://%s:%d/" % (HOST, server.port)],
                              capture_output=True, text=True)

    def test_curl_plain_and_tls(self):
        with FtpTestServer() as server:
            refused = self.curl(server, "tester:wrong")
            self.assertEqual(refused.returncode, 67, refused.stderr)  # login denied
            plain = self.curl(server, "tester:secret")
            self.assertEqual(plain.returncode, 0, plain.stderr)
            self.assertTrue(_wait_for_file(os.path.join(server.folder, "page.tif"), self.data))
            os.remove(os.path.join(server.folder, "page.tif"))
            tls = self.curl(server, "tester:secret", "--ssl-reqd", "-k")
            self.assertEqual(tls.returncode, 0, tls.stderr)
            self.assertTrue(_wait_for_file(os.path.join(server.folder, "page.tif"), self.data))
            self.assertTrue(_wait_for(lambda: server.temporary_files() == []), server.temporary_files())

    def lftp(self, server, user, settings):
        script = "%s; open -u %s -p %d %s; put %s -o lftp.tif; bye" % (
            settings, user, server.port, HOST, self.source)
        return subprocess.run(["lftp", "-c", "set net:max-retries 1; set net:timeout 10; " + script],
                              capture_output=True, text=True, timeout=60)

    def test_lftp_plain_and_tls(self):
        with FtpTestServer() as server:
            refused = self.lftp(server, "tester,wrong", "set ftp:ssl-allow no")
            self.assertNotEqual(refused.returncode, 0)
            self.assertIn("530", refused.stderr)
            plain = self.lftp(server, "tester,secret", "set ftp:ssl-allow no")
            self.assertEqual(plain.returncode, 0, plain.stderr)
            self.assertTrue(_wait_for_file(os.path.join(server.folder, "lftp.tif"), self.data))
            os.remove(os.path.join(server.folder, "lftp.tif"))
            tls = self.lftp(server, "tester,secret",
                            "set ftp:ssl-force true; set ftp:ssl-protect-data true; "
                            "set ssl:verify-certificate no")
            self.assertEqual(tls.returncode, 0, tls.stderr)
            self.assertTrue(_wait_for_file(os.path.join(server.folder, "lftp.tif"), self.data))


if __name__ == "__main__":
    unittest.main()
