"""The FTP server against hostile and broken clients: data connections that
never come or come from elsewhere, ABOR, stalled TLS records and a full
descriptor table (measured in process CPU time), guessed access codes, the
TLS settings, FEAT, the debug log, and files that cannot be stored."""
import ftplib
import io
import os
import re
import resource
import socket
import ssl
import stat
import subprocess
import time
import unittest

from receiver import Receiver, shell, wait_until
from test_ftp_server import key_pair, tls_context
from test_scan_documents import printer_pdf

FTP_PORT = 2121
IDLE_LIMIT = 30  # the smallest FTP_SocketTimeOut


def cpu_seconds(pid):
    """User and system time of the whole process (all threads), seconds."""
    with open("/proc/%d/stat" % pid) as handle:
        fields = handle.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_share(pid, seconds=3.0):
    before = cpu_seconds(pid)
    time.sleep(seconds)
    return (cpu_seconds(pid) - before) / seconds


class HostileFtpReceiver(Receiver):
    def __init__(self, extra="", tls=False, debug_log=True):
        super().__init__(settings=None)
        tls_lines = ""
        if tls:
            key, cert = key_pair(self.root)
            tls_lines = "FTPS_Support=1\nSSL_PrivateKey=%s\nSSL_CertificateKey=%s\n" % (key, cert)
        else:
            tls_lines = "FTPS_Support=0\n"
        self.debug_log = os.path.join(self.root, "tmp/ftp-debug.log")
        with open(self.settings_path, "w") as handle:
            handle.write("[DEBUG]\nTrace=2\n[MANAGEMENT]\nFtpPort=%d\nFTP_Support=1\n%s"
                         "FTP_SocketTimeOut=%d\n%s%s" % (FTP_PORT, tls_lines, IDLE_LIMIT,
                                                         "FTP_DebugLog=%s\n" % self.debug_log if debug_log else "",
                                                         extra))
        self.folders = {}
        lines = []
        for number, code in ((3, "4321"), (5, "1234")):
            folder = os.path.join(self.root, "srv", "dest%d" % number)
            os.makedirs(folder)
            self.folders[number] = folder
            lines.append("%d;%s;Desk %d;%s;\n" % (number, folder, number, code))
        with open(os.path.join(self.data, "tvscan_f.bin"), "w") as handle:
            handle.writelines(lines)

    def raw(self, source="127.0.0.2"):
        """A plain control connection, once the server listens."""
        deadline = time.time() + 10
        while True:
            try:
                return socket.create_connection(("127.0.0.1", FTP_PORT), timeout=10, source_address=(source, 0))
            except OSError:
                if time.time() > deadline:
                    raise
                time.sleep(0.05)

    def ftp(self, source="127.0.0.2", login=None):
        deadline = time.time() + 10
        while True:
            try:
                client = ftplib.FTP()
                client.connect("127.0.0.1", FTP_PORT, timeout=10, source_address=(source, 0))
                break
            except OSError:
                if time.time() > deadline:
                    raise
                time.sleep(0.05)
        if login is not None:
            client.sendcmd("USER printer")
            client.sendcmd("PASS " + login)
        return client

    def log(self):
        path = os.path.join(self.data, "tvscanlog_f.bin")
        return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""


def passive_port(reply):
    numbers = reply[reply.index("(") + 1:reply.index(")")].split(",")
    return int(numbers[4]) * 256 + int(numbers[5])


def waiting_store(receiver, name):
    """A session in destination 5 whose STOR waits for its passive data
    connection; the client and the passive port."""
    client = receiver.ftp(login="1234")
    client.sendcmd("CWD 5")
    port = passive_port(client.sendcmd("PASV"))
    client.sendcmd("STOR " + name)
    return client, port


def read_reply(client, timeout):
    client.sock.settimeout(timeout)
    try:
        return client.getline()
    except (socket.timeout, EOFError):
        return None


class DataConnections(unittest.TestCase):
    def test_a_data_connection_that_never_comes_ends_at_the_idle_limit_and_the_session_goes_on(self):
        with HostileFtpReceiver() as receiver:
            client, _ = waiting_store(receiver, "lost.pdf")
            started = time.time()
            self.assertEqual(read_reply(client, IDLE_LIMIT + 10), "425 Can't open data connection.")
            self.assertLess(time.time() - started, IDLE_LIMIT + 8)
            self.assertEqual(client.sendcmd("NOOP"), "200 NOOP command successful.")
            client.quit()

    def test_abor_answers_at_once_and_keeps_the_session(self):
        with HostileFtpReceiver() as receiver:
            client = receiver.ftp(login="1234")
            client.sendcmd("CWD 5")
            client.storbinary("STOR kept.pdf", io.BytesIO(printer_pdf()))
            # An open data connection that stays silent.
            port = passive_port(client.sendcmd("PASV"))
            data = socket.create_connection(("127.0.0.1", port), source_address=("127.0.0.2", 0))
            client.sendcmd("STOR idle.pdf")
            started = time.time()
            client.putcmd("ABOR")
            self.assertEqual(read_reply(client, 5), "426 Transfer abort.")
            self.assertEqual(read_reply(client, 5), "250 ABOR command successful.")
            self.assertLess(time.time() - started, 2)
            data.close()
            # A data connection that never came: the session must outlive
            # the old five-second end.
            client.sendcmd("PASV")
            client.sendcmd("STOR never.pdf")
            client.putcmd("ABOR")
            self.assertEqual(read_reply(client, 5), "426 Transfer abort.")
            self.assertEqual(read_reply(client, 5), "250 ABOR command successful.")
            time.sleep(7)
            self.assertEqual(client.sendcmd("NOOP"), "200 NOOP command successful.")
            client.quit()
            self.assertTrue(wait_until(lambda: os.listdir(receiver.folders[5]) == ["kept.pdf"]))

    def test_a_passive_connection_is_taken_only_from_the_client(self):
        with HostileFtpReceiver() as receiver:
            client, port = waiting_store(receiver, "stolen.pdf")
            thief = socket.create_connection(("127.0.0.1", port), source_address=("127.0.0.3", 0))
            thief.sendall(b"%PDF-1.4 not from the printer")
            thief.settimeout(5)
            self.assertEqual(thief.recv(10), b"")  # closed at once
            self.assertTrue(wait_until(lambda: any("FTP passive connection from 127.0.0.3 refused" in line
                                                   for line in receiver.trace())))
            data = socket.create_connection(("127.0.0.1", port), source_address=("127.0.0.2", 0))
            data.sendall(printer_pdf())
            data.close()
            self.assertEqual(read_reply(client, 5), "226 Transfer complete.")
            client.quit()

    def test_passive_ports_per_address_are_bounded(self):
        with HostileFtpReceiver() as receiver:
            first = receiver.ftp(login="1234")
            first.sendcmd("CWD 5")
            first.sendcmd("PASV")
            first.sendcmd("STOR waiting.pdf")  # its transfer keeps the port
            first.sendcmd("PASV")
            second = receiver.ftp(login="1234")
            with self.assertRaises(ftplib.error_perm):
                second.sendcmd("PASV")
            # Another address is not affected.
            other = receiver.ftp(source="127.0.0.4", login="1234")
            self.assertTrue(other.sendcmd("PASV").startswith("227 "))


class BusyLoops(unittest.TestCase):
    def test_a_stalled_tls_record_costs_no_cpu(self):
        with HostileFtpReceiver(tls=True) as receiver:
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
        with HostileFtpReceiver() as receiver:
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


class Guessing(unittest.TestCase):
    def test_a_wrong_access_code_counts_at_pass(self):
        with HostileFtpReceiver() as receiver:
            for _ in range(2):
                client = receiver.ftp(login="9999")
                with self.assertRaises(ftplib.error_perm):
                    client.sendcmd("CWD 5")
                client.close()
            # Two wrong codes within the minute: the address is locked out.
            locked = receiver.raw()
            locked.settimeout(5)
            self.assertEqual(locked.recv(100), b"")
            locked.close()

    def test_many_failures_across_addresses_slow_every_pass_but_never_refuse_the_right_code(self):
        with HostileFtpReceiver() as receiver:
            for n in range(11):  # two failures each: at PASS and at CWD
                client = receiver.ftp(source="127.0.1.%d" % (n + 1), login="%04d" % n)
                with self.assertRaises(ftplib.error_perm):
                    client.sendcmd("CWD 5")
                client.close()
            right = receiver.ftp(source="127.0.2.1")
            right.sendcmd("USER printer")
            started = time.time()
            self.assertTrue(right.sendcmd("PASS 1234").startswith("230 "))
            self.assertGreaterEqual(time.time() - started, 0.9)
            self.assertEqual(right.sendcmd("CWD 5"), "250 CWD command successful")
            self.assertTrue(any("delayed: many failed logins" in line for line in receiver.trace()))
            right.quit()


class TlsAndFeatures(unittest.TestCase):
    def handshake(self, **options):
        """Version and cipher of a TLS 1.2 handshake after AUTH TLS, or None."""
        client = ftplib.FTP_TLS(context=options.pop("context"))
        client.connect("127.0.0.1", FTP_PORT, timeout=5, source_address=(options.get("source", "127.0.0.2"), 0))
        try:
            client.auth()
            return client.sock.version(), client.sock.cipher()[0]
        except (ssl.SSLError, OSError, EOFError):
            return None
        finally:
            client.close()

    def test_feat_prot_and_the_cipher_policy(self):
        with HostileFtpReceiver(tls=True) as receiver:
            client = receiver.ftp()
            features = client.sendcmd("FEAT").splitlines()
            self.assertEqual(features[0], "211-Features:")
            self.assertIn(" AUTH TLS", features)
            self.assertIn(" PBSZ", features)
            self.assertIn(" PROT", features)
            self.assertEqual(features[-1], "211 End")
            client.close()

            secure = ftplib.FTP_TLS(context=tls_context())
            secure.connect("127.0.0.1", FTP_PORT, timeout=5, source_address=("127.0.0.2", 0))
            secure.auth()
            secure.sendcmd("PBSZ 0")
            with self.assertRaises(ftplib.error_perm) as refused:
                secure.sendcmd("PROT C")
            self.assertTrue(str(refused.exception).startswith("534 "))
            self.assertEqual(secure.sendcmd("PROT P"), "200 Protection level set to P")
            secure.close()

            static_rsa = tls_context()
            static_rsa.maximum_version = ssl.TLSVersion.TLSv1_2
            static_rsa.set_ciphers("AES128-SHA:AES256-GCM-SHA384")
            self.assertIsNone(self.handshake(context=static_rsa))
            # The server's order: its first suite although the client
            # prefers another.
            ordered = tls_context()
            ordered.maximum_version = ssl.TLSVersion.TLSv1_2
            ordered.set_ciphers("ECDHE-RSA-AES256-GCM-SHA384:ECDHE-RSA-AES128-GCM-SHA256")
            self.assertEqual(self.handshake(context=ordered), ("TLSv1.2", "ECDHE-RSA-AES128-GCM-SHA256"))

    def test_a_failed_handshake_closes_the_connection(self):
        with HostileFtpReceiver(tls=True) as receiver:
            raw = receiver.raw()
            raw.settimeout(10)
            raw.recv(100)
            raw.sendall(b"AUTH TLS\r\n")
            self.assertTrue(raw.recv(100).startswith(b"234"))
            raw.sendall(b"USER printer\r\nPASS 1234\r\n")  # plain text where a handshake belongs
            received = b""
            while True:
                chunk = raw.recv(100)
                if not chunk:
                    break
                received += chunk
            self.assertNotIn(b"331", received)
            raw.close()

    def test_key_errors_name_the_file_and_the_reason(self):
        receiver = HostileFtpReceiver(tls=True)
        os.makedirs(os.path.join(receiver.root, "other"))
        other_key, _ = key_pair(os.path.join(receiver.root, "other"))
        with open(receiver.settings_path) as handle:
            text = handle.read()
        with open(receiver.settings_path, "w") as handle:
            handle.write(text.replace(os.path.join(receiver.root, "key.pem"), other_key))
        with receiver:
            expected = "Cannot initialize SSL: Couldn't read key file %s: " % other_key
            self.assertTrue(wait_until(lambda: any(expected in line for line in receiver.trace())))
            line = [line for line in receiver.trace() if expected in line][0]
            self.assertRegex(line, "(?i)mismatch")


class LogsAndFiles(unittest.TestCase):
    def test_the_debug_log_hides_codes_is_private_and_bounded(self):
        with HostileFtpReceiver() as receiver:
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

    def test_each_file_lands_on_its_own_and_the_log_counts_what_landed(self):
        with HostileFtpReceiver(extra="OverWrite=1\n") as receiver:
            client = receiver.ftp(login="1234")
            client.sendcmd("CWD 5")
            for name in ("a.pdf", "b.pdf", "c.pdf"):
                client.storbinary("STOR " + name, io.BytesIO(printer_pdf()))
            # A folder appears where one file's name is (files are saved at
            # QUIT): that file cannot land, the others must.
            os.makedirs(os.path.join(receiver.folders[5], "b.pdf", "inside"))
            # The client must not take the session as delivered.
            with self.assertRaises(ftplib.error_temp) as told:
                client.quit()
            self.assertTrue(str(told.exception).startswith("451 "))
            self.assertTrue(wait_until(lambda: os.path.isfile(os.path.join(receiver.folders[5], "c.pdf"))))
            self.assertTrue(os.path.isfile(os.path.join(receiver.folders[5], "a.pdf")))
            self.assertTrue(wait_until(lambda: receiver.log() != ""))
            self.assertIn(";2;", receiver.log())
            self.assertTrue(any("b.pdf not stored" in line for line in receiver.trace()))

    def test_stor_is_refused_when_the_destination_is_nearly_full(self):
        receiver = HostileFtpReceiver()
        if not shell("mount -t tmpfs -o size=8m tmpfs " + receiver.folders[5]):
            self.skipTest("cannot mount a small file system here")
        self.addCleanup(shell, "umount " + receiver.folders[5])
        with receiver:
            client = receiver.ftp(login="1234")
            client.sendcmd("CWD 5")
            client.sendcmd("PASV")
            with self.assertRaises(ftplib.error_temp) as refused:
                client.sendcmd("STOR big.pdf")
            self.assertTrue(str(refused.exception).startswith("451 "))
            client.quit()

    def test_an_upload_is_written_hidden_in_its_folder_and_leftovers_go_at_start(self):
        receiver = HostileFtpReceiver()
        leftovers = [os.path.join(receiver.root, "tmp", "TXQB1A2B.tmp"),
                     os.path.join(receiver.folders[5], ".qbx-999999999-7.part")]
        for leftover in leftovers:
            with open(leftover, "wb") as handle:
                handle.write(b"x" * 1000)
        with receiver:
            self.assertTrue(wait_until(lambda: not any(os.path.exists(f) for f in leftovers)))
            client, port = waiting_store(receiver, "slow.pdf")
            data = socket.create_connection(("127.0.0.1", port), source_address=("127.0.0.2", 0))
            data.sendall(b"%PDF-1.4\n")
            folder = receiver.folders[5]
            # Written where it will live, under a hidden name, nothing in TMP.
            self.assertTrue(wait_until(lambda: os.listdir(folder) != []))
            self.assertRegex(os.listdir(folder)[0], r"^\.qbx-%d-[0-9]+\.part$" % receiver.process.pid)
            self.assertEqual([n for n in os.listdir(os.path.join(receiver.root, "tmp")) if n.startswith("TXQB")], [])
            data.close()
            self.assertEqual(client.voidresp(), "226 Transfer complete.")
            client.quit()
            self.assertEqual(os.listdir(folder), [])  # nine bytes are no PDF


if __name__ == "__main__":
    unittest.main()
