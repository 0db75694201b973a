"""Drives the console program through a pseudo-terminal (python3-pexpect), as a user would.

The texts are the program's own; a terminal turns every line end into CR LF.
"""

import re
import signal
import time

import pexpect

DEVICE_PROMPT = "Please select a device:"
CHANNEL_PROMPT = "Please select the input channels:"
VINYL_PROMPT = "Please select the vinyl type:"
RIAA_MENU = "0. Enable RIAA correction\r\n1. continue\r\n"
PREAMP_MENU = "0. Enable software preamp\r\n1. continue\r\n"
GAIN_PROMPT = "Start playback and press <enter> to auto-adjust the volume."
GAIN_WAITING = "Waiting for a signal; press <enter> to go on without one."
GAIN_CEILING = "No signal reached the target level; the software preamp stays at gain 1."
GAIN_SET = re.compile(r"The software preamp's gain is (\d+)\.")
CALIBRATION_MENU = re.compile(r"0\. run calibration\r\n1\. use last calibration or default values (-?\d+\.\d\d)\r\n")
CALIBRATION_PROMPT = "Start playback and press <enter> to run calibration."
CALIBRATION_DONE = "Calibration done. Press any key to start the detection."
PORT_PROMPT = "Port ('enter' for 44444): "
HOST_PROMPT = "IP Address ('enter' for 127.0.0.1): "
STREAMING = "OSC Streaming running...\r\n"

DEVICE_INVALID = "The selected device is invalid!\r\n Please try again.\r\n"
CHANNELS_INVALID = "The selected channels are invalid!\r\n Please try again.\r\n"
VINYL_INVALID = "The selected vinyl type is invalid!\r\n Please try again.\r\n"
PORT_INVALID = "The port must be a whole number from 1 to 65535.\r\n"

MIXVIBES = 1
FINAL_SCRATCH = 0
CONTINUE = "1"  # the second line of each 0/1 menu
CHOOSE = "0"    # the first line

_DEVICE_LINE = re.compile(r"^(\d+)\. (.+?)\r?$", re.MULTILINE)


class Console:
    """platora in a pseudo-terminal; everything it prints also goes to log_path."""

    _spawn = pexpect.spawn
    _line_end = "\n"

    def __init__(self, platora_path, env, cwd, log_path, timeout=15, preexec_fn=None):
        self.log = open(log_path, "w")
        self.child = self._spawn(platora_path, env=env, cwd=cwd, encoding="utf-8", codec_errors="replace",
                                 timeout=timeout, dimensions=(60, 200), preexec_fn=preexec_fn)
        self.child.logfile_read = self.log
        self.chosen_device = None

    def expect(self, pattern, timeout=-1):
        """Waits for an exact text (str) or a compiled regex; returns the match."""
        if isinstance(pattern, str):
            self.child.expect_exact(pattern, timeout=timeout)
        else:
            self.child.expect(pattern, timeout=timeout)
        return self.child.match

    def answer(self, text):
        self.child.send(text + self._line_end)

    def screen_before(self):
        """What was printed between the last two matches."""
        return self.child.before

    def read_device_list(self):
        """Waits for the device prompt; returns {index: first description line}."""
        self.expect(DEVICE_PROMPT)
        return {int(m.group(1)): m.group(2) for m in _DEVICE_LINE.finditer(self.child.before)}

    def choose_device(self, name_part):
        """Picks the listed device whose description contains name_part; returns its index and
        keeps its line as chosen_device."""
        devices = self.read_device_list()
        matching = [i for i, line in devices.items() if name_part in line]
        if not matching:
            raise AssertionError(f"no device containing {name_part!r} among {devices}")
        self.answer(str(matching[0]))
        self.chosen_device = devices[matching[0]]
        return matching[0]

    def interrupt(self):
        """Ctrl-C as the terminal would deliver it; returns the monotonic time it was sent."""
        sent = time.monotonic()
        self.child.kill(signal.SIGINT)
        return sent

    def wait_for_exit(self, timeout=10):
        """Waits for the program to end; returns (exit status or None, signal or None)."""
        self.child.expect(pexpect.EOF, timeout=timeout)
        self.child.wait()
        return self.child.exitstatus, self.child.signalstatus

    def close(self):
        """Ends the program if it still runs (SIGKILL after a grace period), closes the log."""
        if self.child.isalive():
            self.child.close(force=True)
        else:
            self.child.close()
        self.log.close()


class _WineScreen(pexpect.spawn):
    """What Wine's console draws, as text: it moves the cursor over spaces and to the next
    line, which come back as spaces and line ends; every other control sequence is dropped."""

    _SEQUENCE = re.compile(r"\x1b(?:\[([0-9;?]*)([@-~])|\][^\x07]*\x07|[^\[\]])")
    _UNFINISHED_SEQUENCE = re.compile(r"\x1b(?:\[[0-9;?]*|\][^\x07]*)?\Z")
    _UNFINISHED_LINE_END = re.compile(r"\r+\Z")

    def __init__(self, *args, **kwargs):
        self._held_sequence = self._held_text = ""
        super().__init__(*args, **kwargs)

    def read_nonblocking(self, size=1, timeout=-1):
        raw = self._held_sequence + super().read_nonblocking(size, timeout)
        cut = self._UNFINISHED_SEQUENCE.search(raw)
        cut = cut.start() if cut else len(raw)
        self._held_sequence = raw[cut:]
        # Its line ends come as CR CR LF, at times with sequences between.
        text = (self._held_text + self._SEQUENCE.sub(self._as_text, raw[:cut])).replace("\r\r\n", "\r\n")
        cut = self._UNFINISHED_LINE_END.search(text)
        cut = cut.start() if cut else len(text)
        self._held_text = text[cut:]
        return text[:cut]

    @staticmethod
    def _as_text(sequence):
        parameters, command = sequence.group(1), sequence.group(2)
        if command == "C":
            return " " * int(parameters or 1)
        if command == "H" and parameters and parameters.endswith(";1"):
            return "\r\n"
        return ""


class WineConsole(Console):
    """The Windows program under Wine: its screen read as text; Enter is a carriage return."""

    _spawn = _WineScreen
    _line_end = "\r"


def dialogue_to_streaming(console, device_name, vinyl=MIXVIBES, preamp=False, port=None, host=None,
                          on_gain_prompt=None, gain_timeout=30):
    """The usual answers from the device list to streaming: the named device, pair 0, the
    vinyl, no RIAA, the preamp if asked for, the last or default calibration, the port and
    host given (None: the defaults). Returns the calibration value the menu offered."""
    console.choose_device(device_name)
    console.expect(CHANNEL_PROMPT)
    console.answer("0")
    console.expect(VINYL_PROMPT)
    console.answer(str(vinyl))
    console.expect(RIAA_MENU)
    console.answer(CONTINUE)
    console.expect(PREAMP_MENU)
    if preamp:
        console.answer(CHOOSE)
        console.expect(GAIN_PROMPT)
        if on_gain_prompt:
            on_gain_prompt()
        console.answer("")
    else:
        console.answer(CONTINUE)
    offered = console.expect(CALIBRATION_MENU, timeout=gain_timeout).group(1)
    console.answer(CONTINUE)
    console.expect(PORT_PROMPT)
    console.answer("" if port is None else str(port))
    console.expect(HOST_PROMPT)
    console.answer("" if host is None else host)
    console.expect(STREAMING)
    return offered
