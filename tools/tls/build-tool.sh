#!/bin/bash
# Builds one of the Windows helpers beside this script (trust_root or tls_probe) with mingw-w64,
# once per version of its sources, and prints the path of the executable. For use without the
# project's CMake build (which makes the same programs in build/<preset>/tls/).
#
#   build-tool.sh trust_root|tls_probe
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
src_dir="$(cd "$here/../../src" && pwd)"
case "${1:-}" in
    trust_root) libs=(-lcrypt32) ;;
    tls_probe) libs=(-lwinhttp -lsecur32 -lcrypt32 -lws2_32) ;;
    *) echo "usage: $0 trust_root|tls_probe" >&2; exit 2 ;;
esac
source="$here/$1.cpp"
version="$(cat "$source" "$src_dir/platform/crypt_handles.h" "$src_dir/platform/unique_handle.h" "$src_dir/platform/win32_types.h" "$src_dir/platform/winsock.h" "$0" | sha1sum | cut -c1-12)"
cache="${XDG_CACHE_HOME:-$HOME/.cache}/ostrevane/tls-tools"
exe="$cache/$1-$version.exe"
if [[ ! -f $exe ]]; then
    mkdir -p "$cache"
    # The project's flags (CMakeLists.txt, cmake/mingw-w64-x86_64.cmake).
    x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -Wextra -Wpedantic -Wshadow -Werror \
        -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00 \
        -I"$src_dir" -static -static-libgcc -static-libstdc++ -municode \
        -o "$exe.tmp.$$" "$source" "${libs[@]}"
    mv "$exe.tmp.$$" "$exe"   # atomic: a parallel build never sees half a file
    find "$cache" -maxdepth 1 -name "$1-*.exe" ! -name "${exe##*/}" -delete   # older versions
fi
echo "$exe"
