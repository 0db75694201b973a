#!/usr/bin/env python3
"""usage: run_e2e.py --platora P --gen G --probe R --monitor M --demo D --alsa-devices A TEST...
TEST names a unittest case such as test_streaming.MixvibesStreaming. Exit status 0 when all
passed, 1 on a failure, 77 (ctest's SKIP_RETURN_CODE) when every test skipped."""

import argparse
import os
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree


def main():
    parser = argparse.ArgumentParser()
    for name in ("platora", "gen", "probe", "monitor", "demo", "alsa-devices"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("tests", nargs="+")
    args = parser.parse_args()
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from platora_harness import e2e as e2e_support
    e2e_support.BINARIES.update({"platora": args.platora, "platora-gen": args.gen, "platora-onset-probe": args.probe,
                                 "platora-monitor": args.monitor, "demo": args.demo,
                                 "alsa-devices": args.alsa_devices})
    result = unittest.TextTestRunner(verbosity=2).run(unittest.defaultTestLoader.loadTestsFromNames(args.tests))
    if not result.wasSuccessful():
        return 1
    return 77 if result.testsRun > 0 and len(result.skipped) == result.testsRun else 0


if __name__ == "__main__":
    sys.exit(main())
