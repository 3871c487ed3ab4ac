#!/bin/bash
# Creates (once) and configures the Wine prefix that the tests and the demo use,
# then starts a persistent, warmed-up wineserver so each test run costs milliseconds.
# Usage: tools/wine-prefix.sh [--no-server]
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

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9

if [[ ! -f "$WINEPREFIX/.ostrevane-ready" ]]; then
    echo "wine-prefix: creating $WINEPREFIX"
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w
    # Chinese UI text: link the default UI font to a CJK font and make Uniscribe fall back to it.
    "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        /v 'DejaVu Sans' /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1 || true
    "$WINE" reg add 'HKCU\Software\Wine\Uniscribe\Fallback' \
        /v 696e6168 /t REG_SZ /d 'WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w
    if [[ ! -d "$WINEPREFIX/drive_c/windows" ]]; then
        echo "wine-prefix: wineboot did not create $WINEPREFIX" >&2
        exit 1
    fi
    touch "$WINEPREFIX/.ostrevane-ready"
fi
flock -u 9

if [[ "${1:-}" != "--no-server" ]]; then
    # A persistent server keeps Wine's helper processes from holding ctest's pipes open.
    ( setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1 & )
    "$WINE" cmd /c ver </dev/null >/dev/null 2>&1 || true
fi
