#!/bin/sh
# Platora without a turntable: scripts/demo.sh BUILD_DIR [--port PORT]. See scripts/demo.py.
set -eu
# Debian's interpreter, as the tests use.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
PYTHONPATH="$(cd "$(dirname "$0")/../harness" && pwd)${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONPATH
exec "$python" "$(dirname "$0")/demo.py" "$@"
