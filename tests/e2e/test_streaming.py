"""The whole chain: a Mixvibes record played into JACK (jackd, or PipeWire's JACK face), or
read by plain ALSA from a file; platora answered through a terminal, its OSC received by
oscdump and held against the generator's truth. Under jackd the server is then killed and a
new one started under its name."""

import math
import os
import signal
import statistics
import subprocess
import time
import wave

from platora_harness.e2e import BINARIES, PLAYER, E2ETest, chain, console, measured

ADDRESSES = ["/scratch/pos", "/scratch/TPS", "/scratch/speed", "/scratch/vol"]
MAX_LATE_SHARE = 0.05  # positions that came late (see Truth) stay rare
TPS_WINDOW_SECONDS = 2.5  # the count covers a little over a second; give it two
GAIN_TARGET_LEVEL, FULL_SCALE = 16360, 32767  # auto-gain stops above the target
LOSS_NOTICED_SECONDS, DOWN_SECONDS, RESUME_SECONDS = 0.25, 2.0, 5.0
LOST_LINE, BACK_LINE = "The audio input was lost", "The audio input is back"


class FollowsTheRecord:
    """Checks of the values sent against a generator's truth, for E2ETest cases."""

    def check_positions(self, truth, messages, reach=0.0):
        arrivals = []  # each time the position changes
        for arrival, address, value in messages:
            if address == "/scratch/pos" and (not arrivals or arrivals[-1][1] != value):
                arrivals.append((arrival, value))
        self.assertGreater(len(arrivals), 200, "the position hardly changed")
        ages, late, wrong = truth.judge_positions(arrivals, reach)
        self.assertFalse(wrong, f"{len(wrong)} of {len(arrivals)} positions off the record: {wrong[:8]}")
        self.assertLessEqual(len(late), MAX_LATE_SHARE * len(arrivals),
                             f"{len(late)} of {len(arrivals)} positions stale: {late[:8]}")
        measured(f"position arrival after the record stood within a frame of it: median "
                 f"{statistics.median(ages) * 1000:.1f} ms, max {max(ages) * 1000:.1f} ms; {len(late)} stale")

    def check_speed(self, truth, messages):
        checked = {1.0: 0, 0.5: 0, -1.0: 0}
        wrong = []
        for arrival, address, value in messages:
            for speed in checked:
                if address == "/scratch/speed" and truth.speed_held(arrival - 0.3, arrival, speed):
                    checked[speed] += 1
                    if abs(value - 100 * speed) > 5:
                        wrong.append(f"{value:.2f} at {arrival:.3f} s, record at {speed}")
        self.assertFalse(wrong, f"{len(wrong)} speeds off: {wrong[:8]}")
        self.assertGreater(checked[1.0], 100)
        self.assertGreater(checked[0.5], 20)
        self.assertGreater(checked[-1.0], 20)


class MixvibesStreaming(FollowsTheRecord, E2ETest):
    LEVEL = 0.2  # the auto-gain has to raise it
    # Forward, slowing to half speed, backwards, forward again; then from the start.
    PROFILE = "1:4,1->0.5:1,0.5:1,0.5->-1:0.5,-1:1.5,-1->1:0.5,1:2"
    # However long the dialogue took, the values sent cover every part of the loop, its jump
    # back to the start, and a whole count window at nominal speed.
    STREAM_SECONDS = sum(float(part.split(":")[1]) for part in PROFILE.split(",")) + TPS_WINDOW_SECONDS
    DEVICE, API = PLAYER, "LINUX_JACK"  # the device that captures the record
    REJOINS = True  # then the server is killed and a new one started under its name

    def capture_env(self, server, generator):
        """Leads the record to DEVICE; the program's environment."""
        return server.client_env()

    def test_the_values_sent_follow_the_record_and_ctrl_c_ends_the_program_with_status_0(self):
        server = self.start_server()
        generator = self.start(chain.Generator(BINARIES["platora-gen"], server, self.workdir, client=PLAYER, vinyl=1,
                                               profile=self.PROFILE, loop=True, level=self.LEVEL,
                                               manifest_base=self.workpath("truth")))
        receiver = self.start(chain.OscDump(self.workdir))
        # Its connection starts the play, so the truth's time 0 is known on the wall clock.
        play_began = self.start(chain.OnsetProbe(BINARIES["platora-onset-probe"], server, self.workdir,
                                                 generator.timecode_ports()))
        program = self.console(self.capture_env(server, generator))
        offered = console.dialogue_to_streaming(program, self.DEVICE, vinyl=console.MIXVIBES, preamp=True,
                                                port=receiver.port)
        self.assertEqual(offered, "1.07")
        self.assertRegex(program.chosen_device, rf"^{self.DEVICE} +{self.API}$")
        screen = program.screen_before()
        self.assertNotIn("no signal reached", screen)
        self.assertIn("> using vinyl type: Mixvibes\r\n> using software preamp\r\n", screen)
        self.assertIn("> with a calibration value of: 1.07\r\n", screen)
        self.assertIn(f"> Streaming OSC data to 127.0.0.1:{receiver.port}\r\n", screen)

        time.sleep(self.STREAM_SECONDS)
        killed = restarted = math.inf
        if self.REJOINS:
            killed = time.time() - play_began
            server.stop(signal.SIGKILL)
            program.expect(LOST_LINE)
            time.sleep(DOWN_SECONDS)  # a reopen or two fails meanwhile
            rejoin = self.workpath("rejoin")
            os.makedirs(rejoin)
            restarted = time.time() - play_began
            server = self.start(chain.JackServer(rejoin, server_name=server.server_name))
            # The reopened stream's connection starts this player.
            self.start(chain.Generator(BINARIES["platora-gen"], server, rejoin, client=PLAYER, vinyl=1, level=self.LEVEL))
            deadline = time.time() + RESUME_SECONDS
            while time.time() < deadline and not self.resumed(receiver, play_began + restarted):
                time.sleep(0.1)
            program.expect(BACK_LINE)
        interrupted = time.time()
        program.interrupt()
        self.assertExitsWithZero(program, timeout=5)
        with open(self.workpath("console.log"), errors="replace") as log:
            self.assertNotIn("RtApi", log.read(), "the audio library printed on the screen")
        time.sleep(0.2)
        every = [(arrival - play_began, address, value) for arrival, address, value in receiver.messages()
                 if address.startswith("/scratch/")]
        messages = [m for m in every if m[0] < killed]
        self.assertEqual(generator.stop(), 1 if self.REJOINS else 0, "a generator ends with its server")
        truth = chain.Truth(generator.read_manifest())

        with self.subTest("every cycle sends the four messages in order, the last one too, and Ctrl-C ends it"):
            self.assertGreater(len(messages), 4 * 1000)
            self.assertEqual([a for _, a, _ in every], ADDRESSES * (len(every) // 4))
            self.assertEqual(len(every) % 4, 0)
            self.assertLess(every[-1][0] + play_began - interrupted, 0.5)
        if self.REJOINS:
            with self.subTest("a killed server is noticed at once, the values go to rest, and a new one is rejoined"):
                self.check_loss_and_rejoin(every, killed, restarted)
        with self.subTest("positions are within a frame of the record"):
            self.check_positions(truth, messages)
        with self.subTest("speed is 100 at nominal speed, its share of it when slower, negative backwards"):
            self.check_speed(truth, messages)
        with self.subTest("timecodes per second come near the frame rate at nominal speed"):
            # Setting the calibration value just before streaming restarts the count.
            counts = [(arrival, value) for arrival, address, value in messages
                      if address == "/scratch/TPS" and arrival > messages[0][0] + TPS_WINDOW_SECONDS
                      and truth.speed_held(arrival - TPS_WINDOW_SECONDS, arrival, 1.0)]
            self.assertGreater(len(counts), 50)
            wrong = [f"{value:g} at {arrival:.3f} s" for arrival, value in counts if not 128 <= value <= 140]
            self.assertFalse(wrong, f"{len(wrong)} counts off: {wrong[:8]}")
        with self.subTest("volume is the played level times a whole gain just above the target"):
            volumes = {value for _, address, value in messages if address == "/scratch/vol"}
            self.assertLess(max(volumes) - min(volumes), 1e-3, "the volume changed while the level did not")
            # The gain goes up a whole step every 20 ms while the level read may be a block
            # old, so it can end a step or two above the first that passes the target.
            least_gain = math.floor(GAIN_TARGET_LEVEL / (self.LEVEL * FULL_SCALE)) + 1
            gains = range(least_gain, least_gain + 3)
            self.assertTrue(any(abs(max(volumes) - self.LEVEL * gain) < 2e-3 for gain in gains),
                            f"volume {max(volumes)} is not {self.LEVEL} times one of {list(gains)}")

    @staticmethod
    def resumed(receiver, since):
        return any(arrival > since and address == "/scratch/TPS" and value > 0
                   for arrival, address, value in receiver.messages())

    def check_loss_and_rejoin(self, every, killed, restarted):
        cycles = [every[i:i + 4] for i in range(0, len(every), 4)]
        # The last block may still be decoded a moment after the kill: the position held is the last one sent.
        first_rest = next(i for i, c in enumerate(cycles) if c[0][0] >= killed and [v for _, _, v in c][1:] == [0.0] * 3)
        last_before = cycles[first_rest - 1]
        held = last_before[0][2]
        at_rest = [c[0][0] for c in cycles if [v for _, _, v in c] == [held, 0.0, 0.0, 0.0]]
        self.assertTrue(at_rest and at_rest[0] - killed <= LOSS_NOTICED_SECONDS,
                        f"first cycle at rest {at_rest[:1]} s, server killed at {killed:.3f} s")
        measured(f"input loss sent {(at_rest[0] - killed) * 1000:.0f} ms after the server was killed")
        down = [c for c in cycles if killed + LOSS_NOTICED_SECONDS <= c[0][0] <= restarted]
        self.assertTrue(all([v for _, _, v in c] == [held, 0.0, 0.0, 0.0] for c in down), "values moved while lost")
        gaps = [b[0][0] - a[0][0] for a, b in zip(down, down[1:])]
        self.assertGreater(len(down), 0.5 * (restarted - killed) / 0.005, f"too few cycles while lost; gaps {max(gaps):.3f}")
        back = [c for c in cycles if c[0][0] > restarted and c[1][2] > 0]
        self.assertTrue(back and back[0][0][0] - restarted <= RESUME_SECONDS, "positions did not resume")
        measured(f"positions resumed {back[0][0][0] - restarted:.2f} s after the new server started; longest gap "
                 f"between cycles while lost {max(gaps) * 1000:.0f} ms")
        # The same gain as before: the same level reads the same volume.
        self.assertAlmostEqual(back[-1][3][2], last_before[3][2], delta=2e-3)

class MixvibesStreamingThroughPipeWire(MixvibesStreaming):
    """The same record and checks, with PipeWire in place of jackd: a desktop's path."""
    REJOINS = False

    def start_server(self):
        return self.start_pipewire()


class MixvibesStreamingOnWindows(MixvibesStreaming):
    """The Windows program under Wine (--platora runs it): the record goes from JACK's loopback
    ports through ALSA's default device (alsa-lib's JACK plugin) to Wine's DirectSound."""
    DEVICE, API = "In: default", "WINDOWS_DS"  # Wine's name for ALSA's default capture device
    REJOINS = False

    def start_server(self):
        if not os.path.isfile(os.environ.get("PLATORA_ALSA_JACK_PLUGIN", "")):
            self.skipTest("PLATORA_ALSA_JACK_PLUGIN names no file (scripts/windows/build-libraries.sh unpacks it)")
        return super().start_server(loopback_ports=2)

    def capture_env(self, server, generator):
        for port, loopback in zip(generator.timecode_ports(), ["loopback:playback_1", "loopback:playback_2"]):
            subprocess.run(["jack_connect", port, loopback], env=server.client_env(), check=True, timeout=10)
        return chain.alsa_jack_env(self.workdir, os.environ["PLATORA_ALSA_JACK_PLUGIN"], server)


class MixvibesFromPlainAlsa(E2ETest):
    """No server and no sound card: ALSA's default device plays a recording at a sound card's
    pace (harness/alsa), so every 5 ms cycle can catch a new position. The positions are
    judged by what they are and their order, not by when they come."""
    START_SECONDS, LENGTH_SECONDS = 300.0, 3.0

    def capture_env(self, recording):
        return chain.alsa_recording_env(self.workdir, recording + ".raw", BINARIES["alsa-devices"])

    def test_the_positions_sent_are_the_recorded_ones_in_order(self):
        recording = self.workpath("record")
        gen = subprocess.run([BINARIES["platora-gen"], "--type", "1", "--start", repr(self.START_SECONDS),
                              "--length", repr(self.LENGTH_SECONDS), recording], capture_output=True)
        self.assertEqual(gen.returncode, 0, gen.stderr)
        with wave.open(recording + ".wav") as recorded, open(recording + ".raw", "wb") as raw:
            raw.write(recorded.readframes(recorded.getnframes()))
        receiver = self.start(chain.OscDump(self.workdir))
        program = self.console(self.capture_env(recording))
        console.dialogue_to_streaming(program, "default", vinyl=console.MIXVIBES, port=receiver.port)
        self.assertRegex(program.chosen_device, r"^default +LINUX_ALSA$")
        end = self.START_SECONDS + self.LENGTH_SECONDS
        deadline = time.monotonic() + self.LENGTH_SECONDS + 30
        while time.monotonic() < deadline and not any(
                a == "/scratch/pos" and v > end - 1.0 for _, a, v in receiver.messages()):
            time.sleep(0.1)
        program.interrupt()
        self.assertExitsWithZero(program, timeout=5)
        sent = receiver.messages()
        positions = [value for _, address, value in sent if address == "/scratch/pos"]
        self.assertTrue(any(positions), "nothing decoded")
        decoded = positions[next(i for i, value in enumerate(positions) if value != 0):]  # 0 until a frame decodes
        self.assertFalse([p for p in decoded if not self.START_SECONDS <= p <= end + chain.MIXVIBES_FRAME_SECONDS],
                         "off the record")
        way = decoded[:decoded.index(max(decoded)) + 1]  # then silence
        self.assertFalse([(a, b) for a, b in zip(way, way[1:]) if b < a - chain.MIXVIBES_FRAME_SECONDS], "out of order")
        self.assertGreater(len(set(way)), 5)
        self.assertGreater(way[-1], end - 1.0, "the recording was not read to its end")
        # Along the way, from the second block decoded on: the first may hold only one frame.
        speeds = [value for _, address, value in sent if address == "/scratch/speed"][-len(decoded):][:len(way)]
        speeds = speeds[next(i for i, p in enumerate(way) if p != way[0]):]
        self.assertFalse([s for s in speeds if abs(s - 100) > 5], "speed off nominal")


class MixvibesThroughPipeWireAlsa(MixvibesFromPlainAlsa):
    """The recording as a PipeWire source, captured through ALSA's "default" as a desktop with
    PipeWire's ALSA face has it."""

    def capture_env(self, recording):
        server = self.start_pipewire()
        self.start(chain.WirePlumber(server, self.unpacked("wireplumber", "libwireplumber-0.4-0"), self.workdir))
        self.start(chain.RecordSource(server, recording + ".wav", self.workdir))
        return chain.alsa_pipewire_env(server, self.unpacked("pipewire-alsa", "libpipewire-0.3-0"), self.workdir)


class TwoDecksOnTheCommandLine(FollowsTheRecord, E2ETest):
    """platora --device with two decks on one 4-channel device: one record playing forward on
    channels 1/2, another backward on 3/4. Each deck's datagrams follow their own record, in
    either send mode."""
    SECONDS = 8.0
    # Start position and speed profile. From a cold start a decoder knows where the record
    # stands only once it read a frame, and frames are read forwards: so the second record
    # plays forwards for a second before each two seconds backwards.
    FORWARD, BACKWARD = (100.0, "1"), (500.0, "1:1,-1:2")
    # send mode, more options, one deck's cycles per second with 1024-frame periods
    CASES = [("poll", [], (150, 205)), ("block", ["--interpolate", "--buffer", "64"], (38, 48))]
    MAX_INTERPOLATED_DISTANCE_SECONDS = 0.001
    # An interpolated position runs on by the speed from its block's capture until it is sent,
    # so at a turn or a jump it overshoots by that much; under ThreadSanitizer decoding two
    # decks alone takes 13 ms. The median distance above still holds it to the record.
    INTERPOLATION_REACH_SECONDS = 0.02

    def test_each_deck_follows_its_own_record_in_each_send_mode(self):
        server = self.start_server()
        gen = BINARIES["platora-gen"]
        records = [self.start(chain.Generator(gen, server, self.workdir, client=f"platora-record{i}", start=start,
                                              profile=profile, loop=i == 1, manifest_base=self.workpath(f"truth{i}")))
                   for i, (start, profile) in enumerate((self.FORWARD, self.BACKWARD))]
        decks = chain.OnsetProbe(BINARIES["platora-onset-probe"], server, self.workdir,
                                 records[0].timecode_ports() + records[1].timecode_ports(), client="platora-decks")
        self.start(decks)
        began = [min(decks.onsets[0:2]), min(decks.onsets[2:4])]
        runs = []
        for send, options, rate in self.CASES:
            receivers = []
            for i in range(2):
                os.makedirs(self.workpath(f"{send}{i}"))
                receivers.append(self.start(chain.OscDump(self.workpath(f"{send}{i}"))))
            program = self.start(chain.Platora(BINARIES["platora"], server, self.workpath(send + "0"), "platora-decks",
                                               ["--send", send, *options] + [f"--deck={i}:mixvibes:{r.port}"
                                                                             for i, r in enumerate(receivers)]))
            time.sleep(self.SECONDS)
            self.assertEqual(program.stop(), 0)
            runs.append((send, options, rate, receivers, program))
        for generator in records:
            generator.stop()
        truths = [chain.Truth(generator.read_manifest()) for generator in records]
        for send, options, rate, receivers, program in runs:
            with open(program.log_path) as log:
                screen = log.read()
            for deck, receiver in enumerate(receivers):
                messages = [(arrival - began[deck], address, value) for arrival, address, value in receiver.messages()
                            if address.startswith("/scratch/")]
                # A new stream holds 0 until it read a frame.
                messages = messages[next(i for i, m in enumerate(messages) if m[1] == "/scratch/pos" and m[2] > 0):]
                with self.subTest(send=send, deck=deck):
                    self.assertIn(f"deck {deck}: decoding\n", screen)
                    self.check_positions(truths[deck], messages,
                                         self.INTERPOLATION_REACH_SECONDS if "--interpolate" in options else 0.0)
                    self.check_rate_and_distance(truths[deck], messages, rate, "--interpolate" in options)
            self.assertIn(", robust decoding\n", screen, "not the default mode")
            if "--buffer" in options:
                self.assertIn("> streaming from platora-decks, 1024 frames per buffer (the JACK server's period: jackd -p",
                              screen)

    def check_rate_and_distance(self, truth, messages, rate, interpolated):
        sent = [(arrival, value) for arrival, address, value in messages if address == "/scratch/pos"]
        per_second = (len(sent) - 1) / (sent[-1][0] - sent[0][0])
        self.assertTrue(rate[0] <= per_second <= rate[1], f"{per_second:.0f} cycles a second")
        # A period reaches the ports when the record has played it (the onset probe times the
        # play so), and the program decodes it in that cycle: so the newest sample any decoder
        # can have seen is the one the record played at the start of the current period. An
        # interpolated position stands for the moment it is sent. The periods are the record's
        # own: a stalled machine shifts them off the wall clock's count since play began.
        def reference(arrival):
            return truth.position_at(arrival) if interpolated else truth.period_began(arrival)[1]
        distances = sorted(abs(value - reference(arrival)) for arrival, value in sent
                           if truth.speed_held(arrival - 0.5, arrival, truth.speeds[0]))
        median = statistics.median(distances)
        what = "interpolated position to the record at its arrival" if interpolated else \
            "decoded position to the record's newest sample"
        measured(f"{what}: median "
                 f"{median * 1000:.2f} ms, 99th percentile {distances[int(0.99 * len(distances))] * 1000:.2f} ms")
        if interpolated:
            self.assertLessEqual(median, self.MAX_INTERPOLATED_DISTANCE_SECONDS)
