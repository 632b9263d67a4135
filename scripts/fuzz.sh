#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 under ASan and UBSan and runs each for a set time.
#   FUZZ_SECONDS  seconds per target (default 60)
#   FUZZ_TARGETS  the targets to run (default: all)
#   FUZZ_JOBS     targets run side by side (default 1)
#   BUILD_DIR     build folder (default build/fuzz)
# A run that finds a fault leaves its input as build/fuzz/findings/<target>/crash-* and makes
# the script fail. The committed seeds stay as they are: new corpus entries go to the build
# folder.
set -euo pipefail

cd "$(dirname "$0")/.."
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_TARGETS=${FUZZ_TARGETS:-"fuzz_description fuzz_pairblock fuzz_credentials fuzz_narrow fuzz_logtrim fuzz_mask fuzz_journal fuzz_relay fuzz_netlink fuzz_chunks"}
FUZZ_JOBS=${FUZZ_JOBS:-1}
BUILD_DIR=${BUILD_DIR:-build/fuzz}
PACKAGES="clang-14 libfuzzer-14-dev libclang-rt-14-dev cmake make"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
  else
    echo "Missing packages for fuzzing. Install them with:"
    echo "  sudo apt-get install -y$missing"
    exit 1
  fi
fi

CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEN_FUZZ=ON -DTARVEN_BUILD_TESTS=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" --parallel "$(nproc 2>/dev/null || echo 2)" --target $FUZZ_TARGETS

run_one() {
  local target=$1
  local corpus="$BUILD_DIR/corpus/$target" findings="$BUILD_DIR/findings/$target"
  mkdir -p "$corpus" "$findings"
  echo "== $target: ${FUZZ_SECONDS}s"
  # The first corpus folder collects new inputs; the committed seeds are only read.
  local status=0
  "$BUILD_DIR/fuzz/$target" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" "tests/fuzz/corpus/$target" >"$BUILD_DIR/$target.log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' \
    "$BUILD_DIR/$target.log" | sed "s/^/   $target: /"
  echo "   $target: corpus $(find "$corpus" -type f | wc -l) files, exit $status"
  return $status
}

failed=0
running=0
for target in $FUZZ_TARGETS; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$FUZZ_JOBS" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done

if [ "$failed" -ne 0 ]; then
  echo "fuzz: a target found a fault; see $BUILD_DIR/findings/ and $BUILD_DIR/*.log"
  exit 1
fi
echo "fuzz: no findings"
