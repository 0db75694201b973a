#!/bin/sh
# Platora without a turntable: tools/demo.sh BUILD_DIR [--port PORT]. See tools/demo.py.
set -eu
exec python3 "$(dirname "$0")/demo.py" "$@"
