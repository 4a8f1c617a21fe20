"""A configuration program whose window exists but never answers: printers
are served and the program ends as if it were not there."""
import signal
import struct
import time
import unittest

from receiver import OK, Receiver, packet, receive_exactly
from test_startup import FakeConfigWindow, wait_for_record, wait_until, write_record_words

CAPABILITY_REQUEST = struct.pack(">HHH", 0x3400, 1, 0)


def timed(action):
    started = time.monotonic()
    result = action()
    return result, time.monotonic() - started


def receive_body(client):
    length = struct.unpack(">H", receive_exactly(client, 2))[0]
    return receive_exactly(client, length)


class SilentConfigProgram(unittest.TestCase):
    def test_printers_and_the_exit_do_not_wait_for_a_silent_configuration_program(self):
        with Receiver() as receiver:
            wait_for_record(receiver)
            # The start-up probe's connection must be gone before the window is announced.
            self.assertTrue(wait_until(lambda: any(
                l.startswith("Connection closed") for l in receiver.trace())))
            window = FakeConfigWindow(receiver, answers=False)
            write_record_words(receiver, 1, window.handle)

            # Long socket time-outs, so that a slow receiver is measured, not cut off.
            first = receiver.connect(source="127.0.0.2")
            first.settimeout(30)
            greeting, first_greeting = timed(lambda: receive_exactly(first, 4))
            self.assertEqual(greeting, OK)
            # A second printer arrives (the receiver tells the configuration
            # program) while the first asks for the capabilities.
            second = receiver.connect(source="127.0.0.3")
            second.settimeout(30)
            arrived = time.monotonic()
            first.sendall(packet(CAPABILITY_REQUEST))
            reply, reply_delay = timed(lambda: receive_body(first))
            greeting = receive_exactly(second, 4)
            second_greeting = time.monotonic() - arrived
            self.assertEqual(greeting, OK)
            self.assertEqual(len(reply), 106)

            receiver.process.send_signal(signal.SIGTERM)
            try:
                code, exit_time = timed(lambda: receiver.process.wait(timeout=30))
            finally:
                receiver.process.stderr.close()
            print("\nsilent configuration window: greeting 1st printer %.3f s, greeting 2nd "
                  "printer %.3f s, capability reply to the 1st printer while the 2nd arrives "
                  "%.3f s, SIGTERM to exit %.3f s"
                  % (first_greeting, second_greeting, reply_delay, exit_time), flush=True)
            self.assertEqual(code, 0)
            self.assertLess(first_greeting, 0.5)
            self.assertLess(second_greeting, 0.5)
            self.assertLess(reply_delay, 0.5)
            self.assertLess(exit_time, 1.0)

            # Nothing was lost or reordered on the way: both arrivals, then
            # the idle states of the exit.
            messages = []
            while not window.messages.empty():
                messages.append(window.messages.get())
            if messages[:1] == [(1025, 2, 0)]:  # the start-up probe's, as in test_startup
                messages.pop(0)
            self.assertEqual(messages[:2], [(1025, 1, 1), (1025, 1, 2)])
            self.assertEqual(messages[2:], [(1025, 2, 0)] * (len(messages) - 2))
            self.assertGreaterEqual(len(messages), 3)
            self.assertTrue(any("abandoned at exit" in l for l in receiver.trace()))
            window.close()


if __name__ == "__main__":
    unittest.main()
