"""The program started with a command line or a configuration file instead of the dialogue."""

import pathlib
import re
import subprocess
import time

from platora_harness.e2e import BINARIES, PLAYER, E2ETest, chain, console

USAGE_ERROR = re.compile(r"^platora: [^\n]*\(see platora --help\)\n$")


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
            self.assertIn("--deck PAIR:VINYL[:PORT]", self.platora("--help").stdout)
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
            config = self.write("stage.toml", 'device = "no-such-device"\nsend = "block"\ndecoding = "robust"\n'
                                              '[[deck]]\npair = 0\nvinyl = "finalscratch"\nport = 9\n')
            program = self.start(chain.Platora(BINARIES["platora"], server, self.workdir, PLAYER,
                                               ["--config", self.workpath(config), "--deck", f"0:1:{receiver.port}",
                                                "--send-age"]))
            time.sleep(2.0)
            self.assertEqual(program.stop(), 0)
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

    def play(self, server, deck, level=None):
        self.start(chain.Generator(BINARIES["platora-gen"], server, self.workdir, client=PLAYER, vinyl=1, level=level))
        return self.start(chain.Platora(BINARIES["platora"], server, self.workdir, PLAYER, ["--deck", deck]))

    def test_a_wrong_type_a_cable_pulled_out_and_a_phono_output_in_a_line_input_each_show_their_line(self):
        server = self.start_server()
        program = self.play(server, "0:finalscratch")
        self.wait_for_line(program, "deck 0: wrong type: the record looks like mixvibes; or choose auto")
        # The right channel's cable pulled out: its connection to the program goes.
        env = server.client_env()
        connected = subprocess.run(["jack_lsp", "-c", f"{PLAYER}:out_2"], env=env, capture_output=True,
                                   text=True).stdout.splitlines()[1:]
        self.assertEqual(len(connected), 1, connected)
        subprocess.run(["jack_disconnect", f"{PLAYER}:out_2", connected[0].strip()], env=env, check=True)
        self.wait_for_line(program, "deck 0: one channel silent: right carries nothing; check the cable")
        self.chain.stop()

        server = self.start_server()
        program = self.play(server, "0:mixvibes", level=0.03)
        self.wait_for_line(program, "deck 0: too quiet: try --preamp auto or the phono input")
        with open(program.log_path) as log:
            self.assertNotIn("decoding", log.read())
