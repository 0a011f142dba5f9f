#!/usr/bin/env bash
# Fails when a committed C++ source of the program, its tests or its fuzz
# targets is not formatted as .clang-format says; lists those files. The
# version is pinned: another clang-format may format the same code otherwise.
#   scripts/check_format.sh          (check)
#   scripts/check_format.sh --fix    (reformat them in place)
set -euo pipefail
cd "$(dirname "$0")/.."
format=clang-format-14
command -v "$format" >/dev/null || { echo "$format is missing (scripts/setup.sh installs it)"; exit 1; }
mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' \
                                     'fuzz/*.cpp' 'fuzz/*.h')
if [ "${1:-}" = --fix ]; then
    "$format" -i "${files[@]}"
    exit 0
fi
status=0
for file in "${files[@]}"; do
    if ! "$format" --dry-run --Werror "$file" >/dev/null 2>&1; then
        echo "not formatted: $file (scripts/check_format.sh --fix)"
        status=1
    fi
done
exit $status
