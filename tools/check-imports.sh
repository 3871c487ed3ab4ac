#!/bin/bash
# Fails when a Windows executable imports a DLL that a bare Windows does not have
# (for example the mingw runtime: libstdc++, libgcc_s, libwinpthread).
set -euo pipefail
exe="$1"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
echo "$exe imports:" $imports
bad=$(echo "$imports" | grep -E '^(lib|mingw|cyg)' || true)
if [[ -n "$bad" ]]; then
    echo "not self-contained, imports: $bad" >&2
    exit 1
fi
