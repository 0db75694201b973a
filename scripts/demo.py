#!/usr/bin/env python3
"""Platora without a turntable.

Starts a JACK server with the dummy back end, platora-gen playing a Mixvibes record into it
(forward, a slow-down, a short reverse, over and over), platora streaming from it with a
command line, and platora-monitor in the foreground showing the OSC values as they arrive.
Ctrl-C stops everything: the monitor, then platora (SIGINT ends its streaming), then the
generator and the server.

usage: scripts/demo.py BUILD_DIR [--port PORT]
"""

import argparse
import os
import signal
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
from platora_harness import chain

# 6 s forward, slowing to half speed, 1.5 s backwards, back to forward; then from the start.
PROFILE = "1:6,1->0.5:1,0.5:1,0.5->-1:0.5,-1:1.5,-1->1:0.5,1:1.5"
PLAYER = "platora-turntable"  # no other JACK port name contains it
LEVEL = 0.5


def binaries(build_dir):
    return chain.built_programs(build_dir, ["platora", "platora-gen", "platora-monitor"], "demo")


def run(paths, port, workdir):
    if chain.jackd_path() is None:
        sys.exit("demo: needs jackd (Debian package jackd2; scripts/install-deps.sh)")

    parts = chain.Chain()
    program = None
    status = 1
    try:
        server = parts.add(chain.JackServer(workdir)).start()
        print(f"JACK server '{server.server_name}' (dummy back end, 44100 Hz) is running.")
        parts.add(chain.Generator(paths["platora-gen"], server, workdir, client=PLAYER, vinyl=1,
                                  profile=PROFILE, loop=True, level=LEVEL)).start()
        print(f"platora-gen plays a Mixvibes record as JACK client '{PLAYER}': {PROFILE}, looped.")
        args = ["--deck", f"0:mixvibes:{port}"]
        program = chain.Platora(paths["platora"], server, workdir, PLAYER, args)
        print(f"platora --device {PLAYER} {' '.join(args)}; its output goes to {program.log_path}")
        program.start()
        print(f"platora streams OSC to 127.0.0.1:{port}. Ctrl-C stops the demonstration.\n")
        sys.stdout.flush()
        monitor = subprocess.Popen([paths["platora-monitor"], str(port)])
        try:
            status = monitor.wait()
        except KeyboardInterrupt:
            status = 0
        finally:
            # Only the monitor and this script share the terminal's Ctrl-C.
            signal.signal(signal.SIGINT, signal.SIG_IGN)
            if monitor.poll() is None:
                monitor.send_signal(signal.SIGINT)
            monitor.wait()
    except KeyboardInterrupt:
        status = 0
    except chain.ChainError as error:
        print(f"\ndemo: {error}", file=sys.stderr)
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        print()
        if program is not None and program.running():
            code = program.stop()
            print(f"platora ended with status {code}." if code is not None and code >= 0
                  else f"platora ended by signal {-code}.")
            if code != 0:
                status = 1
        parts.stop()
        print("Generator and JACK server stopped.")
    return status


def main():
    parser = argparse.ArgumentParser(description="Platora without a turntable.")
    parser.add_argument("build_dir")
    parser.add_argument("--port", type=int, default=44444, help="OSC port (default 44444)")
    args = parser.parse_args()
    paths = binaries(os.path.abspath(args.build_dir))
    workdir = tempfile.mkdtemp(prefix="platora-demo-")
    return run(paths, args.port, workdir)


if __name__ == "__main__":
    sys.exit(main())
