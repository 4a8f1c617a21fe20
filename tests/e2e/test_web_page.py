"""quillbox-web with a real receiver, driven in Debian's headless Chromium
by tests/browser/dashboard.mjs (playwright-core from npm). Skipped when
chromium or the npm packages are missing (tools/setup.sh installs them)."""
import http.client
import os
import shutil
import subprocess
import tempfile
import unittest

from receiver import BINARY, SENDSCAN, Receiver, read_file, retry, wait_until
from test_ftp_scanner_session import key_pair, tls_context

HERE = os.path.dirname(os.path.abspath(__file__))
BROWSER_TESTS = os.path.join(HERE, "..", "browser")
WEB = os.path.join(os.path.dirname(os.path.abspath(BINARY)), "quillbox-web")
CONFIG = os.path.join(os.path.dirname(os.path.abspath(BINARY)), "quillbox-config")
CHROMIUM = os.environ.get("QB_CHROMIUM", "/usr/bin/chromium")


class WebTlsTest(unittest.TestCase):
    """Off the loopback address the page is served with TLS or not at all."""

    def test_another_address_needs_the_key_pair(self):
        receiver = Receiver()
        self.addCleanup(receiver.__exit__, None, None, None)
        args = [WEB, "--address", "127.0.0.2", "--port", "37180"]
        refused = subprocess.run(args, env=receiver.env, capture_output=True, text=True, timeout=30)
        self.assertEqual(refused.returncode, 4, refused.stderr)
        self.assertIn("only with TLS", refused.stderr)

        key, certificate = key_pair(os.path.join(receiver.root, "etc"))
        with open(receiver.settings_path, "a") as handle:
            handle.write("[MANAGEMENT]\nSSL_PrivateKey=%s\nSSL_CertificateKey=%s\n" % (key, certificate))
        web = subprocess.Popen(args, env=receiver.env, stderr=subprocess.DEVNULL)
        self.addCleanup(web.wait, 10)
        self.addCleanup(web.terminate)
        token_path = os.path.join(receiver.root, "run/quillbox/web-token")
        self.assertTrue(wait_until(lambda: os.path.exists(token_path), 10))
        token = read_file(token_path)
        insecure = tls_context()

        def sign_in():
            connection = http.client.HTTPSConnection("127.0.0.2", 37180, timeout=10, context=insecure)
            connection.request("GET", "/?token=" + token)
            return connection.getresponse()
        response = retry(sign_in)  # once the page listens
        self.assertEqual(response.status, 303)
        self.assertTrue(response.getheader("Set-Cookie").endswith("; Secure"))
        plain = http.client.HTTPConnection("127.0.0.2", 37180, timeout=5)
        with self.assertRaises((http.client.HTTPException, OSError)):
            plain.request("GET", "/")
            plain.getresponse()


BROWSER_READY = (os.path.exists(CHROMIUM) and shutil.which("node") and
                 os.path.isdir(os.path.join(BROWSER_TESTS, "node_modules", "playwright-core")))


# tools/run-tests.sh installs the browser and asks for the test
# (QB_REQUIRE_BROWSER=1); a run by hand without them skips it.
@unittest.skipUnless(BROWSER_READY or os.environ.get("QB_REQUIRE_BROWSER") == "1",
                     "chromium, node or playwright-core missing (tools/browser-deps.sh)")
class WebPageTest(unittest.TestCase):
    def test_the_dashboard_in_a_real_browser(self):
        self.assertTrue(BROWSER_READY, "chromium, node or playwright-core missing")
        receiver = Receiver()
        self.addCleanup(receiver.__exit__, None, None, None)
        receiver.add_destination(1, "first")
        receiver.start()
        web = subprocess.Popen([WEB], env=receiver.env, stderr=subprocess.PIPE, text=True)
        self.addCleanup(web.wait, 10)
        self.addCleanup(web.terminate)
        token = os.path.join(receiver.root, "run/quillbox/web-token")
        self.assertTrue(wait_until(lambda: os.path.exists(token), 10))
        self.assertEqual(os.stat(token).st_mode & 0o777, 0o640)
        url = subprocess.run([CONFIG, "web-url"], env=receiver.env, capture_output=True,
                             text=True, timeout=30).stdout.strip()
        self.assertRegex(url, r"^http://127\.0\.0\.1:37180/\?token=[0-9a-f]{48}$")

        artifacts = os.environ.get("QB_ARTIFACTS") or tempfile.mkdtemp(prefix="qb-web-shots.")
        os.makedirs(artifacts, exist_ok=True)
        folder = os.path.join(receiver.root, "srv/from-browser")
        os.makedirs(folder)
        env = dict(receiver.env, QB_WEB_URL=url, QB_SENDSCAN=SENDSCAN, QB_SCAN_FOLDER=folder,
                   QB_ARTIFACTS=artifacts, QB_CHROMIUM=CHROMIUM)
        result = subprocess.run(["node", os.path.join(BROWSER_TESTS, "dashboard.mjs")], env=env,
                                capture_output=True, text=True, timeout=240)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertTrue(os.path.getsize(os.path.join(artifacts, "dashboard.png")) > 10000)
        print("screenshots in", artifacts)


if __name__ == "__main__":
    unittest.main()
