"""The OSC monitor against another OSC implementation's sender (liblo's oscsend), and the
demonstration as a newcomer runs it, Ctrl-C included."""

import os
import re
import shutil
import socket
import subprocess
import time

import pexpect

from e2e_support import BINARIES, E2ETest, chain

LINE = re.compile(r"\rpos +(-?\d+\.\d{4}) s \| speed +(-?\d+\.\d\d) % \| TPS +(\d+) \| vol +(\d+\.\d{4}) \| +(\d+) msgs")


def oscsend(port, address, kind, value):
    subprocess.run(["oscsend", "127.0.0.1", str(port), address, kind, str(value)], check=True)


class Monitor(E2ETest):
    def setUp(self):
        super().setUp()
        if shutil.which("oscsend") is None:
            self.skipTest("oscsend not found (Debian package liblo-tools)")

    def spawn(self, *args):
        monitor = pexpect.spawn(BINARIES["platora-monitor"], list(args), encoding="utf-8", timeout=5)
        self.addCleanup(monitor.close, force=True)
        return monitor

    def test_it_shows_the_latest_of_each_value_counts_what_it_ignores_and_ends_on_ctrl_c_with_status_0(self):
        port = chain.free_udp_port()
        monitor = self.spawn(str(port))
        monitor.expect_exact(f"Listening for OSC on UDP port {port}; Ctrl-C to stop.")
        oscsend(port, "/scratch/pos", "f", 12.5)
        oscsend(port, "/scratch/speed", "f", -99.5)
        oscsend(port, "/scratch/TPS", "f", 136)
        oscsend(port, "/scratch/vol", "f", 0.6)
        oscsend(port, "/scratch/pos", "i", 3)       # not a float
        oscsend(port, "/something/else", "f", 1.0)  # not ours
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
            sender.sendto(b"not OSC at all", ("127.0.0.1", port))
        time.sleep(0.2)  # the line is redrawn at most ten times a second
        oscsend(port, "/scratch/pos", "f", 13.25)
        monitor.expect(re.compile(r"pos +13\.2500 s \| speed +-99\.50 % \| TPS +136 \| vol 0\.6000 \| +5 msgs, 3 ignored"))
        monitor.sendintr()
        monitor.expect(pexpect.EOF)
        monitor.wait()
        self.assertEqual(monitor.exitstatus, 0)

    def test_a_port_it_cannot_listen_on_or_that_is_not_a_port_ends_it_with_one_line(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
            taken.bind(("0.0.0.0", 0))
            port = taken.getsockname()[1]
            monitor = self.spawn(str(port))
            monitor.expect(pexpect.EOF)
            monitor.wait()
            self.assertEqual(monitor.exitstatus, 1)
            self.assertRegex(monitor.before, rf"^platora-monitor: cannot listen on UDP port {port}: [^\r\n]+\r\n$")
        for wrong in ("0", "65536", "44444x"):
            monitor = self.spawn(wrong)
            monitor.expect(pexpect.EOF)
            monitor.wait()
            self.assertEqual(monitor.exitstatus, 2, wrong)
            self.assertTrue(monitor.before.startswith("usage: platora-monitor [PORT]"), monitor.before)


class Demonstration(E2ETest):
    SHOW_SECONDS = 3.0

    def test_it_shows_positions_arriving_and_ctrl_c_stops_every_part_cleanly(self):
        if chain.jackd_path() is None:
            self.skipTest("jackd not found on PATH (Debian package jackd2)")
        build_dir = os.path.dirname(os.path.dirname(os.path.dirname(BINARIES["platora"])))
        port = chain.free_udp_port()
        demo = pexpect.spawn(BINARIES["demo"], [build_dir, "--port", str(port)], encoding="utf-8",
                             timeout=30, dimensions=(40, 120))
        demo.logfile_read = open(self.workpath("demo.log"), "w")
        self.addCleanup(demo.logfile_read.close)
        self.addCleanup(demo.close, force=True)

        demo.expect(re.compile(r"JACK server '([^']+)'"))
        server = demo.match.group(1)
        demo.expect(re.compile(r"The console program's screen goes to (\S+)\r\n"))
        log_path = demo.match.group(1)
        demo.expect_exact("Ctrl-C stops the demonstration.")
        shown = []
        deadline = time.monotonic() + self.SHOW_SECONDS
        while time.monotonic() < deadline:
            if demo.expect([LINE, pexpect.TIMEOUT], timeout=0.5) == 0:
                shown.append(tuple(float(g) for g in demo.match.groups()))
        demo.sendintr()
        demo.expect_exact("platora ended with status 0.")
        demo.expect_exact("Generator and JACK server stopped.")
        demo.expect(pexpect.EOF)
        demo.wait()
        self.assertEqual(demo.exitstatus, 0)

        self.assertGreater(len(shown), 10, "the monitor hardly redrew its line")
        positions = [line[0] for line in shown]
        # The record starts with six seconds forward at nominal speed.
        self.assertGreater(positions[-1] - positions[0], 0.5 * self.SHOW_SECONDS)
        self.assertEqual(positions, sorted(positions))
        self.assertAlmostEqual(shown[-1][1], 100, delta=5)
        self.assertGreater(shown[-1][4], shown[0][4])
        with open(log_path, errors="replace") as screen:
            self.assertIn("OSC Streaming running...", screen.read())
        self.assertFalse(self.processes_mentioning(server), "a part of the demonstration is still running")

    @staticmethod
    def processes_mentioning(text):
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                    if text.encode() in cmdline.read():
                        found.append(pid)
            except OSError:
                continue
        return found
