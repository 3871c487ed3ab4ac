#!/bin/bash
# Fails when a Windows executable imports a DLL outside tools/allowed-imports.txt: the loader
# looks for any DLL that is not on the system's KnownDLLs list in the executable's own folder
# first, before any code of the program runs (the others are delay-loaded from the system
# directory). This also keeps out the mingw runtime (libstdc++, libgcc_s, libwinpthread).
# Usage: tools/check-imports.sh <exe> [<allowed list>]
set -euo pipefail
exe="$1"
allowed="${2:-$(dirname "$0")/allowed-imports.txt}"
# Only the ordinary import table: delay-loaded DLLs are listed in a table of their own.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" |
    awk '/^The Import Tables/ {on=1} /^The Delay Import Tables/ {on=0} on && /DLL Name:/ {print tolower($3)}' | sort -u)
echo "$exe imports:" $imports
bad=$(comm -23 <(echo "$imports") <(tr 'A-Z' 'a-z' <"$allowed" | sort -u))
if [[ -n "$bad" ]]; then
    echo "imports outside $allowed:" $bad >&2
    exit 1
fi
