#!/bin/bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine.
# Idempotent: packages that are present are not touched; apt-get update runs at most once.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    cmake ninja-build
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    googletest
    wine64
    nodejs npm
    python3-aiohttp python3-pytest
    xvfb xdotool x11-apps imagemagick fonts-wqy-microhei
    iproute2 iputils-ping procps curl iperf3 openssl
    clang-14 libfuzzer-14-dev libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
# node and npm may come from outside Debian's packages; only install them when absent.
if command -v npm >/dev/null 2>&1; then
    filtered=()
    for p in "${missing[@]}"; do [[ "$p" == nodejs || "$p" == npm ]] || filtered+=("$p"); done
    missing=("${filtered[@]}")
fi
if (( ${#missing[@]} )); then
    echo "setup: installing ${missing[*]}"
    SUDO=""; [[ $(id -u) -eq 0 ]] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

tools/fetch-windivert.sh
tools/wine-prefix.sh --no-server
echo "setup: done"
