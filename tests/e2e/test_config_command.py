"""quillbox-config against a real receiver on its own root: a destination
it adds receives a scan, values the receiver would trip on are refused
without touching a file, concurrent writers lose nothing, and the receive
log is followed as documents arrive."""
import json
import os
import subprocess
import threading
import time
import unittest

from receiver import Receiver, read_file, run_together, sendscan, wait_until, write_file

CONFIG = os.environ.get("QB_CONFIG", os.path.join(os.path.dirname(os.path.abspath(
    os.environ.get("QB_BINARY", os.path.join(os.path.dirname(__file__), "../../build/quillbox")))),
    "quillbox-config"))

OK, FAILED, USAGE, INVALID, NOT_PERMITTED, NO_RECEIVER, NOT_LISTED, LISTED = range(8)


class ConfigTest(unittest.TestCase):
    def setUp(self):
        self.receiver = Receiver()
        self.addCleanup(self.receiver.__exit__, None, None, None)
        self.scans = os.path.join(self.receiver.root, "srv/scans")
        os.makedirs(os.path.join(self.scans, "front"))
        self.list_path = os.path.join(self.receiver.data, "tvscan_f.bin")

    def config(self, *args):
        result = subprocess.run([CONFIG, *map(str, args)], env=self.receiver.env,
                                capture_output=True, text=True, timeout=30)
        return result.returncode, result.stdout, result.stderr

    def config_json(self, *args):
        code, out, err = self.config("--json", *args)
        return code, json.loads(out)

    def read(self, path):
        return read_file(path, binary=True) if os.path.exists(path) else None

    def test_a_destination_added_by_the_command_receives_a_scan(self):
        self.receiver.start()
        folder = os.path.join(self.scans, "front")
        code, out, err = self.config("dest", "add", 7, folder, "--description", "Front desk")
        self.assertEqual(code, OK, err)
        code, listed = self.config_json("dest", "list")
        self.assertEqual(code, OK)
        self.assertEqual([(d["number"], d["folder"], d["description"]) for d in listed["destinations"]],
                         [(7, folder, "Front desk")])

        code, out = sendscan("raw", 7, "--doc-name", "front")
        self.assertEqual(code, 0, out)
        self.assertTrue(wait_until(lambda: os.listdir(folder), 10), out)

        code, status = self.config_json("status")
        self.assertEqual(code, OK)
        self.assertEqual((status["running"], status["mode"]), (True, "normal"))
        self.assertEqual([d["usable"] for d in status["destinations"]], [True])
        self.assertIn(37100, [p["port"] for p in status["ports"]])
        self.assertTrue(wait_until(lambda: self.config_json("status")[1]["last_documents"], 5))
        code, out, err = self.config("status")
        self.assertIn("running (normal mode)", out)
        self.assertRegex(out, r"7  %s  ok, .* free" % folder)

    def test_status_without_a_receiver_says_so(self):
        code, status = self.config_json("status")
        self.assertEqual(code, NO_RECEIVER)
        self.assertEqual((status["running"], status["mode"]), (False, "none"))
        self.assertFalse(os.path.exists(os.path.join(self.receiver.root, "run/quillbox")))

    def test_invalid_values_are_refused_with_the_reason_and_change_nothing(self):
        folder = os.path.join(self.scans, "front")
        write_file(self.list_path, "1;%s;Front;;\n" % folder)
        write_file(self.receiver.settings_path, "[MANAGEMENT]\nHDD=80\n")
        # Each value rule has its table in tests/admin; here one refusal of
        # each kind shows its exit code, and the command line's own faults.
        cases = [
            (("dest", "add", 2, "relative/path"), INVALID, "absolute"),
            (("dest", "add", "two", folder), INVALID, "not a number"),
            (("dest", "add", 1, folder), LISTED, "listed already"),
            (("dest", "set", 9, "--code", "1"), NOT_LISTED, "not listed"),
            (("dest", "set", 1), USAGE, "needs --folder"),
            (("set", "NoSuchKey", "1"), INVALID, "no setting named NoSuchKey"),
            (("get", "NoSuchKey"), INVALID, "no setting"),
            (("frobnicate",), USAGE, "unknown command"),
            (("dest", "add", 2, folder, "--colour", "red"), USAGE, "unknown option"),
        ]
        before = (self.read(self.list_path), self.read(self.receiver.settings_path))
        for args, expected, reason in cases:
            with self.subTest(args=args):
                code, out, err = self.config(*args)
                self.assertEqual(code, expected, err)
                self.assertIn(reason, err)
                self.assertEqual((self.read(self.list_path), self.read(self.receiver.settings_path)),
                                 before)
        code, refused = self.config_json("dest", "add", 2, folder, "--code", "x")
        self.assertEqual((code, refused["ok"], refused["error"]), (INVALID, False, "invalid"))

    def test_a_folder_the_receivers_account_cannot_write_names_the_fix(self):
        # The data folder's owner is the account the receiver runs as.
        os.chown(self.receiver.data, 65534, 65534)
        os.chmod(self.receiver.root, 0o755)
        closed = os.path.join(self.scans, "closed")
        os.makedirs(closed, mode=0o755)
        code, out, err = self.config("dest", "add", 3, closed)
        self.assertEqual(code, INVALID, err)
        self.assertIn("cannot create files in " + closed, err)
        self.assertIn("chgrp ", err)
        # Once the folder is the account's group's, the same command takes it.
        os.chown(closed, 0, 65534)
        os.chmod(closed, 0o2775)
        code, out, err = self.config("dest", "add", 3, closed)
        self.assertEqual(code, OK, err)
        self.assertIn("3;%s;;;" % closed, self.read(self.list_path).decode())

    def test_settings_show_their_range_and_when_they_count(self):
        code, shown = self.config_json("get", "HDD")
        self.assertEqual(code, OK)
        self.assertEqual((shown["value"], shown["range"], shown["default"], shown["takes_effect"]),
                         ("80", "0 to 100", "80", "at-once"))
        self.receiver.start()
        code, out, err = self.config("set", "MaxConnectNum", "20")
        self.assertEqual(code, OK, err)
        self.assertIn("next start", out)
        self.assertIn("kill -TERM", out)
        code, out, err = self.config("set", "HDD", "75")
        self.assertEqual(code, OK, err)
        self.assertNotIn("next start", out)
        code, shown = self.config_json("get", "MaxConnectNum")
        self.assertEqual((shown["value"], shown["set"]), ("20", True))

    def test_concurrent_writers_never_corrupt_the_list(self):
        folder = os.path.join(self.scans, "front")
        said_ok = {}
        lock = threading.Lock()

        def writer(i):
            for number in range(101 + 100 * i, 151 + 100 * i):
                verb = "add" if number % 5 else "set"
                args = (["dest", "add", number, folder, "--description", "d%d" % number]
                        if verb == "add" else ["dest", "set", number - 1, "--code", str(number)])
                code, _, err = self.config(*args)
                with lock:
                    said_ok[tuple(map(str, args))] = code == OK
                    self.assertIn(code, (OK, NOT_LISTED), err)

        run_together([(writer, 2)])
        lines = read_file(self.list_path).splitlines()
        entries = {}
        for line in lines:
            fields = line.split(";")
            self.assertEqual(len(fields), 5, line)
            self.assertTrue(fields[0].isdigit() and fields[1] == folder, line)
            entries[int(fields[0])] = fields
        self.assertEqual(len(entries), len(lines))  # no number twice
        for args, ok in said_ok.items():
            if not ok:
                continue
            if args[1] == "add":
                self.assertIn(int(args[2]), entries)
            else:
                self.assertEqual(entries[int(args[2])][3], args[4])

    def test_log_follows_documents_as_they_arrive(self):
        self.receiver.start()
        folder = os.path.join(self.scans, "front")
        self.assertEqual(self.config("dest", "add", 1, folder)[0], OK)
        follower = subprocess.Popen([CONFIG, "log", "--follow", "--json"], env=self.receiver.env,
                                    stdout=subprocess.PIPE, text=True)
        self.addCleanup(follower.stdout.close)
        self.addCleanup(follower.wait)
        self.addCleanup(follower.kill)
        time.sleep(0.3)  # the watch is in place
        code, out = sendscan("raw", 1, "--doc-name", "followed")
        self.assertEqual(code, 0, out)
        got = []
        reader = threading.Thread(target=lambda: got.append(follower.stdout.readline()))
        reader.start()
        reader.join(10)
        self.assertTrue(got and got[0], "no line within 10 s")
        entry = json.loads(got[0])
        self.assertEqual(entry["folder"], folder)
        self.assertTrue(entry["file"].startswith("followed"), entry)
        code, out, err = self.config("log")
        self.assertEqual(code, OK)
        self.assertIn("%s  to destination 1" % entry["file"], out)


if __name__ == "__main__":
    unittest.main()
