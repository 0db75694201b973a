"""What the end-to-end tests share: the binaries under test, a work directory per test,
the chain of real parts with cleanup, and the comparison with the generator's ground truth."""

import bisect
import contextlib
import os
import shutil
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "chain"))

import platora_chain as chain  # noqa: E402

try:
    import platora_console as console
except ImportError:  # the runner reports it as a skip
    console = None

# Filled in by run_e2e.py from the command line.
BINARIES = {}

FRAME_SECONDS = 0.007333333  # one Mixvibes frame
PERIOD_SECONDS = chain.PERIOD_FRAMES / chain.SAMPLE_RATE_HZ
FULL_SCALE = 32767
GAIN_TARGET_LEVEL = 16360  # auto-gain stops above this level
PLAYER = "platora-turntable"  # no other JACK port name contains it


@contextlib.contextmanager
def step(description):
    """Names a step of a dialogue in its failure; unlike subTest, a failed step ends the test,
    since every later answer would go to the wrong prompt."""
    try:
        yield
    except AssertionError as error:
        raise AssertionError(f"{description}: {error}") from error
    except Exception as error:  # pexpect's timeout and end of file
        raise AssertionError(f"{description}: {type(error).__name__}: {str(error)[:2000]}") from error


def measured(text):
    """A measurement worth reading in the test log, not a pass/fail criterion."""
    print(f"measured: {text}", file=sys.stderr)


class E2ETest(unittest.TestCase):
    """A work directory (the program's cwd, all logs) under e2e-runs/ in the current
    directory, emptied at the start and left behind for a look after a failure; every part
    started through start() or console() is ended in reverse order, also on failure."""

    def setUp(self):
        if console is None:
            self.skipTest("python3-pexpect is not installed")
        self.workdir = os.path.join(os.getcwd(), "e2e-runs", self.id().split(".", 1)[-1])
        shutil.rmtree(self.workdir, ignore_errors=True)
        os.makedirs(self.workdir)
        self.chain = chain.Chain()
        self.addCleanup(self.chain.stop)

    def workpath(self, *names):
        return os.path.join(self.workdir, *names)

    def start_server(self, capture_channels=2):
        if chain.jackd_path() is None:
            self.skipTest("jackd not found on PATH (Debian package jackd2)")
        return self.chain.add(chain.JackServer(self.workdir, capture_channels=capture_channels)).start()

    def start(self, part, *args):
        """Adds a part to the chain, then starts it; returns what start() returns."""
        self.chain.add(part)
        return part.start(*args)

    def console(self, env, cwd=None, name="console"):
        program = console.Console(BINARIES["platora"], env, cwd or self.workdir, self.workpath(name + ".log"))
        self.addCleanup(program.close)
        return program

    def assertExitsWithZero(self, program, timeout=10):
        code, killed = program.wait_for_exit(timeout=timeout)
        self.assertIsNone(killed, f"platora was killed by signal {killed}")
        self.assertEqual(code, 0)


class Truth:
    """The generator's manifest: position and speed over time since play began."""

    def __init__(self, rows):
        self.times = [r[0] for r in rows]
        self.positions = [r[1] for r in rows]
        self.speeds = [r[2] for r in rows]

    def end(self):
        return self.times[-1]

    def _span(self, start, stop):
        return bisect.bisect_left(self.times, start), bisect.bisect_right(self.times, stop)

    def speed_held(self, start, stop, speed):
        """Whether the record turned at exactly this speed throughout [start, stop]."""
        first, last = self._span(start, stop)
        return start >= 0 and stop <= self.end() and last > first and all(
            abs(s - speed) < 1e-9 for s in self.speeds[first:last])

    def latest_match(self, value, start, stop, ahead, behind):
        """The latest time in [start, stop] at which the record stood no more than `ahead`
        before and `behind` after `value`; None if there is none."""
        first, last = self._span(start, stop)
        for i in range(last - 1, first - 1, -1):
            if -ahead <= self.positions[i] - value <= behind:
                return self.times[i]
        return None


def first_arrivals(messages, address):
    """(arrival, value) each time the value sent to `address` changes."""
    changes = []
    for arrival, addr, value in messages:
        if addr == address and (not changes or changes[-1][1] != value):
            changes.append((arrival, value))
    return changes
