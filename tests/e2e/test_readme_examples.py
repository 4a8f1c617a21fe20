"""The README's commands, run as a reader would run them on the demo root:
every `quillbox-sendscan`, `curl`, `lftp` and `nc` line of its shell
blocks, in order, against a receiver set up as tools/demo.sh sets it up;
then the example results the README shows (names in the receive log,
files in the folders). A README edit that breaks an example fails here."""
import os
import re
import shlex
import shutil
import signal
import subprocess
import tempfile
import unittest

from receiver import BINARY, Receiver, wait_until

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../..")
README = os.path.join(SOURCE, "README.md")
PROGRAMS = ("build/quillbox-sendscan", "curl ", "lftp ", "nc ")


def shell_lines(text):
    """The README's commands: lines of ```sh blocks that start a program of
    PROGRAMS, with their trailing comments cut off."""
    commands, inside = [], False
    for line in text.splitlines():
        if line.startswith("```"):
            inside = line.strip() == "```sh"
            continue
        if inside and line.startswith(PROGRAMS):
            commands.append(re.sub(r"\s+#.*$", "", line))
    return commands


def demo_receiver():
    """A receiver on the demo's settings and destinations, with the key
    pair tools/demo.sh makes."""
    receiver = Receiver(settings=None)
    with open(os.path.join(SOURCE, "demo/quern.ini.template")) as template:
        settings = template.read()
    key, cert = os.path.join(receiver.root, "key.pem"), os.path.join(receiver.root, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=localhost", "-keyout", key, "-out", cert], check=True, capture_output=True)
    settings = settings.replace("[MANAGEMENT]\n", "[MANAGEMENT]\nSSL_PrivateKey=%s\nSSL_CertificateKey=%s\n"
                                % (key, cert), 1)
    with open(receiver.settings_path, "w") as handle:
        handle.write(settings)
    demo = os.path.join(receiver.root, "demo/root")
    with open(os.path.join(SOURCE, "demo/tvscan_f.template")) as template:
        destinations = template.read().replace("@DEMO@", demo)
    # The README's example of a destination the receiver cannot use.
    destinations += "7;/srv/scans/gone;Gone;;\n"
    with open(os.path.join(receiver.data, "tvscan_f.bin"), "w") as handle:
        handle.write(destinations)
    for number in (1, 2, 3):
        os.makedirs(os.path.join(demo, "srv/scans/dest%d" % number))
    return receiver, demo


class ReadmeExamples(unittest.TestCase):
    def test_every_command_runs_and_the_examples_show_what_it_does(self):
        with open(README) as handle:
            text = handle.read()
        commands = shell_lines(text)
        self.assertGreater(len(commands), 15)
        work = tempfile.mkdtemp(prefix="qb-readme-")
        self.addCleanup(shutil.rmtree, work, True)
        programs = os.path.dirname(os.path.abspath(BINARY))
        sendscan = os.path.join(programs, "quillbox-sendscan")
        # The pages the README's commands name as the reader's own files.
        with open(os.path.join(work, "scan.pbm"), "wb") as page:
            page.write(b"P4\n1728 64\n" + bytes(216 * 32) + b"\xff" * (216 * 32))
        for name in ("page1.tif", "page2.tif"):
            subprocess.run([sendscan, "make-tiff", os.path.join(work, name)], check=True, capture_output=True)

        receiver, demo = demo_receiver()
        with receiver:
            for command in commands:
                line = command.replace("build/quillbox-sendscan", shlex.quote(sendscan))
                line = line.replace("demo/root", demo).replace("/tmp/page.pdf", os.path.join(work, "page.pdf"))
                if line.startswith("build/"):
                    continue  # benchmarks: not examples of use
                with self.subTest(command=command):
                    done = subprocess.run(["sh", "-c", line], cwd=work, capture_output=True, timeout=60)
                    self.assertEqual(done.returncode, 0, done.stdout.decode(errors="replace")[-1500:] +
                                     done.stderr.decode(errors="replace")[-1500:])
                    if command.startswith("nc "):
                        self.assertIn(b"O   K  \\0 005", done.stdout)

            # The demo console's example lines name files the receive log names.
            def received():
                with open(os.path.join(receiver.data, "tvscanlog_f.bin")) as log:
                    return log.read()

            shown = re.findall(r"^received \S+ \S+  (\S+)  to destination (\d+)$", text, re.M)
            self.assertTrue(shown)
            for name, number in shown:
                folder = os.path.join(demo, "srv/scans/dest%s" % number)
                self.assertTrue(wait_until(lambda: ";%s;1;%s" % (name, folder) in received()), (name, received()))
            # "-> demo/root/srv/scans/dest2/page.pdf (page(1).pdf the second time)"
            for arrow in re.findall(r"#\s+-> demo/root/([^\s,]+)", text):
                self.assertTrue(os.path.exists(os.path.join(demo, arrow)), arrow)

            # What a person is told about a destination that cannot be used.
            self.assertFalse(os.path.exists("/srv/scans/gone"))
            subprocess.run([sendscan, "--source", "127.0.0.9", "raw", "7"], capture_output=True, timeout=60)
            receiver.process.send_signal(signal.SIGTERM)
            receiver.process.wait(timeout=10)
            told = receiver.process.stderr.read().decode(errors="replace")
            receiver.process.stderr.close()
        example = re.search(r"^(Quillbox: Destination 7 .*)$", text, re.M).group(1)
        self.assertIn(example, told)


if __name__ == "__main__":
    unittest.main()
