"""What the end-to-end tests share: the binaries, a work directory per test, the chain of
real parts with cleanup, and the generator's ground truth."""

import contextlib
import glob
import os
import shutil
import sys
import unittest


from platora_harness import chain

try:
    from platora_harness import console
except ImportError:  # the runner reports it as a skip
    console = None

BINARIES = {}  # filled in by run_e2e.py
PLAYER = "platora-turntable"  # no other JACK port name contains it


@contextlib.contextmanager
def step(description):
    """Names a dialogue step in its failure; unlike subTest it ends the test, since every
    later answer would go to the wrong prompt."""
    try:
        yield
    except Exception as error:  # pexpect's timeout and end of file too
        raise AssertionError(f"{description}: {type(error).__name__}: {str(error)[:2000]}") from error


def measured(text):
    """A measurement for the test log, not a pass/fail criterion."""
    print(f"measured: {text}", file=sys.stderr)


class E2ETest(unittest.TestCase):
    """Works in e2e-runs/TEST under the current directory (the program's cwd and all logs,
    left for a look after a failure); the parts of the chain end in reverse order."""

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

    def start_server(self, capture_channels=2, loopback_ports=0):
        if chain.jackd_path() is None:
            self.skipTest("jackd not found on PATH (Debian package jackd2)")
        return self.start(chain.JackServer(self.workdir, capture_channels=capture_channels,
                                           loopback_ports=loopback_ports))

    def start_pipewire(self):
        """PipeWire as the JACK server: pipewire-bin's daemon, pipewire-jack's libjack unpacked
        into the build folder (installing it would pull in PipeWire's login services)."""
        if shutil.which("pipewire") is None:
            self.skipTest("pipewire not found on PATH (Debian package pipewire-bin)")
        face = self.unpacked("pipewire-jack", "libpipewire-0.3-0")
        jack_lib_dir, = glob.glob(os.path.join(face, "usr", "lib", "*", "pipewire-0.3", "jack"))
        return self.start(chain.PipeWireServer(self.workdir, jack_lib_dir))

    def unpacked(self, package, version_of):
        try:
            return chain.unpacked(package, os.path.join(os.getcwd(), "unpacked"), version_of)
        except chain.ChainError as error:
            self.skipTest(f"{package} cannot be had: {error}")

    def start(self, part, *args):
        """Adds a part to the chain and starts it."""
        return self.chain.add(part).start(*args)

    def console(self, env, cwd=None, name="console", preexec_fn=None):
        kind = console.WineConsole if BINARIES["platora"].endswith(".exe") else console.Console
        program = kind(BINARIES["platora"], env, cwd or self.workdir, self.workpath(name + ".log"), preexec_fn=preexec_fn)
        self.addCleanup(program.close)
        return program

    def assertExitsWithZero(self, program, timeout=10):
        code, killed = program.wait_for_exit(timeout=timeout)
        self.assertIsNone(killed, f"platora was killed by signal {killed}")
        self.assertEqual(code, 0)
