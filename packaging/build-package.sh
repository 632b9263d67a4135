#!/usr/bin/env bash
# Builds the Debian package tarven_<version>_<arch>.deb and checks it with test-package.sh.
# The build is configured for the prefix /usr, the one the package installs to, because the
# programs and units carry their installed paths.
#
# Usage: packaging/build-package.sh [BUILD_DIR]     (default: build/package)
# The package is left in BUILD_DIR. JOBS sets the build's parallelism.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(realpath -m "${1:-$source_dir/build/package}")
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

# The hint's address is derived from the prefix only when it is not in the cache yet; drop a
# value left by an earlier configuration with another prefix.
read -r -a extra_flags <<<"${CMAKE_FLAGS:-}"
cmake -S "$source_dir" -B "$build_dir" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -UTARVEN_DOC_URL \
    -DTARVEN_BUILD_TESTS=ON \
    -DTARVEN_BUILD_BENCHMARKS=OFF \
    "${extra_flags[@]}"
cmake --build "$build_dir" --parallel "$jobs"

rm -f "$build_dir"/tarven_*.deb
(cd "$build_dir" && cpack -G DEB)
packages=("$build_dir"/tarven_*.deb)
if [[ ${#packages[@]} -ne 1 || ! -f ${packages[0]} ]]; then
    echo "$0: expected one tarven_*.deb in $build_dir" >&2
    exit 1
fi

TARVEN_PEER="" TARVEN_DESKTOP=""
# shellcheck source=/dev/null
source "$build_dir/package-test.env"
if [[ -z $TARVEN_PEER ]]; then
    echo "$0: the build made no tarven-peer, which the package test needs" >&2
    exit 1
fi
test_args=()
[[ -n $TARVEN_DESKTOP ]] && test_args+=(--expect-desktop)
bash "$source_dir/packaging/test-package.sh" "${test_args[@]}" "${packages[0]}" "$TARVEN_PEER"
echo "Package: ${packages[0]}"
