"""The program started with a command line or a configuration file instead of the dialogue."""

import fcntl
import os
import pathlib
import pty
import re
import signal
import struct
import subprocess
import termios
import time

from platora_harness.e2e import BINARIES, PLAYER, E2ETest, chain, console

# A reason ends the line, not a bare "NAME: ".
USAGE_ERROR = re.compile(r"^platora: [^\n]*\S \(see platora --help\)\n$")


class CommandLine(E2ETest):
    def platora(self, *args, env=None):
        return subprocess.run([BINARIES["platora"], *args], cwd=self.workdir, env=env, capture_output=True,
                              text=True, timeout=30)

    def write(self, name, text):
        pathlib.Path(self.workpath(name)).write_text(text)
        return name

    def test_every_usage_or_configuration_error_is_one_line_with_the_usage_hint_and_status_2(self):
        deck = ["--device", "0", "--deck", "0:mixvibes"]
        cases = [
            (["--bogus"], "--bogus"), (["--buffer"], "--buffer"), (["--device", "0", "--device", "1"], "--device"),
            (["--device", "0"], "no deck"), (["--deck", "0:1"], "no device"), (["--device", "", "--deck", "0:1"], "--device"),
            (["--device", "0", "--deck", "0"], "PAIR:VINYL"), (["--device", "0", "--deck", "0:serato"], "VINYL"),
            (["--device", "0", "--deck", "128:1"], "PAIR"), (["--device", "0", "--deck", "-1:1"], "PAIR"),
            (["--device", "0", "--deck", "0:1:65536"], "PORT"), (["--device", "0", "--deck", "0:1:80x"], "PORT"),
            (["--device", "0", "--deck", "0:1", "--deck", "1:0:44444"], "port 44444"),
            (["--device", "0", "--deck", "0:1:44445", "--deck", "1:0"], "port 44445"),
            (deck + ["--buffer", "31"], "--buffer 31"), (deck + ["--buffer", "4097"], "--buffer"),
            (deck + ["--buffer", "64x"], "--buffer"), (deck + ["--buffer", "18446744073709551680"], "--buffer"),
            (deck + ["--calibration", "0"], "--calibration"), (deck + ["--calibration", "inf"], "--calibration"),
            (deck + ["--calibration", "1e39"], "--calibration"), (deck + ["--calibration", "1.1.1"], "--calibration"),
            (deck + ["--preamp", "0"], "--preamp"), (deck + ["--preamp", "2.5"], "--preamp"),
            (deck + ["--send", "sometimes"], "--send"), (deck + ["--host", ""], "--host"),
            (deck + ["--decoding", "exact"], "--decoding exact: must be faithful or robust"),
            (deck + ["--scope"], "--scope"), (deck + ["--scope", "--quiet"], "--quiet"),
            (["--config", "missing.toml"], "missing.toml: "), (["--config", "."], ".: "),
            (["--config", self.write("syntax.toml", 'device = "0"\n\nbuffer = \n')], "syntax.toml:3: "),
            (["--config", self.write("key.toml", 'device = "0"\nbufer = 64\n')], "key.toml:2: bufer"),
            (["--config", self.write("value.toml", 'buffer = 16\n')], "value.toml:1: buffer"),
            (["--config", self.write("type.toml", 'riaa = "yes"\n')], "type.toml:1: riaa"),
            (["--config", self.write("mode.toml", 'decoding = "Robust"\n')], "mode.toml:1: decoding"),
            (["--config", self.write("age.toml", 'send_age = "true"\n')], "age.toml:1: send_age"),
            (["--config", self.write("scope.toml", 'scope = "true"\n')], "scope.toml:1: scope"),
            (["--config", self.write("quoted.toml", 'buffer = "64"\n')], "quoted.toml:1: buffer"),
            (["--config", self.write("quoted-pair.toml", '[[deck]]\npair = "0"\nvinyl = 1\n')], "quoted-pair.toml:1: deck"),
            (["--config", self.write("prefix.toml", '[[deck]]\npair = 0\nvinyl = 1\nprefix = "deck2"\n')], "PREFIX"),
            (deck + ["--deck", "0:finalscratch"], "pair 0"), (["--device", "0", "--deck", "0:1:9000:/a b"], "PREFIX"),
            (["--device", "0", "--deck", "0:1:9000:/d", "--deck", "1:1:9000:/d"], "prefix /d"),
            (["--config", self.write("deck.toml", '[[deck]]\npair = 0\nvinyl = "x"\n')], "deck.toml:1: deck"),
            (["--config", self.write("table.toml", '[deck]\npair = 0\nvinyl = 1\n')], "table.toml:1: deck"),
            # A good file with a wrong value on the command line, and the other way round.
            (["--config", self.write("good.toml", 'device = "0"\n[[deck]]\npair = 0\nvinyl = 1\n'), "--send", "x"], "--send"),
            (["--config", "value.toml", "--buffer", "64"], "value.toml:1: buffer"),
        ]
        for args, named in cases:
            with self.subTest(args=args):
                result = self.platora(*args)
                self.assertEqual((result.returncode, result.stdout), (2, ""))
                self.assertRegex(result.stderr, USAGE_ERROR)
                self.assertIn(named, result.stderr)
        with self.subTest("--help and --version"):
            self.assertIn("--deck PAIR:VINYL[:PORT[:PREFIX]]", self.platora("--help").stdout)
            self.assertRegex(self.platora("--version").stdout, r"^platora \d+\.\d+")

    def test_the_device_list_is_the_dialogues_a_missing_device_ends_with_1_and_the_command_line_wins_over_the_file(self):
        server = self.start_server()
        self.start(chain.Generator(BINARIES["platora-gen"], server, self.workdir, client=PLAYER, vinyl=1))
        with self.subTest("--list-devices prints the dialogue's list, numbers included"):
            listed = self.platora("--list-devices", env=server.client_env())
            self.assertEqual(listed.returncode, 0)
            self.assertRegex(listed.stdout, rf"\n\d+\. {PLAYER} ")
            dialogue = self.console(server.client_env())
            dialogue.expect(console.DEVICE_PROMPT)
            self.assertIn(listed.stdout.replace("\n", "\r\n"), dialogue.screen_before())
        with self.subTest("a device that is not there: one line, status 1"):
            missing = self.platora("--device", "no-such-device", "--deck", "0:1", env=server.client_env())
            self.assertEqual(missing.returncode, 1)
            self.assertRegex(missing.stderr + missing.stdout, r"^[^\n]*no-such-device[^\n]*\n$")
        with self.subTest("the file's settings apply where the command line gives none; --send-age adds the age"):
            receiver = self.start(chain.OscDump(self.workdir))
            config = self.write("stage.toml", 'device = "no-such-device"\nsend = "block"\ndecoding = "faithful"\n'
                                              '[[deck]]\npair = 0\nvinyl = "finalscratch"\nport = 9\n')
            program = self.start(chain.Platora(BINARIES["platora"], server, self.workdir, PLAYER,
                                               ["--config", self.workpath(config), "--deck", f"0:1:{receiver.port}",
                                                "--send-age"]))
            time.sleep(2.0)
            self.assertEqual(program.stop(), 0)
            with open(program.log_path) as log:
                self.assertIn("after every block, faithful decoding", log.read())
            positions = [(arrival, value) for arrival, address, value in receiver.messages() if address == "/scratch/pos"]
            # One message of each kind per 1024-frame block, 43 a second, where polling sends 200.
            self.assertLess((len(positions) - 1) / (positions[-1][0] - positions[0][0]), 60, "not one per block")
            self.assertGreater(positions[-1][1] - positions[0][1], 1.0, "the Mixvibes record was not decoded")
            sent = [(address, value) for _, address, value in receiver.messages() if address.startswith("/scratch/")]
            groups = len(sent) // 5  # the last may still be arriving
            five = ["/scratch/pos", "/scratch/TPS", "/scratch/speed", "/scratch/vol", "/scratch/age"]
            self.assertEqual([address for address, _ in sent[:5 * groups]], five * groups)
            ages = sorted(value for address, value in sent if address == "/scratch/age")
            self.assertTrue(ages[0] >= -1.0 and 0.0 <= ages[len(ages) // 2] < 0.1, "ages in seconds, fresh on a playing record")


class Diagnosis(E2ETest):
    """What is wrong with a signal, told in stage mode's log through the real chain."""

    def wait_for_line(self, program, line, timeout=15.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with open(program.log_path) as log:
                if line in log.read().splitlines():
                    return
            time.sleep(0.1)
        with open(program.log_path) as log:
            self.fail(f"no line {line!r} in: {log.read()[-1500:]}")

    def play(self, server, deck, **generator):
        generator.setdefault("vinyl", 1)
        turntable = self.start(chain.Generator(BINARIES["platora-gen"], server, self.workdir, client=PLAYER,
                                               **generator))
        return turntable, self.start(chain.Platora(BINARIES["platora"], server, self.workdir, PLAYER, ["--deck", deck]))

    def test_a_wrong_type_a_cable_pulled_out_and_a_phono_output_in_a_line_input_each_show_their_line(self):
        server = self.start_server()
        turntable, program = self.play(server, "0:finalscratch")
        self.wait_for_line(program, "deck 0: wrong type: the record looks like mixvibes; or choose auto")
        # The right channel's cable pulled out at the turntable; the program keeps its own connections.
        turntable.stop()
        self.start(chain.Generator(BINARIES["platora-gen"], server, self.workdir, client=PLAYER, vinyl=1,
                                   extra=["--imbalance", "0.001"]))
        self.wait_for_line(program, "deck 0: one channel silent: right carries nothing; check the cable")
        self.chain.stop()

        server = self.start_server()
        _, program = self.play(server, "0:mixvibes", level=0.03)
        self.wait_for_line(program, "deck 0: too quiet: try --preamp auto or the phono input")
        with open(program.log_path) as log:
            self.assertNotIn("deck 0: decoding", log.read())


    def test_an_automatic_deck_finds_a_serato_record_s_side_among_the_records_on_its_carrier(self):
        server = self.start_server()
        _, program = self.play(server, "0:auto", vinyl="serato-b")
        self.wait_for_line(program, "deck 0: found serato-b")
        with open(program.log_path) as log:
            self.assertNotIn("deck 0: found serato-a", log.read())

class AtAGig(E2ETest):
    """Stage mode through what a gig brings: a service started before the record plays, and the
    interface's client gone and back while the server runs."""

    def sent(self, receiver, prefix=""):
        """The cycles sent so far as [position, tps, speed, volume]; every address carries the prefix."""
        every = [(address, value) for _, address, value in receiver.messages() if address != "/chain/ready"]
        self.assertEqual({a for a, _ in every}, {prefix + "/scratch/" + n for n in ("pos", "TPS", "speed", "vol")})
        return [[v for _, v in every[i:i + 4]] for i in range(0, len(every) - 3, 4)]

    def wait_for(self, program, line, timeout=5.0):
        deadline = time.monotonic() + timeout
        while line not in pathlib.Path(program.log_path).read_text():
            self.assertLess(time.monotonic(), deadline, f"no {line!r} in {program.log_path}")
            time.sleep(0.05)

    def test_a_terminal_nobody_reads_holds_up_neither_the_sending_nor_the_end(self):
        server = self.start_server()
        self.start(chain.Generator(BINARIES["platora-gen"], server, self.workdir, client=PLAYER, vinyl=1))
        receiver = self.start(chain.OscDump(self.workdir))
        screen, terminal = pty.openpty()
        self.addCleanup(os.close, screen)
        # A tall terminal and the scope: the terminal's buffer is full within seconds.
        fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 60, 200, 0, 0))
        program = subprocess.Popen([BINARIES["platora"], "--device", PLAYER, "--deck", f"0:mixvibes:{receiver.port}",
                                    "--scope"], stdin=subprocess.DEVNULL, stdout=terminal, stderr=terminal,
                                   env=server.client_env(), start_new_session=True)
        os.close(terminal)
        self.addCleanup(lambda: program.poll() is None and program.kill())
        time.sleep(12.0)
        program.send_signal(signal.SIGINT)
        self.assertEqual(program.wait(timeout=10), 0)
        os.set_blocking(screen, False)
        unread = b""
        try:
            while chunk := os.read(screen, 65536):
                unread += chunk
        except OSError:  # EAGAIN, or EIO once the program's side is closed
            pass
        self.assertGreater(len(unread), 4096, "the terminal never filled: the test shows nothing")
        arrivals = [arrival for arrival, address, _ in receiver.messages() if address == "/scratch/pos"]
        seconds = {int(arrival - arrivals[0]) for arrival in arrivals}
        self.assertGreaterEqual(max(seconds), 10)
        self.assertEqual(seconds, set(range(max(seconds) + 1)), "a second passed without a datagram")

    def test_the_gain_waits_for_a_late_record_and_a_source_that_leaves_is_rejoined_with_nothing_bogus_sent(self):
        server = self.start_server(loopback_ports=2)
        with self.subTest("a record that starts 2 s after the program: rest values, then a gain set from it"):
            receiver = self.start(chain.OscDump(self.workdir))
            program = self.start(chain.Platora(BINARIES["platora"], server, self.workdir, "loopback",
                                               ["--deck", f"0:mixvibes:{receiver.port}", "--preamp", "auto"]))
            time.sleep(2.0)
            record = self.start(chain.Generator(BINARIES["platora-gen"], server, self.workdir, client=PLAYER, level=0.2))
            for port, loopback in zip(record.timecode_ports(), ["loopback:playback_1", "loopback:playback_2"]):
                subprocess.run(["jack_connect", port, loopback], env=server.client_env(), check=True, timeout=10)
            self.wait_for(program, "deck 0: decoding")
            time.sleep(1.0)
            self.assertEqual(program.stop(), 0)
            record.stop()
            cycles = self.sent(receiver)
            silent = [values for values in cycles if values[3] == 0.0]
            self.assertGreater(len(silent), 100, "too few cycles before the record")
            self.assertEqual({tuple(values[:3]) for values in silent}, {(0.0, 0.0, 0.0)})
            self.assertLessEqual(max(abs(values[2]) for values in cycles), 1000.0)
            log = pathlib.Path(program.log_path).read_text()
            self.assertEqual(log.count("deck 0: waiting for a signal to set the gain"), 1)
            self.assertRegex(log, r"deck 0: gain 3\n")  # the least whole gain past 16360 / (0.2 x 32767)
            self.assertAlmostEqual(cycles[-1][3], 0.6, delta=2e-3)
            self.assertGreater(cycles[-1][0], 0.5, "the record was not decoded")

        with self.subTest("the source's client killed and started again: lost, rejoined, the position held"):
            part = self.workpath("rejoin")
            os.makedirs(os.path.join(part, "again"))
            receiver = self.start(chain.OscDump(part))
            source = self.start(chain.Generator(BINARIES["platora-gen"], server, part, client=PLAYER))
            program = self.start(chain.Platora(BINARIES["platora"], server, part, PLAYER,
                                               ["--deck", f"0:mixvibes:{receiver.port}:/deck2"]))
            self.wait_for(program, "deck 0: decoding")
            source.stop(signal.SIGKILL)
            self.wait_for(program, "deck 0: input lost")
            time.sleep(1.5)  # a look for it or two finds nothing
            self.start(chain.Generator(BINARIES["platora-gen"], server, os.path.join(part, "again"), client=PLAYER,
                                       start=100.0))
            self.wait_for(program, "deck 0: rejoined")
            time.sleep(1.0)
            self.assertRegex(subprocess.run(["jack_lsp", "-c"], env=server.client_env(), capture_output=True,
                                            text=True, timeout=10).stdout, rf"platora:inport 0\n +{PLAYER}:out_1\n")
            self.assertEqual(program.stop(), 0)
            cycles = self.sent(receiver, "/deck2")
            lost = next(i for i, values in enumerate(cycles) if values[1:] == [0.0, 0.0, 0.0] and values[0] > 0)
            back = next(i for i, values in enumerate(cycles) if values[0] >= 100.0)
            self.assertEqual({values[0] for values in cycles[lost:back]}, {cycles[lost][0]},
                             "from the loss to the new record's first frame only the held position is sent")
            self.assertTrue(all(values[0] >= 100.0 for values in cycles[back:]), "the position went back after the rejoin")
            self.assertLessEqual(max(abs(values[2]) for values in cycles), 1000.0)
