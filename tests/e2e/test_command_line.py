"""The command lines of quillbox and quillbox-sendscan: help, version, usage
faults and failures with their exit codes and messages; the sender's own
run of the receiver's file checks, and the files its make-pdf and make-tiff
commands write."""
import os
import shutil
import subprocess
import tempfile
import unittest

from receiver import BINARY, SENDSCAN, Receiver, read_file, sendscan, write_file
from test_scan_documents import DocumentReceiver, jfif, pdf_pages, printer_pdf, read_pbm, tiff_pages


def run(*command, env=None):
    result = subprocess.run([str(c) for c in command], capture_output=True, text=True,
                            timeout=60, env=env)
    return result.returncode, result.stdout, result.stderr


def plain_pdf():
    """A valid PDF whose information object names its producer where a
    printer's names the creation date: a layout printers do not write."""
    return printer_pdf().replace(b"/CreationDate (D:20261205120000)",
                                 b"/Producer (some tool, version 1)")


def write_pbm(path, width, height):
    """A page of rows that differ, so that a shift or a flip shows, as binary PBM."""
    stride = (width + 7) // 8
    rows = bytes((x * 7 + y * 13) % 256 if y % 40 < 30 else 0
                 for y in range(height) for x in range(stride))
    write_file(path, b"P4\n%d %d\n" % (width, height) + rows)


class QuillboxCommandLine(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="qb-cli-")
        self.env = dict(os.environ, QUILLBOX_ROOT=self.root)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def test_help_version_and_usage_faults_touch_nothing(self):
        # Each program: its help options and what the help names, then the
        # usage faults (exit code 2) and what each says.
        sendscan_faults = {("--bogus", "cap"): "unknown option --bogus",
                           ("-x",): "unknown option -x",
                           ("send", "1"): "send: missing FILE",
                           ("send",): "send: missing DEST",
                           ("make-pdf",): "make-pdf: missing OUT.pdf",
                           ("cap", "more"): "unexpected operand more",
                           ("frob",): "unknown command frob",
                           ("--host",): "--host needs a value",
                           (): "no command given"}
        for program, helps, shown, faults in (
                (BINARY, ("--help", "-h"), ("usage: quillbox", "QBXSVC"),
                 {("--frobnicate",): "unknown option --frobnicate"}),
                (SENDSCAN, ("--help",), ("make-pdf", "exit codes"), sendscan_faults)):
            name = os.path.basename(program)
            for option in helps:
                code, out, err = run(program, option, env=self.env)
                self.assertEqual((code, err), (0, ""), name)
                for text in shown:
                    self.assertIn(text, out, name)
            code, out, _ = run(program, "--version", env=self.env)
            self.assertEqual(code, 0)
            self.assertRegex(out, r"^%s \d+\.\d+\.\d+\n$" % name)
            for args, message in faults.items():
                code, out, err = run(program, *args, env=self.env)
                self.assertEqual(code, 2, (name, args))
                self.assertIn(message, err, (name, args))
        self.assertEqual(os.listdir(self.root), [])

    def test_a_lock_that_cannot_be_created_names_the_folder(self):
        run_folder = os.path.join(self.root, "run/quillbox")
        os.makedirs(run_folder)
        for folder in (self.root, os.path.dirname(run_folder), run_folder):
            os.chmod(folder, 0o755)
        command = [BINARY]
        if os.geteuid() == 0:
            # Root writes anywhere: the program runs as nobody instead.
            if not shutil.which("setpriv") or not os.access(BINARY, os.X_OK):
                self.skipTest("needs setpriv to drop root")
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", BINARY]
        else:
            os.chmod(run_folder, 0o555)
        code, _, err = run(*command, env=self.env)
        self.assertEqual(code, 4, err)
        self.assertIn("Error: Quillbox cannot create the instance lock %s/QeurnComm main: "
                      % run_folder, err)
        self.assertIn("write rights on %s" % run_folder, err)


class SendscanCommandLine(unittest.TestCase):
    def test_capability_on_both_ports(self):
        with Receiver():
            code, out = sendscan("cap")
            self.assertEqual(code, 0, out)
            self.assertIn("formats TIFF-G4MMR, PDF-G4MMR, TIFF-G3MH; server key number 0", out)
            code, out = sendscan("cap", "--direct")
            self.assertEqual(code, 0, out)
            self.assertIn("fillers at 47 and 56 (106 bytes)", out)


class SendscanFileChecks(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="qb-files-")

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.scratch, name)

    def test_files_the_receiver_would_drop_are_refused_before_sending(self):
        write_file(self.path("plain.pdf"), plain_pdf())
        subprocess.run(["qpdf", "--check", self.path("plain.pdf")], check=True,
                       capture_output=True)
        write_file(self.path("odd.tif"), b"II*\x00\x08\x00\x00\x00" + b"\x00" * 10)  # no resolution
        with DocumentReceiver() as receiver:
            code, out = sendscan("send", 1, self.path("plain.pdf"))
            self.assertEqual(code, 3, out)
            self.assertIn("this PDF's layout is not one that printers write; the receiver "
                          "would drop it and lock this address out for 5 minutes", out)
            self.assertIn("nothing sent", out)
            code, out = sendscan("send", 1, self.path("odd.tif"))
            self.assertEqual(code, 3, out)
            self.assertIn("resolution of 100, 200, 300, 400 or 600 dpi", out)
            # Nothing went out, so the address is not locked out.
            self.assertEqual(sendscan("cap")[0], 0)
            # Forced, the file goes out, is dropped, and the sender says so.
            code, out = sendscan("send", 1, self.path("plain.pdf"), "--force")
            self.assertEqual(code, 1, out)
            self.assertIn("did not land", out)
            self.assertEqual(receiver.files(), [])
            code, out = sendscan("cap")
            self.assertEqual(code, 1)
            self.assertIn("--source 127.0.0.N", out)
            self.assertEqual(sendscan("cap", "--source", "127.0.0.3")[0], 0)

    def test_made_pdf_and_tiff_land_with_their_pixels_and_a_jpeg_whole(self):
        write_file(self.path("photo.jpg"), jfif())
        write_pbm(self.path("page.pbm"), 800, 600)
        original = read_pbm(self.path("page.pbm"))
        code, out = sendscan("make-pdf", self.path("page.pdf"), self.path("page.pbm"),
                             "--pages", 2)
        self.assertEqual(code, 0, out)
        code, out = sendscan("make-tiff", self.path("page.tif"), self.path("page.pbm"),
                             "--dpi", 300)
        self.assertEqual(code, 0, out)
        self.assertEqual(sendscan("make-tiff", self.path("page.pdf"))[0], 2)  # wrong extension
        subprocess.run(["qpdf", "--check", self.path("page.pdf")], check=True,
                       capture_output=True)
        with DocumentReceiver() as receiver:
            for name in ("page.pdf", "page.tif", "photo.jpg"):
                code, out = sendscan("send", 1, self.path(name))
                self.assertEqual(code, 0, out)
            self.assertEqual(receiver.files(), ["page.pdf", "page.tif", "photo.jpg"])
            self.assertEqual(read_file(os.path.join(receiver.folder, "photo.jpg"), True), jfif())
            self.assertIn(";page.pdf;1;", receiver.log_with(";page.pdf;1;"))
            rendered = pdf_pages(os.path.join(receiver.folder, "page.pdf"), 200)
            self.assertEqual(rendered, [original, original])
            self.assertEqual(tiff_pages(os.path.join(receiver.folder, "page.tif")), [original])

    def test_the_built_in_test_page_is_made_at_the_asked_size(self):
        code, out = sendscan("make-tiff", self.path("test.tif"), "--width", 1024, "--height", 700,
                             "--pages", 3)
        self.assertEqual(code, 0, out)
        pages = tiff_pages(self.path("test.tif"))
        self.assertEqual([(w, h) for w, h, _ in pages], [(1024, 700)] * 3)
        self.assertEqual(len({data for _, _, data in pages}), 3)  # the pages differ


if __name__ == "__main__":
    unittest.main()
