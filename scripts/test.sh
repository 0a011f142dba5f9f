#!/usr/bin/env bash
# Sets up what is missing, checks that the POSIX platform layer offers no more
# than the program uses, builds every preset and runs all tests: the native
# build, the Windows build under Wine, the native build under AddressSanitizer
# and UBSan, and a short bounded run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
status=0
echo "== platform surface"
python3 scripts/check_platform_surface.py || status=1
for preset in linux windows asan; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
done
for preset in linux windows asan; do
    echo "== ctest --preset $preset"
    ctest --preset "$preset" || status=1
done
echo "== fuzz (a short bounded run of every target)"
scripts/fuzz.sh 20 || status=1
exit $status
