"""The tray as a user and a desktop applet see it: R/run/quillbox/tray.ini
with the icon's picture and the last menu, commands sent to the main
window's endpoint, a desktop instance that follows a service instance
through a fake systemctl, the disk-full picture on a small volume and the
address-change monitor with the name announcement it leads to (the last
two need root)."""
import os
import socket
import subprocess
import time
import unittest

from receiver import (BINARY, JOB_PORT, OK, Receiver, fake_systemctl, main_window, post,
                      read_file, receive_exactly, sendscan, shell, wait_until, write_file)
from test_name_service import read_ini
from test_startup import read_record, write_record_words

WM_COMMAND = 0x111
TRAY_MESSAGE = 0x400 + 10
RIGHT_BUTTON_DOWN = 0x204
LEFT_DOUBLE_CLICK = 0x203

def tray(root):
    return read_ini(os.path.join(root, "run/quillbox/tray.ini"))


def icon(root):
    return tray(root).get(("tray", "icon"))


def menu(root):
    """The last menu as [(id, text, state)] in order."""
    items = tray(root)
    return [tuple(items[("menu", "item%d" % i)].split(",")) for i in range(1, 9) if ("menu", "item%d" % i) in items]


def right_click_menu(root):
    """Right-clicks the icon and returns the menu it then records."""
    before = os.path.getmtime(os.path.join(root, "run/quillbox/tray.ini"))
    time.sleep(0.01)
    post([main_window(root)], TRAY_MESSAGE, 101, RIGHT_BUTTON_DOWN)
    wait_until(lambda: ("menu", "item1") in tray(root)
               and os.path.getmtime(os.path.join(root, "run/quillbox/tray.ini")) > before)
    time.sleep(0.1)
    return menu(root)


class TrayOfANormalInstance(unittest.TestCase):
    def test_icon_menu_configuration_program_and_removal(self):
        receiver = Receiver(settings=None)
        conf = os.path.join(receiver.root, "conf")
        os.makedirs(conf)
        marker = os.path.join(receiver.root, "launched")
        write_file(os.path.join(conf, "QuernConf.exe"), "#!/bin/sh\necho \"run:$*\" >> %s\n" % marker, 0o755)
        write_file(receiver.settings_path, "[DEBUG]\nTrace=2\n[PATH]\nCONF=%s\n" % conf)
        with receiver:
            root = receiver.root
            self.assertTrue(wait_until(lambda: icon(root) == "SICON"))
            self.assertEqual(tray(root).get(("tray", "tip")), "Quillbox")
            self.assertEqual(tray(root).get(("tray", "visible")), "1")
            self.assertEqual(right_click_menu(root), [
                ("40006", "Configuration...", "default"), ("0", "-", "enabled"),
                ("40004", "Close", "enabled")])
            # A double click starts the configuration program, in normal mode
            # without arguments ...
            post([main_window(root)], TRAY_MESSAGE, 101, LEFT_DOUBLE_CLICK)
            self.assertTrue(wait_until(lambda: os.path.exists(marker)))
            # ... and once it is present, another one only leaves it be.
            write_record_words(receiver, 1, 777777)
            post([main_window(root)], WM_COMMAND, 40006, 0)
            time.sleep(0.5)
            self.assertEqual(read_file(marker), "run:\n")
            # The disk-state command draws the warning picture.
            post([main_window(root)], WM_COMMAND, 1015, 2)
            self.assertTrue(wait_until(lambda: icon(root) == "SICON_YELOW"))
            self.assertEqual(receiver.stop(), 0)
            self.assertEqual(tray(root).get(("tray", "visible")), "0")


class DesktopFollowsTheService(unittest.TestCase):
    def setUp(self):
        self.receiver = Receiver()
        self.root = self.receiver.root
        self.dest = self.receiver.add_destination(1, "dest1")
        self.bin = fake_systemctl(self.receiver)
        self.desktop = None

    def tearDown(self):
        if self.desktop and self.desktop.poll() is None:
            self.desktop.kill()
            self.desktop.wait()
        self.receiver.__exit__(None, None, None)

    def test_icon_jobs_new_files_and_service_commands(self):
        self.receiver.start(["QBXSVC"])  # the service instance: receives
        self.desktop = subprocess.Popen([BINARY], env=self.receiver.env, stderr=subprocess.DEVNULL)
        trace = self.receiver.trace
        self.assertTrue(wait_until(lambda: any(l.startswith(" Desktop QBX Start !!!")
                                               for l in trace())))
        self.assertTrue(wait_until(lambda: icon(self.root) == "SICON"))

        # A document reaches the service; the desktop learns of it once.
        tiff = os.path.join(self.root, "page.tif")
        self.assertEqual(sendscan("make-tiff", tiff)[0], 0)
        code, out = sendscan("send", 1, tiff)
        self.assertEqual(code, 0, out)
        self.assertTrue(wait_until(lambda: trace().count("   chkRcvNewFile = TRUE") == 1))
        self.assertTrue(wait_until(lambda: trace().count(" Beep") == 1))
        time.sleep(1.5)
        self.assertEqual(trace().count("   chkRcvNewFile = TRUE"), 1)

        # While the service receives, neither "Stop" nor "Close" is offered.
        # The desktop's shared record also shows the service's connection.
        printer = socket.create_connection(("127.0.0.1", JOB_PORT), timeout=5)
        self.assertEqual(receive_exactly(printer, 4), OK)
        self.assertTrue(wait_until(lambda: read_record(self.receiver)[1][4] == 17))
        self.assertEqual([(i[0], i[2]) for i in right_click_menu(self.root)],
                         [("40006", "default"), ("40008", "grayed"), ("0", "enabled"),
                          ("40004", "grayed")])
        printer.close()
        self.assertTrue(wait_until(lambda: read_record(self.receiver)[1][4] == 16))

        # The service stops: the stopped picture within about a second, and
        # the menu offers "Start", which starts it again.
        write_file(os.path.join(self.bin, "state"), "inactive\n")
        self.assertTrue(wait_until(lambda: icon(self.root) == "SICON-STOP", timeout=4))
        self.assertEqual([i[0] for i in right_click_menu(self.root)], ["40006", "40007", "0", "40004"])
        post([main_window(self.root)], WM_COMMAND, 40007, 0)
        self.assertTrue(wait_until(lambda: icon(self.root) == "SICON", timeout=4))
        self.assertIn("start QBXSVC.service", read_file(os.path.join(self.bin, "calls")))
        self.assertIn("--- !! Strart service OK !!--", trace())

        # The desktop's "Close" stops the service first.
        post([main_window(self.root)], WM_COMMAND, 40004, 0)
        self.assertEqual(self.desktop.wait(timeout=10), 0)
        self.assertIn("stop QBXSVC.service", read_file(os.path.join(self.bin, "calls")))
        self.assertEqual(self.receiver.stop(), 0)



@unittest.skipUnless(os.geteuid() == 0, "needs root to mount a small volume")
class DiskFullPicture(unittest.TestCase):
    def test_a_nearly_full_conf_volume_shows_red(self):
        receiver = Receiver(settings=None)
        conf = os.path.join(receiver.root, "conf")
        os.makedirs(conf)
        if not shell("mount -t tmpfs -o size=9m tmpfs " + conf):
            receiver.__exit__(None, None, None)
            self.skipTest("tmpfs cannot be mounted here")
        self.addCleanup(receiver.__exit__, None, None, None)
        self.addCleanup(shell, "umount " + conf)
        write_file(receiver.settings_path, "[DEBUG]\nTrace=2\n[PATH]\nCONF=%s\n[MANAGEMENT]\nHDD=99\n" % conf)
        receiver.start()
        self.assertTrue(wait_until(lambda: icon(receiver.root) == "SICON_RED"))
        self.assertEqual(receiver.stop(), 0)


@unittest.skipUnless(os.geteuid() == 0, "needs root for a network namespace")
class AddressChanges(unittest.TestCase):
    def test_each_change_is_noticed_once(self):
        ns = "qbam%d" % (os.getpid() % 100000)
        if not shell("ip netns add " + ns):
            self.skipTest("network namespaces are not allowed here")
        self.addCleanup(shell, "ip netns del " + ns)
        self.assertTrue(shell("ip netns exec %s ip link set lo up" % ns))
        receiver = Receiver()
        self.addCleanup(receiver.__exit__, None, None, None)
        # A printer the PC told its name before: it hears it again on each change.
        write_file(os.path.join(receiver.data, "tvqnhost.ini"),
                   "[ID]\nid=1\n[HOST]\nscanner01=%s,127.0.0.2,PRINTER1\n" % time.strftime("%Y%m%d%H%M%S"))
        receiver.process = subprocess.Popen(["ip", "netns", "exec", ns, BINARY], env=receiver.env,
                                            stderr=subprocess.PIPE)
        self.assertTrue(receiver.wait_for_trace(" Normal QBX Start !!!"))
        self.assertTrue(wait_until(lambda: any(l.startswith("addrChangeCheckStart(")
                                               for l in receiver.trace())))
        announced = "  NameResolve Send to:127.0.0.2"
        self.assertTrue(receiver.wait_for_trace(announced))  # at start: no addresses were stored
        self.assertTrue(shell("ip netns exec %s ip addr add 10.213.95.7/24 dev lo" % ns))
        self.assertTrue(receiver.wait_for_trace("IP Address table changed.."))
        self.assertTrue(receiver.wait_for_trace("IP Address[1]:10.213.95.7"))
        self.assertTrue(receiver.wait_for_trace(announced, count=2))
        self.assertTrue(shell("ip netns exec %s ip addr del 10.213.95.7/24 dev lo" % ns))
        self.assertTrue(receiver.wait_for_trace("IP Address table changed..", count=2))
        self.assertTrue(receiver.wait_for_trace(announced, count=3))
        time.sleep(0.5)
        self.assertEqual(receiver.trace().count("IP Address table changed.."), 2)
        self.assertEqual(receiver.trace().count(announced), 3)
        self.assertEqual(receiver.stop(), 0)
        self.assertIn("addrChangeCheckCtl --END--", receiver.trace())


if __name__ == "__main__":
    unittest.main()
