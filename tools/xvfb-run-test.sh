#!/bin/bash
# Runs a command that shows windows under Wine: on the current display, or on the Wine prefix's
# own Xvfb when there is none (the display Wine's desktop of that prefix was started with).
set -uo pipefail
export WINEPREFIX="${WINEPREFIX:-$HOME/.cache/ostrevane/wineprefix}"
source "$(dirname "$0")/wine-display.sh"
wine_display_ensure || exit 127
exec "$@"
