#!/bin/bash
# Builds the release of the shipped client from a clean clone and checks it:
# build/release/Ostrevane.Client-<version>-win64.zip (executable, WinDivert's notice, README,
# SHA256SUMS) and, beside the executable, its debug information (Ostrevane.Client.exe.debug).
# The same commit gives the same bytes wherever it is built. Extra arguments go to CMake, e.g.
#   tools/release.sh -DOSTREVANE_DEFAULT_SERVER_URL=http://control.example.com:8080
set -euo pipefail
cd "$(dirname "$0")/.."

export WINEPREFIX="${WINEPREFIX:-$HOME/.cache/ostrevane/wineprefix}"
trap '[[ -x /usr/lib/wine/wine64 ]] && tools/wine-prefix.sh --stop || true' EXIT

tools/setup.sh
# The commit time is the time of every file written; uncommitted changes would not be in it.
if [[ -n "$(git status --porcelain --untracked-files=no)" ]]; then
    echo "release: the tree has uncommitted changes; the release is built, but it is not the commit's" >&2
fi
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}"
# A fresh cache: the release is built from exactly the arguments given now.
cmake --preset release --fresh "$@"
cmake --build --preset release
tools/wine-prefix.sh
ctest --preset release

zip=$(ls build/release/Ostrevane.Client-*-win64.zip)
echo "release: $(pwd)/$zip"
sha256sum build/release/bin/Ostrevane.Client.exe "$zip"
