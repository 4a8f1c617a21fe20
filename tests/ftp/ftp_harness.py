"""Starts qb_ftp_test_server on a throw-away machine root, with a
self-signed key pair for FTPS, and stops it again."""
import os
import shutil
import subprocess
import tempfile

SERVER = os.environ.get("QB_FTP_TEST_SERVER",
                        os.path.join(os.path.dirname(__file__), "../../build/tests/ftp/qb_ftp_test_server"))
DATA = "var/lib/Tovira/Quillbox"


def make_key_pair(folder):
    key = os.path.join(folder, "key.pem")
    cert = os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    return key, cert


class FtpTestServer:
    """with FtpTestServer(settings) as server: server.port, server.folder"""

    def __init__(self, ftp_support=1, ftps_support=1, extra_settings=""):
        self.ftp_support = ftp_support
        self.ftps_support = ftps_support
        self.extra = extra_settings

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="qbftp.")
        os.makedirs(os.path.join(self.root, DATA))
        os.makedirs(os.path.join(self.root, "etc"))
        self.tmp = os.path.join(self.root, "tmp")
        os.makedirs(self.tmp)
        self.folder = os.path.join(self.root, "received")
        os.makedirs(self.folder)
        key, cert = make_key_pair(self.root)
        with open(os.path.join(self.root, DATA, "quern.ini"), "w") as ini:
            ini.write("[MANAGEMENT]\nFTP_Support=%d\nFTPS_Support=%d\nSSL_PrivateKey=%s\n"
                      "SSL_CertificateKey=%s\nFTP_DebugLog=%s\n%s"
                      % (self.ftp_support, self.ftps_support, key, cert,
                         os.path.join(self.root, "ftp.log"), self.extra))
        env = dict(os.environ, QUILLBOX_ROOT=self.root, TMP=self.tmp)
        self.process = subprocess.Popen([SERVER, self.folder], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, env=env, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("port "):
            self.process.kill()
            raise RuntimeError("test server did not start: %r" % line)
        self.port = int(line.split()[1])
        return self

    def log(self):
        try:
            with open(os.path.join(self.root, "ftp.log")) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def temporary_files(self):
        return [n for n in os.listdir(self.tmp) if n.startswith("TXQB")]

    def __exit__(self, *exc):
        try:
            self.process.stdin.write("stop\n")
            self.process.stdin.flush()
            self.process.wait(timeout=20)
        except Exception:
            self.process.kill()
            self.process.wait()
        self.process.stdin.close()
        self.process.stdout.close()
        shutil.rmtree(self.root, ignore_errors=True)
        return False
