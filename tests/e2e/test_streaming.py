"""The whole chain: a Mixvibes record played into JACK, platora answered through a terminal
with the preamp on, its OSC received by oscdump and held against the generator's truth."""

import math
import statistics
import time

from e2e_support import (BINARIES, FRAME_SECONDS, FULL_SCALE, GAIN_TARGET_LEVEL, PERIOD_SECONDS, PLAYER,
                         E2ETest, Truth, chain, console, first_arrivals, measured)

ADDRESSES = ["/scratch/pos", "/scratch/TPS", "/scratch/speed", "/scratch/vol"]

# A value read while the decoder was busy, sent within 5 ms, may wait a little for the
# main thread on a loaded machine; anything older than this is stale.
MAX_AGE_SECONDS = 0.1
# A frame is reported once the decoder has seen its whole window, a few peaks longer than
# the frame itself; it is never ahead of the record.
BEHIND_SECONDS = FRAME_SECONDS + 0.001
AHEAD_SECONDS = 0.0005
# When the whole machine stalls, the JACK server catches up with a burst of periods: those
# positions come late but must still be right, and stay rare.
STALL_SECONDS = 1.0
MAX_LATE_SHARE = 0.05
SPEED_SETTLE_SECONDS = 0.3
SPEED_TOLERANCE_PERCENT = 5
TPS_WINDOW_SECONDS = 2.5  # the count covers a little over a second; give it two
TPS_RANGE = (128, 140)
SIGINT_DEADLINE_SECONDS = 0.5


class MixvibesStreaming(E2ETest):
    LEVEL = 0.2  # the auto-gain has to raise it
    # Forward, slowing to half speed, backwards, forward again; then from the start.
    PROFILE = "1:4,1->0.5:1,0.5:1,0.5->-1:0.5,-1:1.5,-1->1:0.5,1:2"
    LOOP_SECONDS = 10.5
    PLAY_SECONDS = 13.0  # past the jump back to the start

    def test_the_values_sent_follow_the_record_and_ctrl_c_ends_the_program_with_status_0(self):
        server = self.start_server()
        generator = chain.Generator(BINARIES["platora-gen"], server, self.workdir, client=PLAYER, vinyl=1,
                                    profile=self.PROFILE, loop=True, level=self.LEVEL,
                                    manifest_base=self.workpath("truth"))
        self.start(generator)
        receiver = chain.OscDump(self.workdir)
        self.start(receiver)
        # Its connection starts the play, so the truth's time 0 is known on the wall clock.
        play_began = self.start(chain.OnsetProbe(BINARIES["platora-onset-probe"], server, self.workdir,
                                                 generator.timecode_ports()))
        program = self.console(server.client_env())
        offered = console.dialogue_to_streaming(program, PLAYER, vinyl=console.MIXVIBES, preamp=True,
                                                port=receiver.port)
        screen = program.screen_before()
        self.assertEqual(offered, "1.07")
        self.assertIn("> using vinyl type: Mixvibes\r\n> using software preamp\r\n", screen)
        self.assertNotIn("no signal reached", screen)
        self.assertIn("> with a calibration value of: 1.07\r\n", screen)
        self.assertIn(f"> Streaming OSC data to 127.0.0.1:{receiver.port}\r\n", screen)

        time.sleep(max(0.0, play_began + self.PLAY_SECONDS - time.time()))
        interrupted = time.time()
        program.interrupt()
        self.assertExitsWithZero(program, timeout=5)
        measured(f"platora ended {(time.time() - interrupted) * 1000:.0f} ms after SIGINT")
        time.sleep(0.2)
        messages = [m for m in receiver.messages() if m[1].startswith("/scratch/")]
        self.assertEqual(generator.stop(), 0)
        truth = Truth(generator.read_manifest())
        messages = [(arrival - play_began, address, value) for arrival, address, value in messages]

        with self.subTest("every cycle sends the four messages in order, the last one too"):
            self.assertGreater(len(messages), 4 * 1000)
            self.assertEqual([a for _, a, _ in messages], ADDRESSES * (len(messages) // 4))
            self.assertEqual(len(messages) % 4, 0)
        with self.subTest("Ctrl-C ends the streaming within a cycle or two"):
            last = messages[-1][0] + play_began - interrupted
            measured(f"last datagram {last * 1000:.1f} ms after SIGINT")
            self.assertLess(last, SIGINT_DEADLINE_SECONDS)
        with self.subTest("positions are within a frame of the record"):
            self.check_positions(truth, messages)
        with self.subTest("speed is 100 at nominal speed, its share of it when slower, negative backwards"):
            self.check_speed(truth, messages)
        with self.subTest("timecodes per second come near the frame rate at nominal speed"):
            self.check_timecodes_per_second(truth, messages)
        with self.subTest("volume is the played level times a whole gain just above the target"):
            self.check_volume(messages)
        self.measure_jump_latency(messages)

    def check_positions(self, truth, messages):
        arrivals = first_arrivals(messages, "/scratch/pos")
        self.assertGreater(len(arrivals), 200, "the position hardly changed")
        ages, late, wrong = [], [], []
        for arrival, value in arrivals:
            matched = truth.latest_match(value, arrival - MAX_AGE_SECONDS, arrival, AHEAD_SECONDS, BEHIND_SECONDS)
            if matched is not None:
                ages.append(arrival - matched)
                continue
            described = f"{value:.5f} at {arrival:.3f} s (record at {self.position_at(truth, arrival):.5f})"
            if truth.latest_match(value, arrival - STALL_SECONDS, arrival, AHEAD_SECONDS, BEHIND_SECONDS) is None:
                wrong.append(described)
            else:
                late.append(described)
        self.assertFalse(wrong, f"{len(wrong)} of {len(arrivals)} positions off the record: {wrong[:8]}")
        self.assertLessEqual(len(late), MAX_LATE_SHARE * len(arrivals),
                             f"{len(late)} of {len(arrivals)} positions stale: {late[:8]}")
        ages.sort()
        measured(f"position arrival after the record last stood within a frame of it: median "
                 f"{statistics.median(ages) * 1000:.1f} ms, 95% {ages[int(0.95 * len(ages))] * 1000:.1f} ms, "
                 f"max {ages[-1] * 1000:.1f} ms over {len(ages)} positions; {len(late)} later than "
                 f"{MAX_AGE_SECONDS * 1000:.0f} ms")

    @staticmethod
    def position_at(truth, time_s):
        index = min(range(len(truth.times)), key=lambda i: abs(truth.times[i] - time_s))
        return truth.positions[index]

    def check_speed(self, truth, messages):
        checked = {1.0: 0, 0.5: 0, -1.0: 0}
        wrong = []
        for arrival, address, value in messages:
            if address != "/scratch/speed":
                continue
            for speed in checked:
                if truth.speed_held(arrival - SPEED_SETTLE_SECONDS, arrival, speed):
                    checked[speed] += 1
                    if abs(value - 100 * speed) > SPEED_TOLERANCE_PERCENT:
                        wrong.append(f"{value:.2f} at {arrival:.3f} s, record at {speed}")
        self.assertFalse(wrong, f"{len(wrong)} speeds off: {wrong[:8]}")
        self.assertGreater(checked[1.0], 100)
        self.assertGreater(checked[0.5], 20)
        self.assertGreater(checked[-1.0], 20)

    def check_timecodes_per_second(self, truth, messages):
        # Setting the calibration value just before streaming restarts the count.
        counting = messages[0][0] + TPS_WINDOW_SECONDS
        at_nominal = [(arrival, value) for arrival, address, value in messages
                      if address == "/scratch/TPS" and arrival > counting
                      and truth.speed_held(arrival - TPS_WINDOW_SECONDS, arrival, 1.0)]
        self.assertGreater(len(at_nominal), 50)
        wrong = [f"{value:g} at {arrival:.3f} s" for arrival, value in at_nominal
                 if not TPS_RANGE[0] <= value <= TPS_RANGE[1]]
        self.assertFalse(wrong, f"{len(wrong)} counts off: {wrong[:8]}")

    def check_volume(self, messages):
        volumes = [value for _, address, value in messages if address == "/scratch/vol"]
        self.assertLess(max(volumes) - min(volumes), 1e-3, "the volume changed while the level did not")
        volume = volumes[-1]
        # The gain goes up in whole steps every 20 ms while the level read may be a block
        # old, so it can end a step or two above the first that passes the target.
        least_gain = math.floor(GAIN_TARGET_LEVEL / (self.LEVEL * FULL_SCALE)) + 1
        expected = [min(1.0, self.LEVEL * gain) for gain in range(least_gain, least_gain + 3)]
        self.assertTrue(any(abs(volume - e) < 2e-3 for e in expected), f"volume {volume} not one of {expected}")
        self.assertGreater(volume * FULL_SCALE, GAIN_TARGET_LEVEL)
        measured(f"volume {volume:.5f}: gain {round(volume / self.LEVEL)} on level {self.LEVEL}")

    def measure_jump_latency(self, messages):
        """The loop jumps from the end of the profile back to position 0."""
        after = [(arrival, value) for arrival, value in first_arrivals(messages, "/scratch/pos")
                 if arrival > self.LOOP_SECONDS and value < 1.0]
        self.assertTrue(after, "no position after the jump back to the start")
        # Samples enter JACK a period at a time, at the start of the cycle that carries them.
        entered = math.floor(self.LOOP_SECONDS / PERIOD_SECONDS) * PERIOD_SECONDS
        measured(f"jump back to the start: first new position {after[0][1]:.4f} arrived "
                 f"{(after[0][0] - entered) * 1000:.1f} ms after the sample entered JACK")
