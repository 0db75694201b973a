"""Drives the real Platora programs from outside, for the tests, the demo, the soak and the
latency measurement: the chain of parts (servers, players, the program, OSC receivers) and the
program's console. Found through PYTHONPATH=harness (the scripts and ctest set it)."""
