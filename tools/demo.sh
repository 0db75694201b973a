#!/bin/sh
# Platora without a turntable: tools/demo.sh BUILD_DIR [--port PORT]. See tools/demo.py.
set -eu
# Debian's interpreter, as the tests use.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
exec "$python" "$(dirname "$0")/demo.py" "$@"
