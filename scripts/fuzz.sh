#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for a bounded time over a
# copy of its committed seed corpus:
#   scripts/fuzz.sh [SECONDS [TARGET...]]     (default: 20 seconds, every target)
# A crash, a leak, a broken invariant or an input slower than 10 s fails the
# run; the input that did it is kept in build/fuzz/artifacts/. New inputs that
# the run finds stay in the copy under build/fuzz/corpus-run/, not in fuzz/corpus/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
shift || true

cmake --preset fuzz -S "$root" >/dev/null
# Quiet unless the build fails (a warning is an error there, too).
if ! cmake --build "$root/build/fuzz" -j2 >"$root/build/fuzz/build.log" 2>&1; then
    tail -n 60 "$root/build/fuzz/build.log"
    exit 1
fi

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for folder in "$root"/fuzz/corpus/*/; do
        targets+=("$(basename "$folder")")
    done
fi

artifacts="$root/build/fuzz/artifacts"
mkdir -p "$artifacts"
status=0
for target in "${targets[@]}"; do
    program="$root/build/fuzz/fuzz/fuzz_$target"
    corpus="$root/build/fuzz/corpus-run/$target"
    rm -rf "$corpus"
    mkdir -p "$corpus"
    cp "$root/fuzz/corpus/$target/"* "$corpus/"
    log="$root/build/fuzz/$target.log"
    echo "== fuzz $target for ${seconds}s"
    if "$program" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" >"$log" 2>&1; then
        grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|DONE' "$log" || true
    else
        echo "fuzz $target FAILED; the last lines of $log:"
        tail -n 40 "$log"
        status=1
    fi
done
exit $status
