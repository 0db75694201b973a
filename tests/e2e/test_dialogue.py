"""The dialogue's failure paths, driven through a terminal: no device at all, and an answer
the program cannot use at every prompt, on a device that carries no signal."""

import os
import re
import time

from e2e_support import E2ETest, chain, console, measured, step

BANNER = "\r\n=========== Platora Example 0.4 + OSC ===========\r\n\r\n"
NO_TABLE = re.compile(r"> [^\r\n]*FinalScratch positions cannot be decoded\r\n")
NO_SIGNAL_STATUS = "> using software preamp\r\n> no signal reached the target level; the preamp stays at gain 1\r\n"
GAIN_CEILING_DEADLINE_SECONDS = 25  # the ceiling is reached after about 15 s of 10 ms steps


class WithoutAnyDevice(E2ETest):
    def test_the_program_says_so_right_after_the_banner_and_one_key_ends_it_with_status_0(self):
        env = dict(os.environ)
        # A server name no one runs, and no server started on demand.
        env["JACK_DEFAULT_SERVER"] = f"platora-absent-{os.getpid()}"
        env["JACK_NO_START_SERVER"] = "1"
        # ALSA would list this machine's cards and its "default" device; with an empty
        # configuration it cannot open any of them.
        empty_configuration = self.workpath("empty-alsa.conf")
        open(empty_configuration, "w").close()
        env["ALSA_CONFIG_PATH"] = empty_configuration
        program = self.console(env)

        program.expect("Press <Enter> to quit the application.\r\n")
        self.assertEqual(program.screen_before(), BANNER + "Error: No recording device found!\r\n")
        program.answer("")
        self.assertExitsWithZero(program)
        self.assertEqual(program.screen_before().strip(), "", "printed something after the key")


class EveryPromptRefusesWhatItCannotUse(E2ETest):
    def test_invalid_answers_are_asked_again_and_a_silent_input_stops_the_auto_gain_at_its_ceiling(self):
        # The server's own "system" device: three inputs, all silent.
        server = self.start_server(capture_channels=3)
        receiver = chain.OscDump(self.workdir)
        self.start(receiver)
        program = self.console(server.client_env())

        with step("device: only the listed indexes"):
            devices = program.read_device_list()
            system = next(i for i, line in devices.items() if line.startswith("system "))
            for wrong in (str(len(devices)), "-1"):
                program.answer(wrong)
                program.expect(console.DEVICE_INVALID)
            # Only four characters are taken: 1234, then the 5 left pending, both refused.
            self.assertLess(len(devices), 5)
            program.answer("12345")
            program.expect(console.DEVICE_INVALID)
            program.expect(console.DEVICE_INVALID)
            program.answer(str(system))

        with step("channel pair: only whole pairs of the device"):
            program.expect(console.CHANNEL_PROMPT)
            listing = program.screen_before()
            self.assertIn("\t0. Channel 1/2\r\n", listing)
            self.assertNotIn("Channel 3/4", listing, "a pair with a channel the device lacks was listed")
            for wrong in ("1", "-1", "7"):
                program.answer(wrong)
                program.expect(console.CHANNELS_INVALID)
            program.answer("0")

        with step("vinyl type: 0 or 1"):
            program.expect(console.VINYL_PROMPT)
            for wrong in ("2", "-1"):
                program.answer(wrong)
                program.expect(console.VINYL_INVALID)
            program.answer(str(console.FINAL_SCRATCH))

        with step("FinalScratch without a code table: one status line says so"):
            program.expect(console.RIAA_MENU)
            self.assertEqual(len(NO_TABLE.findall(program.screen_before())), 1)
            program.answer(console.CONTINUE)

        with step("auto-gain without a signal: the ceiling line, then the dialogue goes on"):
            program.expect(console.PREAMP_MENU)
            program.answer(console.CHOOSE)
            program.expect(console.GAIN_PROMPT)
            program.answer("")
            started = time.monotonic()
            program.expect(console.GAIN_CEILING, timeout=GAIN_CEILING_DEADLINE_SECONDS)
            measured(f"auto-gain gave up after {time.monotonic() - started:.1f} s without a signal")
            offered = program.expect(console.CALIBRATION_MENU).group(1)
            self.assertIn(NO_SIGNAL_STATUS, program.screen_before())
            self.assertEqual(offered, "1.20")
            program.answer(console.CONTINUE)

        with step("port: a whole number from 1 to 65535"):
            program.expect(console.PORT_PROMPT)
            for wrong in ("0", "65536", "abc", "12.5", "-1"):
                program.answer(wrong)
                program.expect(console.PORT_INVALID)
                program.expect(console.PORT_PROMPT)
            program.answer(str(receiver.port))

        with step("host: a name that resolves and a socket that connects"):
            program.expect(console.HOST_PROMPT)
            # Far longer than the 12 characters a host answer once took.
            unknown = "no-such-host-" + "x" * 60 + ".invalid"
            program.answer(unknown)
            program.expect(re.compile(rf'Unable to resolve host "{re.escape(unknown)}"[^\r\n]*\. Please try again\.\r\n'))
            program.expect(console.HOST_PROMPT)
            # Connecting a UDP socket to a broadcast address is refused by the system.
            program.answer("127.255.255.255")
            program.expect(re.compile(r"Unable to send to 127\.255\.255\.255:\d+: [^\r\n]+\. Please try again\.\r\n"))
            program.expect(console.HOST_PROMPT)
            # 15 characters, all taken; still the local machine.
            program.answer("127.000.000.001")
            program.expect(console.STREAMING)
            self.assertIn(f"> Streaming OSC data to 127.000.000.001:{receiver.port}\r\n", program.screen_before())

        with step("streaming sends what the silent input gives"):
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and len(self.volumes(receiver)) < 20:
                time.sleep(0.05)
            volumes = self.volumes(receiver)
            self.assertGreaterEqual(len(volumes), 20)
            self.assertEqual(set(volumes), {0.0})

        program.interrupt()
        self.assertExitsWithZero(program)
        with open(self.workpath("console.log"), errors="replace") as log:
            screens = log.read()
        for prompt, times in ((console.DEVICE_PROMPT, 1), (console.CHANNEL_PROMPT, 1), (console.VINYL_PROMPT, 1),
                              (console.PORT_PROMPT, 6), (console.HOST_PROMPT, 3)):
            self.assertEqual(screens.count(prompt), times, f"{prompt!r} shown {screens.count(prompt)} times")

    @staticmethod
    def volumes(receiver):
        return [value for _, address, value in receiver.messages() if address == "/scratch/vol"]
