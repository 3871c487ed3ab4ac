#!/bin/bash
# Creates (once) and configures the Wine prefix that the tests and the demo use,
# then starts a persistent, warmed-up wineserver so each test run costs milliseconds.
# Without $DISPLAY, Wine runs on the prefix's own Xvfb (tools/wine-display.sh).
# Usage: tools/wine-prefix.sh [--no-server | --stop]   (--stop ends the server and that Xvfb)
set -euo pipefail

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX="${WINEPREFIX:-$HOME/.cache/ostrevane/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [[ ! -x "$WINE" ]]; then
    echo "wine-prefix: $WINE is missing; run tools/setup.sh" >&2
    exit 127
fi

source "$(dirname "$0")/wine-display.sh"
if [[ "${1:-}" == "--stop" ]]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true
    wine_display_stop
    exit 0
fi
server=1
[[ "${1:-}" == "--no-server" ]] && server=0
# The display only when Wine runs here; one started just for a set-up without a server goes again.
if (( server )) || [[ ! -f "$WINEPREFIX/.ostrevane-ready" || ! -f "$WINEPREFIX/.ostrevane-fonts-2" ]]; then
    wine_display_ensure
    if (( ! server && WINE_DISPLAY_STARTED )); then
        trap 'timeout 120 "$WINESERVER" -w; wine_display_stop' EXIT
    fi
fi

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9

created=0
if [[ ! -f "$WINEPREFIX/.ostrevane-ready" ]]; then
    created=1
    echo "wine-prefix: creating $WINEPREFIX"
    timeout 300 "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
    timeout 120 "$WINESERVER" -w || true
    if [[ ! -d "$WINEPREFIX/drive_c/windows" ]]; then
        echo "wine-prefix: wineboot did not create $WINEPREFIX" >&2
        exit 1
    fi
    touch "$WINEPREFIX/.ostrevane-ready"
fi
# Chinese UI text: link the default UI font, regular and bold (the bold face needs its own link), to
# a CJK font and make Uniscribe fall back to it. The marker makes older prefixes catch up once.
if [[ ! -f "$WINEPREFIX/.ostrevane-fonts-2" ]]; then
    for face in 'DejaVu Sans' 'DejaVu Sans Bold'; do
        timeout 60 "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1 || true
    done
    timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Uniscribe\Fallback' \
        /v 696e6168 /t REG_SZ /d 'WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1 || true
    # A new prefix has no persistent server yet: wait until the registry is on disk.
    (( created )) && timeout 120 "$WINESERVER" -w
    touch "$WINEPREFIX/.ostrevane-fonts-2"
fi
flock -u 9

if (( server )); then
    # A persistent server keeps Wine's helper processes from holding ctest's pipes open.
    ( setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1 & )
    timeout 120 "$WINE" cmd /c ver </dev/null >/dev/null 2>&1 || true
fi
