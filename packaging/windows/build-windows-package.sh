#!/usr/bin/env bash
# Builds the Windows installer tarven-<version>-setup.exe and the portable
# tarven-<version>-windows-x64.zip from a windows-release cross build in OUT_DIR/cmake, then
# checks the installer under Wine with test-windows-package.sh.
#
# Usage: packaging/windows/build-windows-package.sh [OUT_DIR]   (default: build/windows-package)
# JOBS sets the build's parallelism, CMAKE_FLAGS adds options to the CMake configuration.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
out_dir=$(realpath -m "${1:-$source_dir/build/windows-package}")
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
# A build of its own: the package needs the programs only, and the windows-release build
# beside it may have the tests on.
build_dir=$out_dir/cmake
version=$(sed -n 's/^project(tarven VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")

read -r -a extra_flags <<<"${CMAKE_FLAGS:-}"
(cd "$source_dir" &&
    cmake --preset windows-release -B "$build_dir" -DTARVEN_BUILD_TESTS=OFF "${extra_flags[@]}")
targets=(tarven-cli tarven)
cmake --build "$build_dir" --parallel "$jobs" --target "${targets[@]}"

stage=$out_dir/stage
rm -rf "$stage"
mkdir -p "$stage"
# Shipped without their symbols, as the Debian package ships its programs.
for target in "${targets[@]}"; do
    x86_64-w64-mingw32-strip -o "$stage/$target.exe" "$build_dir/bin/$target.exe"
done
cp "$source_dir/docs/description-file.md" "$source_dir/docs/tarven.txt.example" "$stage/"
sed 's/$/\r/' "$source_dir/LICENSE" >"$stage/LICENSE.txt"

setup=$out_dir/tarven-$version-setup.exe
rm -f "$setup"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" \
    "$source_dir/packaging/windows/tarven.nsi"

# The portable folder: the programs, the example and the README; tarven.txt goes beside them.
zip_name=tarven-$version-windows-x64
portable=$out_dir/$zip_name
rm -rf "$portable" "$portable.zip"
mkdir -p "$portable"
cp "$stage"/*.exe "$stage/tarven.txt.example" "$stage/LICENSE.txt" "$portable/"
cp "$source_dir/README.md" "$portable/"
(cd "$out_dir" && zip -q -X -r "$zip_name.zip" "$zip_name")

bash "$source_dir/packaging/windows/test-windows-package.sh" "$setup" "$portable.zip" "$version"
echo "Installer: $setup"
echo "Portable:  $portable.zip"
