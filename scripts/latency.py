#!/usr/bin/env python3
"""usage: scripts/latency.py BUILD_DIR [CYCLES (0.45 s, one event of each kind, each; default 202)]
Latency from the signal to the datagram on the JACK dummy server, for each buffer size, send mode
and capture path: the program's own JACK client, or RtAudio's JACK stream (kept reachable through
the environment variable that CaptureController names)."""

import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
from platora_harness import chain

CLIENT = "platora-latency-probe"
THROUGH_RTAUDIO = "PLATORA_JACK_THROUGH_RTAUDIO"
ROWS = [(b, path, "block") for b in (64, 256, 1024) for path in ("own", "RtAudio")] + [
    (64, "own", "poll"), (1024, "own", "poll"), (64, "own", "block", "--interpolate"),
    (1024, "own", "block", "--interpolate")]


def measure(build, buffer, path, send, cycles, workdir, extra=()):
    parts = chain.Chain()
    try:
        server = parts.add(chain.JackServer(workdir, period_frames=buffer)).start()
        probe = subprocess.Popen([os.path.join(build, "harness", "latency", CLIENT), CLIENT, str(cycles)], text=True,
                                 stdout=subprocess.PIPE, env=server.client_env())
        port = probe.stdout.readline().split()[-1]
        program = chain.Platora(os.path.join(build, "app", "platora"), server, workdir, CLIENT,
                                ["--deck", f"0:mixvibes:{port}", "--buffer", str(buffer), "--send", send, "--quiet",
                                 *extra])
        if path == "RtAudio":
            program.extra_env = {THROUGH_RTAUDIO: "1"}
        parts.add(program).start()
        return probe.communicate(timeout=cycles + 30)[0].split()[1::2]
    finally:
        parts.stop()


if __name__ == "__main__":
    build, cycles = os.path.abspath(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else 202
    print(f"{cycles - 2} events of each kind, ms: from the cycle that carries the onset to the ports (port), from when "
          "the record played it (played), from when the first whole frame after a jump was played (position)")
    print("| buffer | capture | send | port median | port p99 | played median | played p99 | position median | "
          "position p99 | position off the record (median) | missed |\n|---|---|---|---|---|---|---|---|---|---|---|")
    for buffer, path, send, *extra in ROWS:
        row = measure(build, buffer, path, send, cycles, tempfile.mkdtemp(prefix="platora-latency-"), extra)
        print(f"| {buffer} | {path} | {send} {' '.join(extra)} | " + " | ".join(row) + " |", flush=True)
