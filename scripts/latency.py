#!/usr/bin/env python3
"""usage: bench/latency.py BUILD_DIR [CYCLES (0.45 s, one event of each kind, each; default 202)]
Latency from signal to datagram on the JACK dummy server for each buffer size and send mode."""

import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
from platora_harness import chain

CLIENT = "platora-latency-probe"


def measure(build, buffer, send, cycles, workdir, extra=()):
    parts = chain.Chain()
    try:
        server = parts.add(chain.JackServer(workdir, period_frames=buffer)).start()
        probe = subprocess.Popen([os.path.join(build, "harness", "latency", CLIENT), CLIENT, str(cycles)], text=True,
                                 stdout=subprocess.PIPE, env=server.client_env())
        port = probe.stdout.readline().split()[-1]
        parts.add(chain.Platora(os.path.join(build, "app", "platora"), server, workdir, CLIENT,
                                ["--deck", f"0:mixvibes:{port}", "--buffer", str(buffer), "--send", send, "--quiet", *extra])).start()
        return probe.communicate(timeout=cycles + 30)[0].split()[1::2]
    finally:
        parts.stop()


if __name__ == "__main__":
    build, cycles = os.path.abspath(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else 202
    print(f"{cycles - 2} events of each kind; ms from the earliest moment a decoder can know to the datagram")
    print("| buffer | send | pipeline median | pipeline p99 | position median | position p99 | position off the record "
          "(median) | missed |\n|---|---|---|---|---|---|---|---|")
    for buffer, send, *extra in [(b, s) for b in (64, 128, 256, 1024) for s in ("poll", "block")] + [
            (64, "block", "--interpolate"), (1024, "block", "--interpolate"), (64, "block", "--decoding", "faithful")]:
        row = measure(build, buffer, send, cycles, tempfile.mkdtemp(prefix="platora-latency-"), extra)
        print(f"| {buffer} | {send} {' '.join(extra)} | " + " | ".join(row) + " |", flush=True)
