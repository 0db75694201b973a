#!/usr/bin/env python3
"""Streams the whole chain for a long time and checks that it stays sound.

A JACK server with the dummy back end, platora-gen looping a Mixvibes record that plays
forward, stops, plays backwards and stops again, the console program answered through a
pseudo-terminal that this script reads all along (as a terminal's user would see it), and a
UDP receiver in this script. At the end it checks:
- datagrams came in every second from the start of streaming to its end, at a steady rate
  (every 10 s window within 20 % of the median, no silence longer than half a second);
- the program's private (anonymous) memory grew by less than 1 MB after the first minute (after the
  first tenth of a shorter run);
- every position sent was within one frame of where the generator's record stood;
- the speed sent was 0 whenever the record had stood still for long enough to tell.

usage: scripts/soak.py BUILD_DIR --minutes M [--start-lock FILE] [--workdir DIR]
Prints the figures; exit status 0 when every check held, 1 when one failed, 2 when the
chain could not start.
"""

import argparse
import array
import bisect
import contextlib
import fcntl
import math
import os
import socket
import statistics
import struct
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
from platora_harness import chain

try:
    from platora_harness import console
except ImportError:
    console = None  # told in soak()

# 5 s forward, a stop of 2 s, 3 s backwards, a stop of 2 s, with ramps between; then again.
PROFILE = "1:5,1->0:0.5,0:2,0->-1:0.5,-1:3,-1->0:0.5,0:2,0->1:0.5"
LEVEL = 0.5
RATE_WINDOW_SECONDS = 10
RATE_TOLERANCE = 0.2
LONGEST_SILENCE_SECONDS = 0.5
MEMORY_GROWTH_LIMIT_KB = 1024
MEMORY_SAMPLE_SECONDS = 5
TERMINAL_READ_SECONDS = 0.05
# Speed goes to 0 when no peak came for 50 ms, checked at the end of a 1024-frame block; the
# value sent may be up to a cycle old, and a loaded machine runs late.
STOP_SETTLE_SECONDS = 0.05 + chain.PERIOD_FRAMES / chain.SAMPLE_RATE_HZ + 0.1
RECEIVE_BUFFER_BYTES = 1 << 22
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)  # Linux
KERNEL_STAMP = struct.Struct("qq")  # struct timespec
# A value older than the usual age for this many position changes in a row means the
# generator's record fell behind the wall clock (it misses a JACK cycle at an xrun), not
# that the values went stale. Older than this counts towards such a run, so that a slip that
# leaves the ages on either side of the limit for stale values is still followed.
SLIP_RUN = 20
SLIP_SIGN_SECONDS = 0.05


def binaries(build_dir):
    return chain.built_programs(build_dir, ["platora", "platora-gen", "platora-onset-probe"], "soak")


def private_kb(pid):
    """The process's anonymous memory (heap, stacks; private to it), in kB. Not all its
    private pages: JACK's shared segments count as private while no other process touches
    them, which comes and goes."""
    with open(f"/proc/{pid}/smaps_rollup") as rollup:
        return next(int(line.split()[1]) for line in rollup if line.startswith("Anonymous:"))


def osc_float(datagram):
    """(address, value) of a one-float OSC message, or None."""
    end = datagram.find(b"\0")
    start = (end + 4) & ~3  # past the address's padding
    if end <= 0 or datagram[start:start + 4] != b",f\0\0" or len(datagram) != start + 8:
        return None
    return datagram[:end].decode(errors="replace"), struct.unpack(">f", datagram[start + 4:])[0]


class Record:
    """What came in, kept small enough for hours: every position change, every speed, the
    datagrams per second and the memory samples."""

    def __init__(self):
        self.position_times, self.positions = array.array("d"), array.array("d")
        self.speed_times, self.speeds = array.array("d"), array.array("d")
        self.per_second = {}
        self.longest_silence = 0.0
        self.last_arrival = None
        self.memory = []  # (seconds since streaming began, kB)

    def add(self, arrival, address, value):
        second = int(arrival)
        self.per_second[second] = self.per_second.get(second, 0) + 1
        if self.last_arrival is not None:
            self.longest_silence = max(self.longest_silence, arrival - self.last_arrival)
        self.last_arrival = arrival
        if address == "/scratch/pos" and (not self.positions or self.positions[-1] != value):
            self.position_times.append(arrival)
            self.positions.append(value)
        elif address == "/scratch/speed":
            self.speed_times.append(arrival)
            self.speeds.append(value)


def read_terminal(program):
    """Takes everything the program printed so far (into its console log): a terminal left
    unread would fill and could hold the program up."""
    try:
        while program.child.read_nonblocking(65536, timeout=0):
            pass
    except (console.pexpect.TIMEOUT, console.pexpect.EOF):
        pass


def receive(receiver, record, seconds, program, streaming_began):
    deadline = time.monotonic() + seconds
    next_sample = next_read = time.monotonic()
    receiver.settimeout(TERMINAL_READ_SECONDS)
    pid = program.child.pid
    while time.monotonic() < deadline:
        if time.monotonic() >= next_read:
            read_terminal(program)
            next_read = time.monotonic() + TERMINAL_READ_SECONDS
        if time.monotonic() >= next_sample:
            try:
                record.memory.append((time.time() - streaming_began, private_kb(pid)))
            except (OSError, StopIteration):  # the program has ended
                return
            next_sample += MEMORY_SAMPLE_SECONDS
        try:
            datagram, ancillary, _, _ = receiver.recvmsg(64, socket.CMSG_SPACE(KERNEL_STAMP.size))
        except socket.timeout:
            continue
        # The kernel's arrival time: this script may be scheduled late on a loaded machine.
        stamps = [data for level, kind, data in ancillary if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS]
        seconds_, nanoseconds = KERNEL_STAMP.unpack(stamps[0]) if stamps else (time.time(), 0)
        message = osc_float(datagram)
        if message:
            record.add(seconds_ + nanoseconds * 1e-9, *message)


def judge_positions_with_slips(truth, arrivals):
    """As Truth.judge_positions, on the generator's time: the wall clock less how far the
    record has fallen behind it. Returns ages, late, wrong and the slips as (arrival, total
    slip) from (0, 0) on."""
    slips = [(0.0, 0.0)]
    ages, late, wrong, run = [], [], [], []
    usual_age = truth.MAX_AGE_SECONDS / 10

    def age_of(arrival, value, window):
        t = arrival - slips[-1][1]
        matched = truth.latest_match(value, t - window, t + truth.ONSET_UNCERTAINTY_SECONDS, truth.AHEAD_SECONDS,
                                     truth.BEHIND_SECONDS)
        return None if matched is None else t - matched

    def settle(run):
        for a, v, age in run:
            if age <= truth.MAX_AGE_SECONDS:
                ages.append(age)
            else:
                late.append(f"{v:.5f} at {a:.3f} s")

    for arrival, value in arrivals:
        # Until one came on time, the record may have fallen behind by all the xruns since
        # play began: the chain starts while JACK is busiest.
        stall = truth.STALL_SECONDS if ages else max(truth.STALL_SECONDS, arrival + truth.ONSET_UNCERTAINTY_SECONDS)
        age = age_of(arrival, value, stall)
        if age is None:
            # Carried on past a loop's jump until the new place is confirmed: late, not wrong.
            (late if truth.overtaken(value, arrival - slips[-1][1]) else wrong).append(f"{value:.5f} at {arrival:.3f} s")
            continue
        if age <= SLIP_SIGN_SECONDS:
            ages.append(age)  # a little below 0: the measured onset is a little late
            settle(run)
            run = []
            continue
        run.append((arrival, value, age))
        if len(run) == SLIP_RUN:
            slip = min(a for _, _, a in run) - usual_age
            slips.append((run[0][0], slips[-1][1] + slip))
            ages.extend(a - slip for _, _, a in run)
            run = []
    settle(run)
    return ages, late, wrong, slips


def judge(record, truth, play_began, minutes, streaming):
    """Prints the figures; returns the failed checks. streaming: (began, ended), Unix seconds."""
    failed = []
    # Whole seconds inside the run: the first and the last may be partial.
    silent = [s for s in range(int(streaming[0]) + 1, int(streaming[1])) if s not in record.per_second]
    print(f"seconds without a datagram: {len(silent)}"
          + (f", the first {silent[0] - streaming[0]:.0f} s after streaming began" if silent else ""))
    if silent:
        failed.append("seconds without a datagram")
    seconds = sorted(record.per_second)[1:-1]  # the first and last are partial
    windows = [sum(record.per_second.get(s, 0) for s in range(start, start + RATE_WINDOW_SECONDS)) / RATE_WINDOW_SECONDS
               for start in range(seconds[0], seconds[-1] - RATE_WINDOW_SECONDS + 2, RATE_WINDOW_SECONDS)]
    median = statistics.median(windows)
    print(f"datagrams per second over {len(windows)} windows of {RATE_WINDOW_SECONDS} s: "
          f"min {min(windows):.1f}, median {median:.1f}, max {max(windows):.1f}; "
          f"longest silence {record.longest_silence * 1000:.0f} ms")
    if min(windows) < (1 - RATE_TOLERANCE) * median or max(windows) > (1 + RATE_TOLERANCE) * median:
        failed.append("datagram rate not steady")
    if record.longest_silence > LONGEST_SILENCE_SECONDS:
        failed.append("a silence in the datagrams")

    settled = min(60.0, minutes * 6.0)
    after = [kb for t, kb in record.memory if t >= settled]
    growth = after[-1] - after[0]
    print(f"private (anonymous) memory: {record.memory[0][1]} kB at start, {after[0]} kB after {settled:.0f} s, "
          f"{after[-1]} kB at the end (growth {growth} kB, peak {max(kb for _, kb in record.memory)} kB)")
    if growth >= MEMORY_GROWTH_LIMIT_KB:
        failed.append("private memory grew")

    # The program sends 0 until its first frame decodes.
    first = next((i for i, p in enumerate(record.positions) if p != 0.0), len(record.positions))
    arrivals = [(t - play_began, p) for t, p in zip(record.position_times[first:], record.positions[first:])]
    if not arrivals:
        return failed + ["no position decoded"]
    ages, late, wrong, slips = judge_positions_with_slips(truth, arrivals)
    ages = ages or [math.nan]  # none on time: the checks below fail
    print(f"positions: {len(arrivals)} changes, {len(wrong)} off the record, {len(late)} late "
          f"(older than {truth.MAX_AGE_SECONDS * 1000:.0f} ms); age median {statistics.median(ages) * 1000:.1f} ms, "
          f"max {max(ages) * 1000:.1f} ms; the record fell behind the wall clock {len(slips) - 1} times, "
          f"by {slips[-1][1] * 1000:.0f} ms in all")
    if wrong:
        print("  off the record: " + ", ".join(wrong[:8]))
        failed.append("positions off the record")
    if len(late) > 0.01 * len(arrivals):
        failed.append("more than 1 % of the positions late")

    def record_time(arrival):
        return arrival - play_began - slips[bisect.bisect_right(slips, (arrival - play_began, math.inf)) - 1][1]

    stopped = [(t, v) for t, v in zip(record.speed_times, record.speeds)
               if truth.speed_held(record_time(t) - STOP_SETTLE_SECONDS, record_time(t), 0.0)]
    moving = [v for t, v in stopped if v != 0.0]
    print(f"speed while stopped: {len(stopped)} values, {len(moving)} not 0"
          + (f" (e.g. {', '.join(f'{v:.1f}' for v in moving[:5])})" if moving else ""))
    if not stopped or moving:
        failed.append("speed not 0 during the stops")
    return failed


def soak(paths, minutes, workdir, start_lock):
    if console is None:
        sys.exit("soak: needs pexpect (Debian package python3-pexpect; scripts/install-deps.sh)")
    player = f"platora-soak-{os.getpid()}"
    parts = chain.Chain()
    program = None
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, RECEIVE_BUFFER_BYTES)
    receiver.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    receiver.bind(("127.0.0.1", 0))
    record = Record()
    try:
        # JACK names a client's socket after the client alone, and the program's client names
        # are fixed: while they open, no other run may open the same names.
        with open(start_lock, "a") if start_lock else contextlib.nullcontext() as lock:
            if lock:
                fcntl.flock(lock, fcntl.LOCK_EX)
            server = parts.add(chain.JackServer(workdir)).start()
            generator = parts.add(chain.Generator(paths["platora-gen"], server, workdir, client=player, vinyl=1,
                                                  profile=PROFILE, loop=True, level=LEVEL,
                                                  manifest_base=os.path.join(workdir, "truth"))).start()
            play_began = parts.add(chain.OnsetProbe(paths["platora-onset-probe"], server, workdir,
                                                    generator.timecode_ports(), client=player + "-probe")).start()
            program = console.Console(paths["platora"], server.client_env(), workdir,
                                      os.path.join(workdir, "console.log"))
            console.dialogue_to_streaming(program, player, vinyl=console.MIXVIBES,
                                          port=receiver.getsockname()[1])
        streaming_began = time.time()
        print(f"streaming for {minutes:g} min; parts and logs in {workdir}", flush=True)
        receive(receiver, record, minutes * 60.0, program, streaming_began)
        streaming_ended = time.time()
        if not program.child.isalive():
            raise chain.ChainError("platora ended during the soak; see console.log")
        program.interrupt()
        code, killed = program.wait_for_exit(timeout=5)
        if generator.stop() != 0:
            print("soak: platora-gen did not end cleanly; see its log", file=sys.stderr)
            return 2
        truth = chain.Truth(generator.read_manifest())
    except (chain.ChainError, console.pexpect.ExceptionPexpect) as error:
        print(f"soak: {error}", file=sys.stderr)
        return 2
    finally:
        if program is not None:
            program.close()
        parts.stop()
        receiver.close()
    failed = judge(record, truth, play_began, minutes, (streaming_began, streaming_ended))
    if code != 0 or killed is not None:
        failed.append(f"platora ended with {'signal ' + str(killed) if killed else 'status ' + str(code)}")
    print("soak: " + ("; ".join(failed) if failed else "every check held"))
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description="Streams the whole chain for a long time and checks it.")
    parser.add_argument("build_dir")
    parser.add_argument("--minutes", type=float, default=60.0)
    parser.add_argument("--start-lock", help="a file to hold locked while the parts start")
    parser.add_argument("--workdir", help="where the parts' logs go (default: a new temporary directory)")
    args = parser.parse_args()
    if not args.minutes > 0:
        parser.error("--minutes must be above 0")
    if chain.jackd_path() is None:
        sys.exit("soak: needs jackd (Debian package jackd2; scripts/install-deps.sh)")
    workdir = args.workdir or tempfile.mkdtemp(prefix="platora-soak-")
    os.makedirs(workdir, exist_ok=True)
    return soak(binaries(os.path.abspath(args.build_dir)), args.minutes, workdir, args.start_lock)


if __name__ == "__main__":
    sys.exit(main())
