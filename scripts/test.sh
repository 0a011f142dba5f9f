#!/usr/bin/env bash
# Sets up what is missing, builds every preset and runs all tests: the native
# build, the Windows build under Wine, the native build under AddressSanitizer
# and UBSan, the release packages (reproducible, and as a user receives them)
# and a short bounded run of the fuzz program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
status=0
# Each workflow configures, builds (warnings are errors) and runs ctest, which
# also checks the formatting and that the POSIX layer offers no more than the
# program uses.
for preset in linux windows asan; do
    echo "== workflow $preset"
    cmake --workflow --preset "$preset" || status=1
done
echo "== release packages, made twice more from fresh clones to prove them reproducible"
scripts/release.sh --check || status=1
if [ -f dist/SHA256SUMS ]; then
    echo "== the packages as a user receives them, and signed"
    (cd tests/release && python3 -m unittest -v test_packages) || status=1
fi
echo "== fuzz (a short bounded run)"
scripts/fuzz.sh 20 || status=1
exit $status
