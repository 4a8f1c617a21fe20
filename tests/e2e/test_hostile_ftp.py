"""The receiver's FTP server against hostile and broken clients where only
the real process shows the fault: stalled TLS records and a full descriptor
table (measured in process CPU time), the TLS versions and cipher policy a
real TLS library meets, the debug log on disk, and leftovers of an earlier
run."""
import ftplib
import io
import os
import re
import resource
import socket
import ssl
import shutil
import stat
import subprocess
import tempfile
import time
import unittest

from receiver import cpu_share, read_file, wait_until, write_file
from test_ftp_scanner_session import FTP_PORT, FtpReceiver, tls_context
from test_scan_documents import printer_pdf


class BusyLoops(unittest.TestCase):
    def test_a_stalled_tls_record_costs_no_cpu(self):
        with FtpReceiver(tls=True) as receiver:
            raw = receiver.raw()
            raw.settimeout(5)
            self.assertTrue(raw.recv(100).startswith(b"220"))
            raw.sendall(b"AUTH TLS\r\n")
            self.assertTrue(raw.recv(100).startswith(b"234"))
            incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
            tls = tls_context().wrap_bio(incoming, outgoing)
            while True:
                try:
                    tls.do_handshake()
                    break
                except ssl.SSLWantReadError:
                    raw.sendall(outgoing.read())
                    incoming.write(raw.recv(65536))
            raw.sendall(outgoing.read())
            tls.write(b"NOOP\r\n")
            record = outgoing.read()
            raw.sendall(record[:3])  # three bytes of the next record, then silence
            time.sleep(0.5)
            self.assertLess(cpu_share(receiver.process.pid), 0.05)
            raw.sendall(record[3:])  # the rest: the command is answered
            answer = b""
            while b"\r\n" not in answer:  # not logged in: 530, but answered
                incoming.write(raw.recv(65536))
                try:
                    answer += tls.read(4096)
                except ssl.SSLWantReadError:
                    pass
            raw.close()

    def test_a_full_descriptor_table_costs_no_cpu(self):
        with FtpReceiver() as receiver:
            pid = receiver.process.pid
            # One whole upload first: the sanitizer build checks each type of
            # object the first time it is used, and that check needs a free
            # descriptor of its own.
            client = receiver.ftp(login="1234")
            client.sendcmd("CWD 5")
            client.storbinary("STOR warm.pdf", io.BytesIO(printer_pdf()))
            client.quit()
            open_now = len(os.listdir("/proc/%d/fd" % pid))
            _, hard = resource.prlimit(pid, resource.RLIMIT_NOFILE)
            resource.prlimit(pid, resource.RLIMIT_NOFILE, (open_now + 2, hard))
            clients = []
            try:
                for _ in range(8):
                    clients.append(socket.create_connection(("127.0.0.1", FTP_PORT),
                                                            source_address=("127.0.0.%d" % (10 + len(clients)), 0)))
                time.sleep(0.5)
                self.assertLess(cpu_share(pid), 0.05)
            finally:
                for client in clients:
                    client.close()
                resource.prlimit(pid, resource.RLIMIT_NOFILE, (1024, hard))
            client = receiver.ftp(source="127.0.0.5")
            self.assertTrue(client.getwelcome().startswith("220"))
            client.close()
            # Traced once per stretch of pauses, not once per pause: a session
            # that ends mid-burst frees a descriptor, so a burst may be two
            # stretches, but never one line per 50 ms retry.
            self.assertTrue(wait_until(lambda: any("FTP accept on port %d resumed" % FTP_PORT in line
                                                   for line in receiver.trace())))
            resumed = [line for line in receiver.trace() if "FTP accept on port" in line]
            self.assertLessEqual(len(resumed), 3, resumed)
            pauses = sum(int(re.search(r"after (\d+) pauses", line).group(1)) for line in resumed)
            self.assertGreater(pauses, len(resumed), resumed)


def handshake(newest, ciphers=None):
    """Version and cipher of a handshake after AUTH TLS, or None."""
    context = tls_context()
    context.maximum_version = newest
    if ciphers:
        context.set_ciphers(ciphers)
    client = ftplib.FTP_TLS(context=context)
    client.connect("127.0.0.1", FTP_PORT, timeout=5, source_address=("127.0.0.2", 0))
    try:
        client.auth()
        return client.sock.version(), client.sock.cipher()[0]
    except (ssl.SSLError, OSError, EOFError):
        return None
    finally:
        client.close()


class TlsAndFeatures(unittest.TestCase):
    def test_feat_prot_versions_and_the_cipher_policy(self):
        v12, v13 = ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_3
        with FtpReceiver(tls=True) as receiver:
            client = receiver.ftp()
            self.assertEqual(client.sendcmd("FEAT"), "211-Features:\n AUTH TLS\n PBSZ\n PROT\n211 End")
            client.close()

            secure = receiver.ftp(tls=True)
            secure.auth()
            secure.sendcmd("PBSZ 0")
            with self.assertRaisesRegex(ftplib.error_perm, "^534 "):
                secure.sendcmd("PROT C")
            self.assertEqual(secure.sendcmd("PROT P"), "200 Protection level set to P")
            secure.close()

            # TLS 1.2 and newer by default, never static RSA, and the
            # server's order: its first suite although the client prefers another.
            self.assertEqual(handshake(v12)[0], "TLSv1.2")
            self.assertEqual(handshake(v13)[0], "TLSv1.3")
            self.assertIsNone(handshake(v12, "AES128-SHA:AES256-GCM-SHA384"))
            self.assertEqual(handshake(v12, "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-RSA-AES128-GCM-SHA256"),
                             ("TLSv1.2", "ECDHE-RSA-AES128-GCM-SHA256"))
        # An administrator may insist on 1.3.
        with FtpReceiver(tls=True, extra="FTPS_MinTLSVersion=1.3\n") as receiver:
            receiver.ftp().close()
            self.assertIsNone(handshake(v12))
            self.assertEqual(handshake(v13)[0], "TLSv1.3")

    def test_a_certificate_chain_from_a_real_ca_verifies(self):
        # Root CA -> intermediate CA -> server, the server's file holding
        # its certificate and the intermediate one (a "fullchain.pem"): a
        # client that trusts only the root verifies the whole chain.
        folder = tempfile.mkdtemp(prefix="qb-chain-")
        self.addCleanup(shutil.rmtree, folder, True)

        def run(*args):
            subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=folder)

        run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Test Root",
            "-addext", "basicConstraints=critical,CA:TRUE", "-keyout", "root.key", "-out", "root.pem")
        write_file(os.path.join(folder, "ca.ext"),
                   "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\n")
        write_file(os.path.join(folder, "leaf.ext"), "subjectAltName=IP:127.0.0.1\n")
        for name, issuer, ext in (("mid", "root", "ca.ext"), ("leaf", "mid", "leaf.ext")):
            run("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=%s" % name, "-keyout", name + ".key",
                "-out", name + ".csr")
            run("x509", "-req", "-in", name + ".csr", "-CA", issuer + ".pem", "-CAkey", issuer + ".key",
                "-CAcreateserial", "-days", "2", "-extfile", ext, "-out", name + ".pem")
        write_file(os.path.join(folder, "fullchain.pem"),
                   "".join(read_file(os.path.join(folder, name + ".pem")) for name in ("leaf", "mid")))
        tls = "FTPS_Support=1\nSSL_PrivateKey=%s/leaf.key\nSSL_CertificateKey=%s/fullchain.pem\n" % (folder, folder)
        with FtpReceiver(tls=tls) as receiver:
            receiver.ftp().close()
            check = subprocess.run(["openssl", "s_client", "-connect", "127.0.0.1:%d" % FTP_PORT,
                                    "-starttls", "ftp", "-CAfile", os.path.join(folder, "root.pem"),
                                    "-verify_return_error", "-verify_ip", "127.0.0.1"],
                                   input=b"QUIT\r\n", capture_output=True, timeout=20)
            self.assertEqual(check.returncode, 0, check.stdout.decode(errors="replace")[-2000:])
            self.assertIn(b"Verify return code: 0 (ok)", check.stdout)


class LogsAndFiles(unittest.TestCase):
    def test_the_debug_log_hides_codes_is_private_and_bounded(self):
        with FtpReceiver(debug_log=True) as receiver:
            client = receiver.ftp(login="1234")
            client.quit()
            self.assertTrue(wait_until(lambda: "Goodbye" in open(receiver.debug_log, errors="replace").read()))
            text = open(receiver.debug_log, errors="replace").read()
            self.assertIn("LineRecv:PASS ****", text)
            self.assertNotIn("1234", text)
            self.assertEqual(stat.S_IMODE(os.stat(receiver.debug_log).st_mode), 0o640)
            with open(receiver.debug_log, "ab") as handle:
                handle.truncate(16 * 1024 * 1024)
            receiver.ftp().close()
            self.assertTrue(wait_until(lambda: os.path.exists(receiver.debug_log + ".1")))
            self.assertLess(os.path.getsize(receiver.debug_log), 1024 * 1024)

    def test_an_upload_is_written_hidden_in_its_folder_and_leftovers_go_at_start(self):
        receiver = FtpReceiver()
        receiver.env["QUILLBOX_HOST_ID"] = "thispc"
        leftovers = [os.path.join(receiver.root, "tmp", "TXQB1A2B.tmp"),
                     os.path.join(receiver.folders[5], ".qbx-thispc-999999999-7.part")]
        # A receiver on another machine shares the folder: its upload in
        # progress is not this machine's leftover, whatever its process id.
        others = os.path.join(receiver.folders[3], ".qbx-otherpc-999999999-7.part")
        for leftover in leftovers + [others]:
            write_file(leftover, b"x" * 1000)
        with receiver:
            self.assertTrue(wait_until(lambda: not any(os.path.exists(f) for f in leftovers)))
            self.assertTrue(os.path.exists(others))
            # A STOR in destination 5 that waits for its data connection.
            client = receiver.ftp(login="1234")
            client.sendcmd("CWD 5")
            _, port = ftplib.parse227(client.sendcmd("PASV"))
            client.sendcmd("STOR slow.pdf")
            data = socket.create_connection(("127.0.0.1", port), source_address=("127.0.0.2", 0))
            data.sendall(b"%PDF-1.4\n")
            folder = receiver.folders[5]
            # Written where it will live, under a hidden name, nothing in TMP.
            self.assertTrue(wait_until(lambda: os.listdir(folder) != []))
            self.assertRegex(os.listdir(folder)[0], r"^\.qbx-thispc-%d-[0-9]+\.part$" % receiver.process.pid)
            self.assertEqual([n for n in os.listdir(os.path.join(receiver.root, "tmp")) if n.startswith("TXQB")], [])
            data.close()
            self.assertEqual(client.voidresp(), "226 Transfer complete.")
            client.quit()
            self.assertEqual(os.listdir(folder), [])  # nine bytes are no PDF


if __name__ == "__main__":
    unittest.main()
