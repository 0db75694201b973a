"""The dialogue's failure paths, driven through a terminal: no device at all, and an answer
the program cannot use at every prompt, on a device that carries no signal."""

import os
import re
import signal
import time

from platora_harness.e2e import E2ETest, chain, console, measured, step

BANNER = "\r\n=========== Platora Example 0.4 + OSC ===========\r\n\r\n"


class WithoutAnyDevice(E2ETest):
    def test_the_program_says_so_right_after_the_banner_and_one_key_ends_it_with_status_0(self):
        # No server to find or start, and an empty ALSA configuration that opens no card.
        env = dict(os.environ, JACK_DEFAULT_SERVER=f"platora-absent-{os.getpid()}", JACK_NO_START_SERVER="1",
                   ALSA_CONFIG_PATH=self.workpath("empty-alsa.conf"))
        open(env["ALSA_CONFIG_PATH"], "w").close()
        program = self.console(env)
        program.expect("Press <Enter> to quit the application.\r\n")
        self.assertRegex(program.screen_before(),
                         re.escape(BANNER + "Error: No recording device found!\r\nCheck: ") + r".*JACK.*ALSA.*audio group")
        program.answer("")
        self.assertExitsWithZero(program)
        self.assertEqual(program.screen_before().strip(), "", "printed something after the key")


class CtrlCAfterTheSweep(E2ETest):
    def test_ends_the_program_at_once_even_when_started_with_interrupts_ignored(self):
        # A shell's background job inherits an ignored interrupt; a shortened sweep through the test seam.
        server = self.start_server()
        env = dict(server.client_env(), PLATORA_TEST_SWEEP_MS="300")
        program = self.console(env, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_IGN))
        program.choose_device("system ")
        for prompt, answer in ((console.CHANNEL_PROMPT, "0"), (console.VINYL_PROMPT, str(console.MIXVIBES)),
                               (console.RIAA_MENU, console.CONTINUE), (console.PREAMP_MENU, console.CONTINUE),
                               (console.CALIBRATION_MENU, console.CHOOSE), (console.CALIBRATION_PROMPT, "")):
            program.expect(prompt)
            program.answer(answer)
        program.expect(console.CALIBRATION_DONE)
        program.interrupt()
        code, killed = program.wait_for_exit(timeout=5)
        self.assertEqual((code, killed), (None, signal.SIGINT))


class EveryPromptRefusesWhatItCannotUse(E2ETest):
    def test_invalid_answers_are_asked_again_and_a_silent_input_stops_the_auto_gain_at_its_ceiling(self):
        server = self.start_server(capture_channels=3)  # the server's "system" device: three silent inputs
        receiver = self.start(chain.OscDump(self.workdir))
        program = self.console(server.client_env())

        def refused(answers, invalid, prompt=None):
            for wrong in answers:
                program.answer(wrong)
                program.expect(invalid)
                if prompt:
                    program.expect(prompt)

        with step("device: only the listed indexes"):
            devices = program.read_device_list()
            self.assertLess(len(devices), 5)
            # Only four characters are taken (1234); the rest of the line answers nothing.
            refused((str(len(devices)), "-1", "12345"), console.DEVICE_INVALID)
            program.answer(str(next(i for i, line in devices.items() if line.startswith("system "))))
        with step("channel pair: only whole pairs of the device"):
            program.expect(console.CHANNEL_PROMPT)
            self.assertIn("\t0. Channel 1/2\r\n", program.screen_before())
            self.assertNotIn("Channel 3/4", program.screen_before(), "a pair with a channel the device lacks was listed")
            refused(("1", "-1", "7"), console.CHANNELS_INVALID)
            program.answer("0")
        with step("vinyl type: the two first formats keep 0 and 1, the shift-register ones follow"):
            program.expect(console.VINYL_PROMPT)
            self.assertIn("\t0. Final Scratch\r\n\t1. Mixvibes\r\n\t2. Serato A\r\n", program.screen_before())
            self.assertIn("\t10. Pioneer B\r\n", program.screen_before())
            refused(("11", "-1"), console.VINYL_INVALID)
            program.answer(str(console.FINAL_SCRATCH))
        with step("FinalScratch without a code table: one status line says so"):
            program.expect(console.RIAA_MENU)
            self.assertEqual(len(re.findall(r"> [^\r\n]*FinalScratch positions cannot be decoded\r\n",
                                            program.screen_before())), 1)
            program.answer("continue")  # "cont" reads as 0: RIAA on, and the rest answers nothing
        with step("auto-gain without a signal: it says it waits, Enter leaves it, the dialogue goes on"):
            program.expect(console.PREAMP_MENU)
            self.assertIn("> using RIAA correction\r\n", program.screen_before())
            program.answer(console.CHOOSE)
            program.expect(console.GAIN_PROMPT)
            program.answer("")
            program.expect(console.GAIN_WAITING)
            program.answer("")
            program.expect(console.GAIN_CEILING)
            self.assertEqual(program.expect(console.CALIBRATION_MENU).group(1), "1.20")
            self.assertIn("> using software preamp\r\n"
                          "> no signal reached the target level; the preamp stays at gain 1\r\n", program.screen_before())
            program.answer(console.CONTINUE)
        with step("port: a whole number from 1 to 65535"):
            program.expect(console.PORT_PROMPT)
            # 999999 fills the answer before its Enter; 4444444 leaves a 4 behind.
            refused(("0", "65536", "abc", "12.5", "-1", "999999", "4444444"), console.PORT_INVALID, console.PORT_PROMPT)
            program.answer(str(receiver.port))
        with step("host: a name that resolves and a socket that connects"):
            program.expect(console.HOST_PROMPT)
            unknown = "no-such-host-" + "x" * 60 + ".invalid"  # far longer than the 12 characters once taken
            again = r"\. Please try again\.\r\n"
            refused((unknown,), re.compile(rf'Unable to resolve host "{re.escape(unknown)}"[^\r\n]*' + again),
                    console.HOST_PROMPT)
            # Connecting a UDP socket to a broadcast address is refused by the system.
            refused(("127.255.255.255",), re.compile(r"Unable to send to 127\.255\.255\.255:\d+: [^\r\n]+" + again),
                    console.HOST_PROMPT)
            program.answer("127.000.000.001")  # 15 characters, all taken
            program.expect(console.STREAMING)
            self.assertIn(f"> Streaming OSC data to 127.000.000.001:{receiver.port}\r\n", program.screen_before())
        with step("streaming sends what the silent input gives"):
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and len(self.volumes(receiver)) < 20:
                time.sleep(0.05)
            self.assertGreaterEqual(len(self.volumes(receiver)), 20)
            self.assertEqual(set(self.volumes(receiver)), {0.0})

        program.interrupt()
        self.assertExitsWithZero(program)
        with open(self.workpath("console.log"), errors="replace") as log:
            screens = log.read()
        for prompt, times in ((console.DEVICE_PROMPT, 1), (console.CHANNEL_PROMPT, 1), (console.VINYL_PROMPT, 1),
                              (console.PORT_PROMPT, 8), (console.HOST_PROMPT, 3), (console.GAIN_PROMPT, 1)):
            self.assertEqual(screens.count(prompt), times, f"{prompt!r} shown {screens.count(prompt)} times")

        with step("the end of input at a prompt: one line, status 0, nothing stored"):
            program = self.console(server.client_env(), name="console-eof")
            program.choose_device("system ")
            for prompt, answer in ((console.CHANNEL_PROMPT, "0"), (console.VINYL_PROMPT, str(console.MIXVIBES))):
                program.expect(prompt)
                program.answer(answer)
            program.expect(console.RIAA_MENU)  # taken as empty answers, the ended input would run a calibration
            program.child.sendeof()
            program.expect("The input ended before the setup was complete; the program stops.\r\n")
            self.assertExitsWithZero(program)
            self.assertFalse(os.path.exists(self.workpath("PlatoraExample.ini")))

    @staticmethod
    def volumes(receiver):
        return [value for _, address, value in receiver.messages() if address == "/scratch/vol"]
