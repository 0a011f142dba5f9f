#!/usr/bin/env bash
# Sets up what is missing, builds the native program and runs one download:
#   scripts/download.sh [Optionen] URL [Datei]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" native >&2
cmake --preset linux -S "$root" >/dev/null
cmake --build "$root/build/linux" --target holwerk >/dev/null
exec "$root/build/linux/holwerk" "$@"
