#!/usr/bin/env bash
# Builds the fuzz preset and runs the fuzz program, which feeds every parser
# of outside input, for a bounded time over a copy of the seed corpus:
#   scripts/fuzz.sh [SECONDS]     (default: 20 seconds)
# A crash, a leak, a broken invariant or an input slower than 10 s fails the
# run; the input that did it is kept in build/fuzz/artifacts/. New inputs that
# the run finds stay in the copy under build/fuzz/corpus-run/, not in fuzz/corpus/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}

cmake --preset fuzz -S "$root" >/dev/null
# Quiet unless the build fails (a warning is an error there, too).
if ! cmake --build "$root/build/fuzz" -j2 >"$root/build/fuzz/build.log" 2>&1; then
    tail -n 60 "$root/build/fuzz/build.log"
    exit 1
fi

artifacts="$root/build/fuzz/artifacts"
corpus="$root/build/fuzz/corpus-run"
log="$root/build/fuzz/fuzz.log"
mkdir -p "$artifacts"
rm -rf "$corpus"
mkdir -p "$corpus"
cp "$root/fuzz/corpus/"* "$corpus/"
echo "== fuzz for ${seconds}s"
if "$root/build/fuzz/fuzz/holwerk_fuzz" "$corpus" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1; then
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|DONE' "$log" || true
else
    echo "fuzz FAILED; the last lines of $log:"
    tail -n 40 "$log"
    exit 1
fi
