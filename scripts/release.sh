#!/usr/bin/env bash
# Builds the release packages into dist/, reproducibly to the byte:
#   scripts/release.sh                 the MSI and the ZIP for Windows, the Debian
#                                      package, the tarball and SHA256SUMS over
#                                      the four; winget's manifests of the MSI in
#                                      winget/
#   scripts/release.sh --check         the same, then twice more from fresh clones
#                                      of the last commit in two other folders;
#                                      fails unless all sums agree
#   scripts/release.sh --sign CERT KEY signs holwerk.exe (Authenticode, PEM
#                                      certificate and key) before it is zipped
#                                      and put into the MSI, then the MSI
# Every time stamp is the last commit's (SOURCE_DATE_EPOCH). The packages come
# from the linux and windows presets, the trees the tests run against.
# HOLWERK_DIST names another folder for them than dist/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$(realpath -m "${HOLWERK_DIST:-$root/dist}")
cd "$root"

check=false
sign_cert=
sign_key=
case "${1:-}" in
    "") ;;
    --check) check=true ;;
    --sign)
        [ $# -eq 3 ] || { echo "usage: scripts/release.sh --sign CERT KEY" >&2; exit 2; }
        sign_cert=$(realpath "$2")
        sign_key=$(realpath "$3")
        ;;
    *) echo "usage: scripts/release.sh [--check | --sign CERT KEY]" >&2; exit 2 ;;
esac

scripts/setup.sh
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export TZ=UTC LC_ALL=C.UTF-8
umask 022
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "Note: the work tree differs from the last commit, and so will the packages." >&2
fi

# A WiX source that another version left would be taken too.
rm -rf build/windows/installer
for preset in linux windows; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target holwerk_shipped
    rm -rf "build/$preset/packages"
    (cd "build/$preset" && cpack >/dev/null)
done

mkdir -p "$dist"
rm -f "$dist/SHA256SUMS" "$dist"/holwerk[-_]*.zip "$dist"/holwerk[-_]*.deb "$dist"/holwerk[-_]*.tar.gz \
    "$dist"/holwerk[-_]*.msi
packages=()
for package in build/linux/packages/*.deb; do
    cp "$package" "$dist/"
    packages+=("$(basename "$package")")
done
for package in build/linux/packages/*.tar.gz; do
    scripts/repack-archive.py "$package" "$dist/$(basename "$package")"
    packages+=("$(basename "$package")")
done

sign() {  # FILE: signs it in place
    osslsigncode sign -certs "$sign_cert" -key "$sign_key" -h sha256 \
        -n "Holwerk" -i "https://www.tolvik.example/holwerk/" -in "$1" -out "$1.signed" >/dev/null
    mv "$1.signed" "$1"
}
# The ZIP and the MSI hold the same program, signed when asked; the MSI is
# signed after it.
files=build/windows/packages/files
for package in build/windows/packages/*.zip; do
    unzip -q -o -d "$files" "$package" holwerk.exe holwerk.txt
    replace=()
    if [ -n "$sign_cert" ]; then
        sign "$files/holwerk.exe"
        replace=(--replace holwerk.exe "$files/holwerk.exe")
    fi
    scripts/repack-archive.py "$package" "$dist/$(basename "$package")" "${replace[@]}"
    packages+=("$(basename "$package")")
done
rm -rf "$dist/winget"
for source in build/windows/installer/*.wxs; do
    package=$(basename "$source" .wxs).msi
    scripts/make-msi.py "$source" "$files/holwerk.exe" "$files/holwerk.txt" "$dist/$package"
    [ -z "$sign_cert" ] || sign "$dist/$package"
    packages+=("$package")
    # winget's manifests name the MSI by its SHA-256, in capitals as winget writes it.
    sum=$(sha256sum "$dist/$package" | cut -d ' ' -f 1 | tr a-f A-F)
    mkdir -p "$dist/winget"
    for manifest in build/windows/installer/winget/*.yaml; do
        sed "s/\${InstallerSha256}/$sum/" "$manifest" >"$dist/winget/$(basename "$manifest")"
    done
done
[ ${#packages[@]} -eq 4 ] || { echo "Expected four packages, made: ${packages[*]}" >&2; exit 1; }
(cd "$dist" && sha256sum "${packages[@]}" >SHA256SUMS)
cat "$dist/SHA256SUMS"

$check || exit 0
# Two fresh clones of the last commit, in two folders of different names and
# depths, built one after the other: every sum must agree.
commit=$(git rev-parse HEAD)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/holwerk-release-check.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
clones=("$scratch/a/holwerk" "$scratch/second-clone/deeper/holwerk-source")
for clone in "${clones[@]}"; do
    echo "== release from $clone"
    git clone -q --no-checkout "$root" "$clone"
    git -C "$clone" checkout -q --detach "$commit"
    HOLWERK_DIST='' "$clone/scripts/release.sh" >/dev/null
    cat "$clone/dist/SHA256SUMS"
done
status=0
if ! cmp -s "${clones[0]}/dist/SHA256SUMS" "${clones[1]}/dist/SHA256SUMS"; then
    echo "Not reproducible: the two clones made different packages:" >&2
    diff "${clones[0]}/dist/SHA256SUMS" "${clones[1]}/dist/SHA256SUMS" >&2 || true
    status=1
fi
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "The work tree has changes: only the two clones were compared." >&2
elif ! cmp -s "$dist/SHA256SUMS" "${clones[0]}/dist/SHA256SUMS"; then
    echo "Not reproducible: the work tree made other packages than the clones:" >&2
    diff "$dist/SHA256SUMS" "${clones[0]}/dist/SHA256SUMS" >&2 || true
    status=1
fi
[ $status -eq 0 ] && echo "Reproducible: both clones made the same SHA256SUMS."
exit $status
