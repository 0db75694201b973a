#!/usr/bin/env python3
"""Measures how the two decoding modes track degraded signals on records of several depths.

Generates 60 s signals with platora-gen (at nominal speed and on a varied profile) at each
depth (the high level over the low one; FROM->TO drifts over the signal), decodes them with
platora-decode in both modes at its default calibration (the shift-register formats, serato-a
and the others, decode in robust mode only, so they get a table of their own) and prints a
table per depth with, per condition and format:
  OK     blocks whose position is within one frame of the record
  WRONG  blocks whose freshly read position is more than 0.1 s off (the track would jump)
  STALE  blocks more than 0.1 s off whose age says 250 ms or less (robust only)
counting blocks after the first second. A measurement, not a test: it prints, it never fails.
"""
import argparse
import bisect
import csv
import os
import subprocess
import sys
import tempfile

from platora_harness.chain import built_programs

SAMPLE_RATE = 44100
BLOCK_FRAMES = 1024
SECONDS = 60
SETTLE_SECONDS = 1.0
FAR_SECONDS = 0.1
HONEST_AGE_MS = 250
FRAME_SECONDS = {"mixvibes": 0.0073333, "finalscratch": 32 / 4800}
# A peak is found only once the signal has turned away from it, so a position just read
# may lag by up to one carrier cycle on top of its frame.
CYCLE_SECONDS = {"mixvibes": 1 / 3000, "finalscratch": 1 / 1200}
# Every cycle of these is a frame: the position is that of the last bit peak read.
SHIFT_REGISTER_CARRIERS = {"serato-a": 1000, "serato-b": 1000, "serato-cd": 1000, "traktor-a": 2000,
                           "traktor-b": 2000, "mixvibes-v2": 1300, "mixvibes-7inch": 1300, "pioneer-a": 1000,
                           "pioneer-b": 1000}
for _name, _hz in SHIFT_REGISTER_CARRIERS.items():
    FRAME_SECONDS[_name] = CYCLE_SECONDS[_name] = 1 / _hz
START_SECONDS = 100.0
VARIED = "1:4,1->1.5:4,1.5:8,1.5->0.7:6,0.7:8,0.7->1.2:4,1.2:10,1.2->1:3,1"
DEPTHS = "3,2,1.5,1.25,1.12"
WORN = ["--snr", "30", "--hum", "-26", "--clicks", "3", "--lowpass", "6000"]

CONDITIONS = [
    ("clean", []),
    ("noise 30 dB", ["--snr", "30"]),
    ("noise 26 dB", ["--snr", "26"]),
    ("noise 23 dB", ["--snr", "23"]),
    ("noise 20 dB", ["--snr", "20"]),
    ("noise 15 dB", ["--snr", "15"]),
    ("clicks 10/s at 0.5", ["--clicks", "10:0.5"]),
    ("clicks 5/s at 0.5", ["--clicks", "5:0.5"]),
    ("clicks 2/s at 0.5", ["--clicks", "2:0.5"]),
    ("hum -10 dB", ["--hum", "-10"]),
    ("low-pass 4 kHz", ["--lowpass", "4000"]),
    ("low-pass 2 kHz", ["--lowpass", "2000"]),
    ("imbalance 0.5", ["--imbalance", "0.5"]),
    ("DC 0.2", ["--dc", "0.2"]),
    ("one channel 2 samples late", ["--delay", "2"]),
    ("level 1/10", ["--level", "0.08"]),
    ("worn record", WORN),
]


def read_truth(manifest):
    times, positions = [], []
    with open(manifest) as f:
        for row in csv.DictReader(f):
            times.append(float(row["time_s"]))
            positions.append(float(row["position_s"]))
    return times, positions


def truth_at(truth, t):
    times, positions = truth
    i = min(max(bisect.bisect_left(times, t), 1), len(times) - 1)
    t0, t1 = times[i - 1], times[i]
    return positions[i - 1] + (positions[i] - positions[i - 1]) * (t - t0) / (t1 - t0)


def score(decoded, truth, frame_seconds):
    ok = wrong = stale = counted = 0
    previous = None
    with open(decoded) as f:
        for row in csv.DictReader(f):
            block = int(row["block"])
            position = float(row["position"])
            t = (block + 1) * BLOCK_FRAMES / SAMPLE_RATE
            moved = previous is not None and position != previous
            previous = position
            if t < SETTLE_SECONDS:
                continue
            counted += 1
            off = abs(position - truth_at(truth, t))
            age = float(row["age"]) if "age" in row else None
            fresh = (0 <= age < 1000.0 * BLOCK_FRAMES / SAMPLE_RATE) if age is not None else (
                moved and int(row["tps"]) > 0)
            ok += off <= frame_seconds
            wrong += fresh and off > FAR_SECONDS
            stale += age is not None and 0 <= age <= HONEST_AGE_MS and off > FAR_SECONDS
    return ok, wrong, stale, counted


def run(args, **kwargs):
    subprocess.run(args, check=True, stdout=kwargs.get("stdout", subprocess.DEVNULL))


def measure(gen, decode, work, vinyl, degradation, modes, depth, calibration):
    """[OK, WRONG, STALE, counted] per mode, over both profiles."""
    totals = {m: [0, 0, 0, 0] for m in modes}
    for profile in ("1", VARIED):
        base = os.path.join(work, "signal")
        run([gen, base, "-t", vinyl, "-s", str(START_SECONDS), "-l", str(SECONDS), "-p", profile,
             "--depth", depth, *degradation])
        truth = read_truth(base + ".manifest.csv")
        for mode in modes:
            decoded = os.path.join(work, "decoded.csv")
            table = ["--table", base + ".table"] if vinyl == "finalscratch" else []
            with open(decoded, "w") as out:
                run([decode, base + ".wav", "--vinyl", vinyl, "--decoding", mode, *table, *calibration], stdout=out)
            figures = score(decoded, truth, FRAME_SECONDS[vinyl] + CYCLE_SECONDS[vinyl])
            totals[mode] = [a + b for a, b in zip(totals[mode], figures)]
    return totals


def cell(figures, mode):
    ok, wrong, stale, counted = figures
    stale_text = str(stale) if mode == "robust" else "-"
    return f"{100.0 * ok / counted:.1f} % / {wrong} / {stale_text}"


def table(gen, decode, work, formats, modes, only, depth, calibration):
    print("| condition | " + " | ".join(f"{v} {m} OK / WRONG / STALE" for v in formats for m in modes) + " |")
    print("|---" * (1 + len(modes) * len(formats)) + "|")
    for name, degradation in CONDITIONS:
        if only and only not in name:
            continue
        cells = []
        for vinyl in formats:
            totals = measure(gen, decode, work, vinyl, degradation, modes, depth, calibration)
            cells += [cell(totals[mode], mode) for mode in modes]
        print(f"| {name} | " + " | ".join(cells) + " |", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", help="build directory holding platora-gen and platora-decode")
    parser.add_argument("--only", help="conditions whose name contains this")
    parser.add_argument("--depths", default=DEPTHS, help=f"comma-separated depths (default {DEPTHS})")
    parser.add_argument("--modes", default="faithful,robust", help="comma-separated decoding modes")
    parser.add_argument("--calibration", help="decode with this calibration instead of the default")
    parser.add_argument("--formats", help="comma-separated formats to measure (default: all)")
    options = parser.parse_args()
    programs = built_programs(options.build, ["platora-gen", "platora-decode"], "robustness")
    gen, decode = programs["platora-gen"], programs["platora-decode"]
    modes = options.modes.split(",")
    calibration = ["--calibration", options.calibration] if options.calibration else []
    chosen = options.formats.split(",") if options.formats else list(FRAME_SECONDS)
    unknown = [f for f in chosen if f not in FRAME_SECONDS]
    if unknown:
        parser.error("unknown format " + ", ".join(unknown))
    framed = [f for f in chosen if f not in SHIFT_REGISTER_CARRIERS]
    shift_register = [f for f in chosen if f in SHIFT_REGISTER_CARRIERS]
    with tempfile.TemporaryDirectory(prefix="platora-robustness-") as work:
        for depth in options.depths.split(","):
            print(f"\nDepth {depth}:\n")
            if framed:
                table(gen, decode, work, framed, modes, options.only, depth, calibration)
            if shift_register and "robust" in modes:
                if framed:
                    print()
                table(gen, decode, work, shift_register, ["robust"], options.only, depth, calibration)


if __name__ == "__main__":
    sys.exit(main())
