"""The OSC monitor against another OSC implementation's sender (liblo's oscsend), and the
demonstration as a newcomer runs it, Ctrl-C included."""

import os
import re
import shutil
import socket
import subprocess
import time

import pexpect

from platora_harness.e2e import BINARIES, E2ETest, chain

LINE = re.compile(r"\rpos +(-?\d+\.\d{4}) s \| speed +(-?\d+\.\d\d) % \| TPS +(\d+) \| vol +(\d+\.\d{4}) \| +(\d+) msgs")


class Monitor(E2ETest):
    def setUp(self):
        super().setUp()
        if shutil.which("oscsend") is None:
            self.skipTest("oscsend not found (Debian package liblo-tools)")

    def run_monitor(self, *ports):
        monitor = pexpect.spawn(BINARIES["platora-monitor"], [str(p) for p in ports], encoding="utf-8", timeout=5)
        self.addCleanup(monitor.close, force=True)
        return monitor

    def test_it_shows_the_latest_of_each_value_counts_what_it_ignores_and_ends_on_ctrl_c_with_status_0(self):
        port = chain.free_udp_port()
        monitor = self.run_monitor(port)
        monitor.expect_exact(f"Listening for OSC on UDP port {port}; Ctrl-C to stop.")
        for address, kind, value in (("/scratch/pos", "f", 12.5), ("/scratch/speed", "f", -3e38),
                                     ("/scratch/TPS", "f", 136), ("/scratch/vol", "f", 0.6),
                                     ("/scratch/pos", "i", 3), ("/something/else", "f", 1.0)):  # the last two ignored
            subprocess.run(["oscsend", "127.0.0.1", str(port), address, kind, str(value)], check=True)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
            sender.sendto(b"not OSC at all", ("127.0.0.1", port))
        time.sleep(0.2)  # the line is redrawn at most ten times a second
        subprocess.run(["oscsend", "127.0.0.1", str(port), "/scratch/pos", "f", "13.25"], check=True)
        monitor.expect(re.compile(r"pos +13\.2500 s \| speed +-3e\+38 % \| TPS +136 \| vol 0\.6000 \| +5 msgs, 3 ignored"))
        monitor.sendintr()
        monitor.expect(pexpect.EOF)
        monitor.wait()
        self.assertEqual(monitor.exitstatus, 0)

    def test_each_deck_of_several_ports_and_prefixes_gets_a_line_of_its_own(self):
        ports = [chain.free_udp_port(), chain.free_udp_port()]
        monitor = self.run_monitor(*ports)
        monitor.expect_exact(f"Listening for OSC on UDP ports {ports[0]}, {ports[1]}; Ctrl-C to stop.")
        for port, address, value in ((ports[0], "/scratch/pos", 1.5), (ports[1], "/deck2/scratch/pos", 2.5),
                                     (ports[1], "/scratch/pos", 3.5), (ports[1], "/deck2/scratch/speed", 99)):
            subprocess.run(["oscsend", "127.0.0.1", str(port), address, "f", str(value)], check=True)
        time.sleep(0.2)
        subprocess.run(["oscsend", "127.0.0.1", str(ports[0]), "/other", "f", "0"], check=True)
        monitor.expect(re.compile(rf"{ports[0]}: pos +1\.5000 s [^\n]*\n\x1b\[2K{ports[1]}/deck2: pos +2\.5000 s \| "
                                  rf"speed +99\.00 %[^\n]*\n\x1b\[2K{ports[1]}: pos +3\.5000 s [^\n]*, 1 ignored"))

    def test_a_port_it_cannot_listen_on_or_that_is_not_a_port_ends_it_with_one_line(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
            taken.bind(("0.0.0.0", 0))
            port = taken.getsockname()[1]
            taken_line = rf"^platora-monitor: cannot listen on UDP port {port}: [^\r\n]+\r\n$"
            usage = r"^platora-monitor: PORT: needs a whole number from 1 to 65535, not '[^']*' \(see platora-monitor --help\)\r\n$"
            for argument, status, output in ((port, 1, taken_line), ("0", 2, usage), ("65536", 2, usage),
                                             ("44444x", 2, usage)):
                monitor = self.run_monitor(argument)
                monitor.expect(pexpect.EOF)
                monitor.wait()
                self.assertEqual(monitor.exitstatus, status, argument)
                self.assertRegex(monitor.before, output)


class Demonstration(E2ETest):
    SHOW_SECONDS = 3.0

    def test_it_shows_positions_arriving_and_ctrl_c_stops_every_part_cleanly(self):
        if chain.jackd_path() is None:
            self.skipTest("jackd not found on PATH (Debian package jackd2)")
        build_dir = os.path.dirname(os.path.dirname(BINARIES["platora"]))  # BUILD/app/platora
        demo = pexpect.spawn(BINARIES["demo"], [build_dir, "--port", str(chain.free_udp_port())], encoding="utf-8",
                             timeout=30, dimensions=(40, 120))
        demo.logfile_read = open(self.workpath("demo.log"), "w")
        self.addCleanup(demo.logfile_read.close)
        self.addCleanup(demo.close, force=True)
        demo.expect(re.compile(r"JACK server '([^']+)'"))
        server = demo.match.group(1)
        demo.expect_exact("Ctrl-C stops the demonstration.")
        shown = []
        deadline = time.monotonic() + self.SHOW_SECONDS
        while time.monotonic() < deadline:
            if demo.expect([LINE, pexpect.TIMEOUT], timeout=0.5) == 0:
                shown.append(tuple(float(g) for g in demo.match.groups()))
        demo.sendintr()
        for text in ("platora ended with status 0.", "Generator and JACK server stopped."):
            demo.expect_exact(text)
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
        running = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                    if server.encode() in cmdline.read():
                        running.append(pid)
            except OSError:  # ended meanwhile
                pass
        self.assertFalse(running, "a part of the demonstration is still running")
