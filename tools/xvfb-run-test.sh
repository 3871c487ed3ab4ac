#!/bin/bash
# Runs a command with an X display: the current one, or a private Xvfb that is stopped afterwards.
set -uo pipefail
if [[ -n "${DISPLAY:-}" ]]; then
    exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1600x1000x24" "$@"
