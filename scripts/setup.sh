#!/usr/bin/env bash
# Installs what building and testing Holwerk needs, from Debian's packages, and
# only what is missing. Usage: scripts/setup.sh [native]
#   ("native": only what building and running the native program needs)
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev googletest python3 openssl curl
          util-linux time strace)
if [ "${1:-}" != native ]; then
    packages+=(g++-mingw-w64-x86-64-posix wine wine64 icoutils)
    # The fuzz targets: clang with libFuzzer and the sanitizer runtimes.
    packages+=(clang libclang-rt-14-dev)
fi

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
# With their recommended packages: Wine's TLS (GnuTLS) and Kerberos libraries
# are only recommended, and WinINet needs the first for HTTPS.
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
