"""The service unit: systemd's own checker accepts it, and it starts the
program the way the desktop instance expects (service mode, under the
companion's name)."""
import configparser
import os
import shutil
import subprocess
import tempfile
import unittest

from receiver import BINARY, read_file, write_file

UNIT = os.path.join(os.path.dirname(__file__), "../../tools/systemd/quillbox.service")


class ServiceUnit(unittest.TestCase):
    def test_the_unit_starts_service_mode_under_the_companion_name(self):
        unit = configparser.ConfigParser(interpolation=None, strict=False)
        unit.optionxform = str
        unit.read(UNIT)
        self.assertEqual(unit["Service"]["ExecStart"], "/usr/bin/quillbox QBXSVC")
        self.assertEqual(unit["Install"]["Alias"], "QBXSVC.service")

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
    def test_systemd_analyze_verify_accepts_it(self):
        # The checker wants the program to exist: point it at the build.
        folder = tempfile.mkdtemp(prefix="qb-unit-")
        self.addCleanup(shutil.rmtree, folder, True)
        text = read_file(UNIT).replace("/usr/bin/quillbox", os.path.abspath(BINARY))
        path = os.path.join(folder, "quillbox.service")
        write_file(path, text)
        result = subprocess.run(["systemd-analyze", "verify", "--man=no", path],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stderr.strip(), "")


if __name__ == "__main__":
    unittest.main()
