"""What a person is told at start when a setting or a port cannot be used:
standard error (and the system log) names the key, the value and what is
used instead, or the port and what it costs."""
import signal
import socket
import unittest

from receiver import Receiver


def stderr_of_a_run(receiver):
    """Stops the started receiver; returns what it wrote on standard error."""
    receiver.process.send_signal(signal.SIGTERM)
    receiver.process.wait(timeout=10)
    text = receiver.process.stderr.read().decode(errors="replace")
    receiver.process.stderr.close()
    return text


class StartProblems(unittest.TestCase):
    def test_a_port_that_is_no_number_is_reported_and_the_default_used(self):
        settings = "[MANAGEMENT]\nFtpPort=twenty-one\nFTPS_Support=0\n"
        with Receiver(settings=settings) as receiver:
            text = stderr_of_a_run(receiver)
        self.assertIn("Quillbox: quern.ini [MANAGEMENT] FtpPort=twenty-one is not valid "
                      "(a whole number from 1 to 65535); 21 is used instead", text)
        with Receiver(settings="[MANAGEMENT]\nFtpPort=2121\nFTPS_Support=0\n") as receiver:
            self.assertNotIn("FtpPort", stderr_of_a_run(receiver))

    def test_a_name_service_port_taken_is_reported(self):
        holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            holder.bind(("0.0.0.0", 37010))
        except OSError:
            holder.close()
            self.skipTest("UDP 37010 is in use here already")
        try:
            with Receiver(settings="[MANAGEMENT]\nFTP_Support=0\nFTPS_Support=0\n") as receiver:
                text = stderr_of_a_run(receiver)
        finally:
            holder.close()
        self.assertIn("Quillbox: The name-service port UDP 37010 cannot be used", text)
        self.assertIn("printers cannot find this PC by its name.", text)

    def test_a_temporary_folder_that_cannot_take_files_is_reported(self):
        with Receiver(env={"TMP": "/nonexistent/quillbox-tmp"}) as receiver:
            text = stderr_of_a_run(receiver)
        self.assertIn("Quillbox: The temporary folder /nonexistent/quillbox-tmp/ cannot take files "
                      "(No such file or directory): scans by the raw road are refused", text)
        with Receiver() as receiver:
            self.assertNotIn("temporary folder", stderr_of_a_run(receiver))


if __name__ == "__main__":
    unittest.main()
