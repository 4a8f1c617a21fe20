"""The README's quick start as a reader follows it: tools/demo.sh, then
every `quillbox-sendscan`, `curl`, `lftp` and `nc` line of the README's
shell blocks, in order; then the example output the README shows (the demo
console's lines, the message for an unusable destination, the files in the
folders). A README or demo change that breaks an example fails here."""
import os
import re
import shlex
import shutil
import signal
import subprocess
import tempfile
import unittest

from receiver import BINARY, listening, read_file, wait_until, write_file

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


class Demo:
    """tools/demo.sh, as the quick start runs it, on a demo root of its own
    (and the build folder of the receiver under test); its console goes to
    a file beside the root."""

    def __init__(self, root):
        self.console = root + "-console.txt"
        env = dict(os.environ, QB_DEMO_ROOT=root, QB_BUILD_DIR=os.path.dirname(os.path.abspath(BINARY)))
        with open(self.console, "w") as console:
            self.process = subprocess.Popen([os.path.join(SOURCE, "tools/demo.sh")], env=env,
                                            stdout=console, stderr=subprocess.STDOUT)

    @property
    def lines(self):
        return read_file(self.console).splitlines()

    def wait_until_listening(self):
        return wait_until(lambda: listening(37100) or self.process.poll() is not None, 300) and \
            self.process.poll() is None

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        self.process.wait(timeout=20)


class ReadmeExamples(unittest.TestCase):
    def test_every_command_runs_and_the_examples_show_what_it_does(self):
        text = read_file(README)
        commands = shell_lines(text)
        self.assertGreater(len(commands), 15)
        work = tempfile.mkdtemp(prefix="qb-readme-")
        self.addCleanup(shutil.rmtree, work, True)
        programs = os.path.dirname(os.path.abspath(BINARY))
        sendscan = os.path.join(programs, "quillbox-sendscan")
        # The pages the README's commands name as the reader's own files.
        write_file(os.path.join(work, "scan.pbm"), b"P4\n1728 64\n" + bytes(216 * 32) + b"\xff" * (216 * 32))
        for name in ("page1.tif", "page2.tif"):
            subprocess.run([sendscan, "make-tiff", os.path.join(work, name)], check=True, capture_output=True)

        demo = os.path.join(work, "demo-root")
        data = os.path.join(demo, "var/lib/Tovira/Quillbox")
        os.makedirs(data)
        # The README's example of a destination the receiver cannot use, added
        # once the demo has written its list.
        running = Demo(demo)
        try:
            self.assertTrue(running.wait_until_listening(), "\n".join(running.lines))
            with open(os.path.join(data, "tvscan_f.bin"), "a") as handle:
                handle.write("7;/srv/scans/gone;Gone;;\n")
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
            self.assertFalse(os.path.exists("/srv/scans/gone"))
            subprocess.run([sendscan, "--source", "127.0.0.9", "raw", "7"], capture_output=True, timeout=60)

            # The demo console's example lines, the time aside.
            time_stamp = r"\d{4}/\d\d/\d\d \d\d:\d\d"
            for shown in re.findall(r"^(received \S+ \S+  .*)$", text, re.M):
                pattern = re.escape(shown).replace(re.escape("2026/12/06 15:46"), time_stamp)
                pattern = pattern.replace(re.escape("2026/12/06 15:47"), time_stamp)
                self.assertTrue(wait_until(lambda: any(re.fullmatch(pattern, seen) for seen in running.lines)),
                                (shown, running.lines))
            # What a person is told about a destination that cannot be used.
            example = re.search(r"^(Quillbox: Destination 7 .*)$", text, re.M).group(1)
            self.assertTrue(wait_until(lambda: example in running.lines), running.lines)
            # "-> demo/root/srv/scans/dest2/page.pdf (page(1).pdf the second time)"
            for arrow in re.findall(r"#\s+-> demo/root/([^\s,]+)", text):
                self.assertTrue(os.path.exists(os.path.join(demo, arrow)), arrow)
        finally:
            running.stop()

    def test_the_commands_no_test_runs_name_what_exists(self):
        # The benchmarks take minutes and the by-hand install changes the
        # machine: their programs, modes and files must at least exist.
        blocks = re.findall(r"^```sh\n(.*?)^```", read_file(README), re.M | re.S)
        lines = [re.sub(r"\s+#.*$", "", line) for block in blocks for line in block.splitlines()]
        build = os.path.dirname(os.path.abspath(BINARY))
        benches = [line.split() for line in lines if line.startswith("build/bench/")]
        self.assertGreater(len(benches), 3)
        for words in benches:
            program = os.path.join(build, words[0][len("build/"):])
            if not os.path.isdir(os.path.join(build, "bench")):
                self.skipTest("benchmarks not built here")
            self.assertTrue(os.access(program, os.X_OK), program)
            if len(words) > 1:
                usage = subprocess.run([program, "no-such-mode"], capture_output=True, text=True, timeout=30)
                self.assertIn(" %s " % words[1], usage.stderr + " ", words)
        installs = [line for line in lines if line.startswith("sudo install")]
        self.assertTrue(installs)
        for line in installs:
            for word in shlex.split(line):
                if word.startswith("build/"):
                    self.assertTrue(os.path.exists(os.path.join(build, word[len("build/"):])), word)
                elif word.startswith("tools/"):
                    self.assertTrue(os.path.exists(os.path.join(SOURCE, word)), word)
        # The account the install adds.
        self.assertIn("\nUser=quillbox\n", read_file(os.path.join(SOURCE, "tools/systemd/quillbox.service")))


if __name__ == "__main__":
    unittest.main()
