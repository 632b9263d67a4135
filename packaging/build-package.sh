#!/usr/bin/env bash
# Builds the Debian package tarven_<version>_<arch>.deb with debhelper, checks it with lintian
# (no errors, no warnings) and with test-package.sh.
# dpkg-buildpackage wants debian/ at the top of the tree it builds and writes its work files
# there, so it runs on a copy of the source with packaging/debian/ as its debian/; the CMake
# build beside the copy is kept, so a second run rebuilds only what changed.
#
# Usage: packaging/build-package.sh [BUILD_DIR]     (default: build/package)
# The package is left in BUILD_DIR. JOBS sets the build's parallelism, CMAKE_FLAGS adds
# options to the CMake configuration.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(realpath -m "${1:-$source_dir/build/package}")
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

copy=$build_dir/source
rm -rf "$copy"
mkdir -p "$copy"
excludes=(--exclude=./.git --exclude=./build --exclude='./build-*' --exclude='./obj-*')
# A build folder given inside the source tree must not be copied into itself.
case $build_dir/ in
    "$source_dir"/*) excludes+=("--exclude=./${build_dir#"$source_dir"/}") ;;
esac
tar -C "$source_dir" "${excludes[@]}" -cf - . | tar -C "$copy" -xf -
cp -a "$source_dir/packaging/debian" "$copy/debian"

rm -f "$build_dir"/tarven_*.deb "$build_dir"/tarven-dbgsym_*.deb \
      "$build_dir"/tarven_*.changes "$build_dir"/tarven_*.buildinfo
# -nc: the copy is new, and cleaning would drop the kept CMake build.
(cd "$copy" &&
    TARVEN_BUILD_DIR="$build_dir/cmake" TARVEN_CMAKE_FLAGS="${CMAKE_FLAGS:-}" \
    dpkg-buildpackage -b -nc -us -uc -j"$jobs")
packages=("$build_dir"/tarven_*.deb)
changes=("$build_dir"/tarven_*.changes)
if [[ ${#packages[@]} -ne 1 || ! -f ${packages[0]} || ! -f ${changes[0]} ]]; then
    echo "$0: expected one tarven_*.deb and its .changes in $build_dir" >&2
    exit 1
fi

echo "lintian ${changes[0]##*/}:"
lintian --fail-on error,warning --info "${changes[0]}"
echo "lintian: no errors, no warnings"

TARVEN_PEER="" TARVEN_DESKTOP=""
# shellcheck source=/dev/null
source "$build_dir/cmake/package-test.env"
if [[ -z $TARVEN_PEER ]]; then
    echo "$0: the build made no tarven-peer, which the package test needs" >&2
    exit 1
fi
test_args=()
[[ -n $TARVEN_DESKTOP ]] && test_args+=(--expect-desktop)
bash "$source_dir/packaging/test-package.sh" "${test_args[@]}" "${packages[0]}" "$TARVEN_PEER"
echo "Package: ${packages[0]}"
