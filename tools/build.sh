#!/bin/bash
# Builds the Windows executable (build/windows/bin/Ostrevane.Client.exe) from a clean clone.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset windows
cmake --build --preset windows --target Ostrevane.Client
echo "build: $(pwd)/build/windows/bin/Ostrevane.Client.exe"
