#!/usr/bin/env bash
# Installs what building and testing Holwerk needs, from Debian's packages, and
# only what is missing. Usage: scripts/setup.sh [native|bench]
#   ("native": only what building and running the native program needs;
#    "bench": that and the benchmark's server and tools, which no test needs)
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev googletest python3 openssl curl
          util-linux time strace)
if [ "${1:-}" = bench ]; then
    packages+=(nginx wget aria2)
elif [ "${1:-}" != native ]; then
    packages+=(g++-mingw-w64-x86-64-posix wine wine64 icoutils)
    # The fuzz targets: clang with libFuzzer and the sanitizer runtimes.
    packages+=(clang libclang-rt-14-dev)
    # The format check: clang-format 14, the version .clang-format is kept for.
    packages+=(clang-format)
    # Release packages and their checks: the manual's renderings, CPack's
    # dependency search, lintian, hardening-check, Authenticode signing.
    release_packages=(groff-base man-db bsdextrautils gzip dpkg-dev lintian devscripts
                      osslsigncode unzip)
    # The MSI: wixl builds it from the WiX source; msitools' msibuild adds the
    # PATH entry, which wixl cannot express, and msiinfo and msiextract read it
    # back in the release tests; faketime holds the clock at SOURCE_DATE_EPOCH
    # for wixl, which stamps the summary with the current time; PyYAML reads
    # winget's manifests of the MSI in the release tests.
    release_packages+=(wixl msitools faketime python3-yaml)
fi

not_installed() {
    local package status
    for package in "$@"; do
        status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
        [ "$status" = "install ok installed" ] || echo "$package"
    done
}
mapfile -t missing < <(not_installed "${packages[@]}")
mapfile -t missing_release < <(not_installed ${release_packages[@]+"${release_packages[@]}"})
[ ${#missing[@]} -eq 0 ] && [ ${#missing_release[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]} ${missing_release[*]}"
"${sudo[@]}" apt-get update -q
# nginx's package starts a system service on port 80 when it is installed,
# which can fail the installation; the benchmark runs an nginx of its own.
# invoke-rc.d and deb-systemd-invoke ask this policy first (101: not now).
policy=/usr/sbin/policy-rc.d
if [ "${1:-}" = bench ] && [ ! -e "$policy" ]; then
    trap '"${sudo[@]}" rm -f "$policy"' EXIT
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
    "${sudo[@]}" chmod 755 "$policy"
fi
if [ ${#missing[@]} -gt 0 ]; then
    # With their recommended packages: Wine's TLS (GnuTLS) and Kerberos
    # libraries are only recommended, and WinINet needs the first for HTTPS.
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
fi
if [ ${#missing_release[@]} -gt 0 ]; then
    # Without them here: devscripts alone recommends a hundred packages that
    # hardening-check does not use.
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
        "${missing_release[@]}"
fi
