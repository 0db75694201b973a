"""Starts and stops the parts around the console program: a JACK server with the dummy
back end (or PipeWire reached through its JACK face), platora-gen playing a timecode record
into it, oscdump receiving OSC, and the program itself started with a command line; or,
without any server, a recording as ALSA's default device.

Every part is a child process in its own session, so a Ctrl-C typed at the terminal reaches
only the foreground program and the parts can be stopped in order. stop() is safe to call
more than once and on a part that never started.
"""

import bisect
import csv
import ctypes
import fcntl
import glob
import os
import shutil
import signal
import socket
import struct
import sys
import subprocess
import tempfile
import time

SAMPLE_RATE_HZ = 44100
MIXVIBES_FRAME_SECONDS = 0.007333333
PERIOD_FRAMES = 1024
NTP_TO_UNIX_SECONDS = 2208988800  # 1900-01-01 to 1970-01-01

_STOP_GRACE_SECONDS = 2.0
_JACK_CLIENT_SECONDS = 5.0
_POLL_SECONDS = 0.01
_PR_SET_PDEATHSIG = 1


def _end_with_parent():
    """Runs in the child before exec: if the parent dies (a test killed at its timeout), the
    part gets SIGTERM instead of living on in its own session."""
    ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


class ChainError(RuntimeError):
    """A part could not be started; the message says which and why."""


def jackd_path():
    return shutil.which("jackd")


def free_udp_port():
    """A UDP port no one listens on right now (the kernel's pick)."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _tail(path, lines=5):
    try:
        with open(path, errors="replace") as log:
            return " | ".join(log.read().strip().splitlines()[-lines:])
    except OSError:
        return ""


class _Part:
    """One child process with its output in a log file."""

    name = "part"

    def __init__(self, log_path):
        self.log_path = log_path
        self.process = None

    def _spawn(self, argv, env=None):
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen(
                argv, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                env=env, start_new_session=True, preexec_fn=_end_with_parent)

    def running(self):
        return self.process is not None and self.process.poll() is None

    def _fail(self, why):
        tail = _tail(self.log_path)
        self.stop()
        raise ChainError(f"{self.name}: {why}" + (f" ({tail})" if tail else ""))

    def stop(self, sig=signal.SIGTERM):
        """Asks the process to end, kills it after a grace period; returns its status."""
        if self.process is None:
            return None
        if self.process.poll() is None:
            try:
                self.process.send_signal(sig)
                self.process.wait(_STOP_GRACE_SECONDS)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode


class JackServer(_Part):
    """jackd -d dummy under a name of its own, so servers of parallel runs never meet."""

    name = "jackd"

    def __init__(self, workdir, capture_channels=2, server_name=None, loopback_ports=0,
                 period_frames=PERIOD_FRAMES):
        super().__init__(os.path.join(workdir, "jackd.log"))
        self.server_name = server_name or f"platora-{os.getpid()}-{time.monotonic_ns()}"
        self.capture_channels = capture_channels
        # What a client plays into loopback:playback_N comes out of loopback:capture_N.
        self.loopback = ["-L", str(loopback_ports)] if loopback_ports else []
        self.period_frames = period_frames

    def client_env(self, base=None):
        """The environment for any JACK client of this server."""
        env = dict(os.environ if base is None else base)
        env["JACK_DEFAULT_SERVER"] = self.server_name
        env["JACK_NO_START_SERVER"] = "1"
        # Without it jackd asks D-Bus for the sound card, even with the dummy back end.
        env["JACK_NO_AUDIO_RESERVATION"] = "1"
        return env

    def start(self, timeout=10.0):
        jackd = jackd_path()
        if jackd is None:
            raise ChainError("jackd: not found on PATH (Debian package jackd2)")
        self._spawn([jackd, "-n", self.server_name] + self.loopback + ["-d", "dummy", "-r", str(SAMPLE_RATE_HZ),
                     "-p", str(self.period_frames), "-C", str(self.capture_channels), "-P", "2"],
                    env=self.client_env())
        return self._wait_for_clients(timeout)

    def _wait_for_clients(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self.running():
                self._fail("ended at start")
            if self.ports() is not None:
                return self
            time.sleep(_POLL_SECONDS)
        self._fail(f"did not accept clients within {timeout:g} s")

    def ports(self):
        """The server's port names, or None while it does not answer."""
        # A JACK client can hang while a loaded server starts: ask again rather than wait forever.
        try:
            listed = subprocess.run(["jack_lsp"], env=self.client_env(), stdin=subprocess.DEVNULL,
                                    capture_output=True, text=True, timeout=_JACK_CLIENT_SECONDS)
        except subprocess.TimeoutExpired:
            return None
        return listed.stdout.splitlines() if listed.returncode == 0 else None

    def wait_for_ports(self, prefix, count, part, timeout=10.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not part.running():
                part._fail("ended at start")
            if len([p for p in self.ports() or [] if p.startswith(prefix)]) >= count:
                return
            time.sleep(_POLL_SECONDS)
        part._fail(f"its ports did not appear within {timeout:g} s")


def unpacked(package, folder, version_of):
    """The folder holding `package` unpacked (apt-get download, dpkg-deb -x: never installed,
    so nothing system-wide changes), in the version of the installed package version_of.
    Unpacks once per folder, also for tests running side by side."""
    root = os.path.join(folder, package)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.isdir(root):
            return root
        version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", version_of],
                                 capture_output=True, text=True).stdout
        with tempfile.TemporaryDirectory(dir=folder) as download:
            fetched = subprocess.run(["apt-get", "download", "-q", f"{package}={version}"], cwd=download,
                                     stdin=subprocess.DEVNULL, capture_output=True, text=True)
            debs = [name for name in os.listdir(download) if name.endswith(".deb")]
            if fetched.returncode != 0 or not debs:
                raise ChainError(f"{package} {version}: apt-get download failed: {fetched.stderr.strip()[-300:]}")
            subprocess.run(["dpkg-deb", "-x", os.path.join(download, debs[0]), root + ".part"], check=True)
            os.rename(root + ".part", root)
        return root


class PipeWireServer(JackServer):
    """PipeWire with private runtime, state and configuration folders and no session bus, its
    graph pinned to the JACK tests' rate and period; every JACK client reaches it through
    pipewire-jack's libjack (jack_lib_dir). No session manager: JACK clients link themselves."""

    name = "pipewire"
    # RtAudio refuses a server rate other than its own, and drops every callback once the
    # buffer size changes, which a quantum left free does when a client joins.
    _GRAPH = (f"context.properties = {{ default.clock.rate = {SAMPLE_RATE_HZ} "
              f"default.clock.allowed-rates = [ {SAMPLE_RATE_HZ} ] default.clock.quantum = {PERIOD_FRAMES} "
              f"default.clock.min-quantum = {PERIOD_FRAMES} default.clock.max-quantum = {PERIOD_FRAMES} }}\n")

    def __init__(self, workdir, jack_lib_dir):
        _Part.__init__(self, os.path.join(workdir, "pipewire.log"))
        self.jack_lib_dir = jack_lib_dir
        # Short: the socket's path must fit a sockaddr_un.
        self.home = tempfile.mkdtemp(prefix="platora-pw-")

    def client_env(self, base=None):
        env = dict(os.environ if base is None else base)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        for variable in ("XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_STATE_HOME"):
            env[variable] = os.path.join(self.home, variable.lower())
        env["LD_LIBRARY_PATH"] = os.pathsep.join(filter(None, [self.jack_lib_dir, env.get("LD_LIBRARY_PATH")]))
        env["JACK_NO_START_SERVER"] = "1"
        return env

    def start(self, timeout=10.0):
        pipewire = shutil.which("pipewire")
        if pipewire is None:
            raise ChainError("pipewire: not found on PATH (Debian package pipewire-bin)")
        env = self.client_env()
        settings = os.path.join(env["XDG_CONFIG_HOME"], "pipewire", "pipewire.conf.d")
        os.makedirs(settings)
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        with open(os.path.join(settings, "platora.conf"), "w") as conf:
            conf.write(self._GRAPH)
        self._spawn([pipewire], env=env)
        return self._wait_for_clients(timeout)

    def stop(self, sig=signal.SIGTERM):
        status = super().stop(sig)
        shutil.rmtree(self.home, ignore_errors=True)
        return status


class WirePlumber(_Part):
    """WirePlumber (unpacked into root) beside a PipeWireServer, linking each capture stream to
    the default source. Without D-Bus and logind (a bare root has neither) it runs only with
    ALSA device reservation, the Flatpak portal and the Bluetooth monitor (whose seat watch
    needs logind) off."""

    name = "wireplumber"
    _SETTINGS = {"main.lua.d": 'alsa_monitor.properties["alsa.reserve"] = false\n'
                               'default_access.properties["enable-flatpak-portal"] = false\n',
                 "bluetooth.lua.d": "bluez_monitor.enabled = false\n"}

    def __init__(self, server, root, workdir):
        super().__init__(os.path.join(workdir, "wireplumber.log"))
        self.server, self.root = server, root

    def start(self, timeout=5.0):
        env = self.server.client_env()
        settings = os.path.join(env["XDG_CONFIG_HOME"], "wireplumber")
        # Its configuration is looked for under XDG_CONFIG_HOME before /usr/share: all of it
        # there, and ours sorting before the file that applies the settings.
        shutil.copytree(os.path.join(self.root, "usr", "share", "wireplumber"), settings, dirs_exist_ok=True)
        for folder, text in self._SETTINGS.items():
            with open(os.path.join(settings, folder, "80-platora.lua"), "w") as lua:
                lua.write(text)
        self._spawn([os.path.join(self.root, "usr", "bin", "wireplumber")], env=env)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self.running():
                self._fail("ended at start")
            clients = subprocess.run(["pw-cli", "ls", "Client"], env=env, capture_output=True, text=True).stdout
            if '"WirePlumber [export]"' in clients:
                return self
            time.sleep(_POLL_SECONDS)
        self._fail(f"did not join PipeWire within {timeout:g} s")


class RecordSource(_Part):
    """pw-cat playing a WAV as a PipeWire source node, from when something links to it."""

    name = "pw-cat"

    def __init__(self, server, wav_path, workdir, node="platora-record"):
        super().__init__(os.path.join(workdir, node + ".log"))
        self.server, self.wav_path, self.node = server, wav_path, node

    def start(self):
        properties = f'{{ media.class = "Audio/Source" node.name = "{self.node}" node.description = "{self.node}" }}'
        self._spawn(["pw-cat", "--playback", "-P", properties, self.wav_path], env=self.server.client_env())
        return self


def alsa_pipewire_env(server, face_root, workdir):
    """The environment in which ALSA's "default" device is PipeWire's default source, through
    PipeWire's ALSA face unpacked into face_root, as a desktop with pipewire-alsa has it."""
    plugins, = glob.glob(os.path.join(face_root, "usr", "lib", "*", "alsa-lib"))
    conf_path = os.path.join(workdir, "alsa-pipewire.conf")
    with open(conf_path, "w") as conf:
        conf.write("</usr/share/alsa/alsa.conf>\n")
        for kind in ("pcm", "ctl"):
            conf.write(f'{kind}_type.pipewire {{ lib "{plugins}/libasound_module_{kind}_pipewire.so" }}\n')
        for name in ("50-pipewire.conf", "99-pipewire-default.conf"):
            conf.write(f"<{os.path.join(face_root, 'usr', 'share', 'alsa', 'alsa.conf.d', name)}>\n")
    env = server.client_env()
    env.update(ALSA_CONFIG_PATH=conf_path, JACK_DEFAULT_SERVER=f"platora-absent-{os.getpid()}")
    env.pop("LD_LIBRARY_PATH", None)  # JACK itself is not asked here
    return env


def alsa_recording_env(workdir, raw_path, devices_plugin, base=None):
    """The environment in which ALSA's "default" device captures raw_path (16-bit stereo at
    44100 Hz) in real time, then silence, and the control "default" opens without a sound
    card (devices_plugin: the library of both). Only this process's ALSA configuration changes."""
    conf_path = os.path.join(workdir, "alsa.conf")
    with open(conf_path, "w") as conf:
        conf.write(f"""</usr/share/alsa/alsa.conf>
ctl_type.platora_empty {{ lib "{devices_plugin}" }}
pcm_type.platora_paced {{ lib "{devices_plugin}" }}
ctl.!default {{ type platora_empty }}
pcm.!default {{ type plug slave.pcm {{ type platora_paced file "{raw_path}" }} }}
""")
    env = dict(os.environ if base is None else base)
    env.update(ALSA_CONFIG_PATH=conf_path, JACK_NO_START_SERVER="1",
               JACK_DEFAULT_SERVER=f"platora-absent-{os.getpid()}")
    return env


def alsa_jack_env(workdir, jack_plugin, server, base=None):
    """The environment in which ALSA's "default" device captures the JACK server's
    loopback:capture_1 and _2 (jack_plugin: alsa-lib's JACK plugin library)."""
    conf_path = os.path.join(workdir, "alsa-jack.conf")
    with open(conf_path, "w") as conf:
        conf.write(f"""</usr/share/alsa/alsa.conf>
pcm_type.jack {{ lib "{jack_plugin}" }}
pcm.!default {{
  type plug
  slave.pcm {{ type jack name "platora-capture" capture_ports {{ 0 "loopback:capture_1" 1 "loopback:capture_2" }} }}
}}
""")
    env = server.client_env(base)
    env["ALSA_CONFIG_PATH"] = conf_path
    return env


class Generator(_Part):
    """platora-gen as a live JACK client; silent until its timecode ports are connected.

    length: seconds of play, 0 for until stopped (without it platora-gen stops after the
    profile, or after 10 s). manifest_base: where the ground truth goes (BASE.manifest.csv),
    or None for none.
    """

    name = "platora-gen"

    def __init__(self, gen_path, server, workdir, client="platora-turntable", vinyl=1,
                 profile=None, loop=False, level=None, channels=2, length=0, manifest_base=None, start=None,
                 extra=()):
        super().__init__(os.path.join(workdir, client + ".log"))
        self.gen_path = gen_path
        self.server = server
        self.client = client
        self.channels = channels
        self.manifest_base = manifest_base
        self.argv = [gen_path, "--type", str(vinyl), "--jack", client, "--channels", str(channels),
                     "--length", repr(length)]
        if profile:
            self.argv += ["--profile", profile]
        if loop:
            self.argv.append("--loop")
        if start is not None:
            self.argv += ["--start", repr(start)]
        if level is not None:
            self.argv += ["--level", repr(level)]
        self.argv += list(extra)
        if manifest_base:
            self.argv.append(manifest_base)

    @property
    def manifest_path(self):
        return self.manifest_base + ".manifest.csv" if self.manifest_base else None

    def timecode_ports(self):
        return [f"{self.client}:out_{self.channels - 1}", f"{self.client}:out_{self.channels}"]

    def start(self):
        self._spawn(self.argv, env=self.server.client_env())
        self.server.wait_for_ports(self.client + ":out_", self.channels, self)
        return self

    def stop(self, sig=signal.SIGINT):
        # SIGINT lets it write the manifest's last rows before it ends.
        return super().stop(sig)

    def read_manifest(self):
        """The ground truth rows as (frame, time_s, position_s, speed); read after stop()."""
        with open(self.manifest_path, newline="") as manifest:
            return [(int(r["frame"]), float(r["time_s"]), float(r["position_s"]), float(r["speed"]))
                    for r in csv.DictReader(manifest)]


def osc_message(address, value):
    """One OSC message with one float32 argument, as bytes."""
    def padded(text):
        raw = text.encode() + b"\0"
        return raw + b"\0" * (-len(raw) % 4)
    return padded(address) + padded(",f") + struct.pack(">f", value)


class OscDump(_Part):
    """oscdump listening on a UDP port; its lines are read back with messages()."""

    name = "oscdump"
    _READY_ADDRESS = "/chain/ready"

    def __init__(self, workdir, port=None):
        super().__init__(os.path.join(workdir, "oscdump.txt"))
        self.port = port

    def start(self, timeout=5.0):
        oscdump = shutil.which("oscdump")
        if oscdump is None:
            raise ChainError("oscdump: not found on PATH (Debian package liblo-tools)")
        self.port = self.port or free_udp_port()
        # -L: line-buffered, so every line is in the file before oscdump is stopped.
        self._spawn([oscdump, "-L", str(self.port)])
        # Listening for sure only once a message of ours has come through.
        deadline = time.monotonic() + timeout
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
            while time.monotonic() < deadline:
                if not self.running():
                    self._fail(f"cannot listen on port {self.port}")
                sender.sendto(osc_message(self._READY_ADDRESS, 0.0), ("127.0.0.1", self.port))
                time.sleep(0.05)
                if any(a == self._READY_ADDRESS for _, a, _ in self.messages()):
                    return self
        self._fail(f"received nothing on port {self.port} within {timeout:g} s")

    def messages(self):
        """(arrival in Unix seconds, address, value) for every float message so far."""
        found = []
        try:
            with open(self.log_path, errors="replace") as dump:
                for line in dump:
                    if not line.endswith("\n"):  # still being written: its last number may be cut short
                        break
                    fields = line.split()
                    # e.g. "eec048ca.73517a45 /scratch/pos f 0.183333"
                    if len(fields) != 4 or fields[2] != "f" or "." not in fields[0]:
                        continue
                    seconds, fraction = fields[0].split(".")
                    try:
                        arrival = int(seconds, 16) - NTP_TO_UNIX_SECONDS + int(fraction, 16) / 2**32
                        found.append((arrival, fields[1], float(fields[3])))
                    except ValueError:
                        continue
        except FileNotFoundError:
            pass
        return found


class OnsetProbe(_Part):
    """Connects to ports (which starts a player) and reports when their signal began. It
    plays them on as its own out_1.., so players of two records make one 4-channel device."""

    name = "platora-onset-probe"

    def __init__(self, probe_path, server, workdir, ports, client="platora-onset-probe"):
        super().__init__(os.path.join(workdir, client + ".log"))
        self.argv = [probe_path, client] + list(ports)
        self.server = server

    def start(self, timeout=5.0):
        """Returns the wall-clock time (Unix seconds) of the first sample of signal on the
        first port; self.onsets has one per port."""
        self._spawn(self.argv, env=self.server.client_env())
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with open(self.log_path, errors="replace") as log:
                for line in log:
                    if line.startswith("onset ") and line.endswith("\n"):  # a whole line, not one being written
                        self.onsets = [float(field) for field in line.split()[1:]]
                        return self.onsets[0]
            if not self.running():
                self._fail("ended before the signal began")
            time.sleep(_POLL_SECONDS)
        self._fail(f"no signal within {timeout:g} s")


class Truth:
    """The generator's manifest: position and speed over time since play began."""

    # A frame is reported once the decoder has seen its whole window; never ahead of the record,
    # though up to a row's spacing (44 frames, 1 ms) ahead of the last row before a loop's jump.
    BEHIND_SECONDS, AHEAD_SECONDS = MIXVIBES_FRAME_SECONDS + 0.001, 0.0005 + 0.001
    # A value read while the decoder was busy may wait a little for the main thread on a
    # loaded machine; older than this is stale. When the whole machine stalls, JACK catches
    # up with a burst of periods: those positions come late but must still be right.
    MAX_AGE_SECONDS, STALL_SECONDS = 0.1, 1.0
    # The wall-clock start of play is measured, not known: under load it can be off by a
    # period or so, which can make a right position look ahead of the record.
    ONSET_UNCERTAINTY_SECONDS = 0.03
    # When the record jumps (a loop starting over), the decoder learns it only from the new
    # place's frames, confirmed by a second one; until then robust decoding carries on by the
    # speed, up to a few frames past where the record left.
    JUMP_SECONDS, OVERTAKEN_SECONDS = 0.05, 3 * MIXVIBES_FRAME_SECONDS

    def __init__(self, rows):
        self.frames, self.times, self.positions, self.speeds = (list(column) for column in zip(*rows))
        self.jumps = [(self.times[i], self.positions[i - 1]) for i in range(1, len(self.times))
                      if abs(self.positions[i] - self.positions[i - 1]) > self.JUMP_SECONDS]
        # When each period began and where the record stood then. A period is played whole,
        # so a stall that moved the manifest's time on lies between two.
        self.period_starts, self.period_positions = [], []
        for start in range(0, self.frames[-1] + 1, PERIOD_FRAMES):
            after = bisect.bisect_left(self.frames, start)
            before = max(after - 1, 0)
            share = (start - self.frames[before]) / max(self.frames[after] - self.frames[before], 1)
            self.period_starts.append(self.times[after] - (self.frames[after] - start) / SAMPLE_RATE_HZ)
            self.period_positions.append(self.positions[before]
                                         + share * (self.positions[after] - self.positions[before]))

    def period_began(self, time):
        """When the period under way at this time began, and where the record stood then."""
        i = max(bisect.bisect_right(self.period_starts, time) - 1, 0)
        return self.period_starts[i], self.period_positions[i]

    def _span(self, start, stop):
        return bisect.bisect_left(self.times, start), bisect.bisect_right(self.times, stop)

    def speed_held(self, start, stop, speed):
        """Whether the record turned at exactly this speed throughout [start, stop]."""
        first, last = self._span(start, stop)
        return start >= 0 and stop <= self.times[-1] and last > first and all(
            abs(s - speed) < 1e-9 for s in self.speeds[first:last])

    def position_at(self, time):
        """Where the record stood at this time (rows are a millisecond apart)."""
        i = min(max(bisect.bisect_left(self.times, time), 1), len(self.times) - 1)
        share = (time - self.times[i - 1]) / (self.times[i] - self.times[i - 1])
        return self.positions[i - 1] + share * (self.positions[i] - self.positions[i - 1])

    def latest_match(self, value, start, stop, ahead, behind):
        """The latest time in [start, stop] at which the record stood no more than `ahead`
        before and `behind` after `value`, or None."""
        first, last = self._span(start, stop)
        return next((self.times[i] for i in range(last - 1, first - 1, -1)
                     if -ahead <= self.positions[i] - value <= behind), None)

    def overtaken(self, value, arrival):
        """Whether the value carries on from where the record left just before a jump."""
        return any(arrival - self.MAX_AGE_SECONDS - self.ONSET_UNCERTAINTY_SECONDS <= when <= arrival
                   and 0 <= value - left <= self.OVERTAKEN_SECONDS for when, left in self.jumps)

    def judge_positions(self, arrivals, reach=0.0):
        """For (arrival, position) pairs, times since play began: the ages of the right ones
        (how long after the record stood there they arrived), and the late and the wrong ones
        as text. reach: how far either way a position may carry on beyond where the record
        stood (interpolated positions run on by the speed until they are sent)."""
        ages, late, wrong = [], [], []
        ahead, behind = self.AHEAD_SECONDS + reach, self.BEHIND_SECONDS + reach
        for arrival, value in arrivals:
            matched = self.latest_match(value, arrival - self.MAX_AGE_SECONDS, arrival, ahead, behind)
            if matched is not None:
                ages.append(arrival - matched)
            elif self.latest_match(value, arrival - self.STALL_SECONDS, arrival + self.ONSET_UNCERTAINTY_SECONDS,
                                   ahead, behind) is None and not self.overtaken(value, arrival):
                wrong.append(f"{value:.5f} at {arrival:.3f} s")
            else:
                late.append(f"{value:.5f} at {arrival:.3f} s")
        return ages, late, wrong


class Platora(_Part):
    """platora streaming without questions: platora --device DEVICE ARGS...; its output goes
    to platora.log. stop() sends SIGINT, which ends streaming with status 0."""

    name = "platora"

    def __init__(self, platora_path, server, workdir, device, args):
        super().__init__(os.path.join(workdir, "platora.log"))
        self.argv = [platora_path, "--device", device] + list(args)
        self.server = server
        self.extra_env = {}  # set before start()

    def start(self, settle=0.5):
        self._spawn(self.argv, env={**self.server.client_env(), **self.extra_env})
        # A refused command line or a device that does not open ends it at once.
        time.sleep(settle)
        if not self.running():
            self._fail(f"ended at start with status {self.process.returncode}")
        return self

    def stop(self, sig=signal.SIGINT):
        return super().stop(sig)


class Chain:
    """The parts in the order they start; stop() ends them in reverse order."""

    def __init__(self):
        self.parts = []

    def add(self, part):
        self.parts.append(part)
        return part

    def stop(self):
        statuses = {}
        while self.parts:
            part = self.parts.pop()
            statuses[part.name] = part.stop()
        return statuses


BUILT_PROGRAMS = {
    "platora": ("app", "platora"),
    "platora-gen": ("tools", "generator", "platora-gen"),
    "platora-decode": ("tools", "decode", "platora-decode"),
    "platora-monitor": ("tools", "monitor", "platora-monitor"),
    "platora-onset-probe": ("harness", "onset", "platora-onset-probe"),
}


def built_programs(build_dir, names, command):
    """Paths of the named programs in a build folder; ends the script in one line if any is missing."""
    paths = {name: os.path.join(build_dir, *BUILT_PROGRAMS[name]) for name in names}
    missing = [name for name, path in paths.items() if not os.access(path, os.X_OK)]
    if missing:
        sys.exit(f"{command}: {', '.join(missing)} not found in {build_dir}; build first (./platora.sh {command} does)")
    return paths
