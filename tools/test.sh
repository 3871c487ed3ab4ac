#!/bin/bash
# The whole test suite from a clean clone: installs what is missing, builds for Windows,
# runs every test executable under Wine (ctest) and the Python tests of the tools.
set -euo pipefail
cd "$(dirname "$0")/.."

export WINEPREFIX="${WINEPREFIX:-$HOME/.cache/ostrevane/wineprefix}"
# The build already runs test programs under Wine (test discovery): from here on, whatever Wine
# server and display this run starts, it also ends.
trap '[[ -x /usr/lib/wine/wine64 ]] && tools/wine-prefix.sh --stop || true' EXIT

tools/setup.sh
cmake --preset windows
cmake --build --preset windows
tools/wine-prefix.sh

status=0
ctest --preset windows || status=1

# The release archive, built and checked as tools/release.sh builds it.
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}"
{ cmake --preset release && cmake --build --preset release && ctest --preset release; } || status=1

python_tests=$(find tools -path '*/tests/test_*.py' -print -quit)
if [[ -n "$python_tests" ]]; then
    /usr/bin/python3 -m pytest -q -p no:cacheprovider tools || status=1
fi

# Real traffic through the client under Wine between two network namespaces (root only; skipped otherwise).
tools/e2e/run.sh || status=1

# Every reader of outside bytes, fuzzed natively with sanitizers for a bounded time each.
tools/fuzz/run.sh --seconds 20 || status=1

if (( status )); then
    echo "test: FAILED" >&2
else
    echo "test: all passed"
fi
exit $status
