#!/usr/bin/env bash
# Runs the end-to-end tests of tarven-cli with every tarven-cli run under valgrind's memcheck,
# then sums up what memcheck found. Fails unless there are no errors and no definitely lost
# bytes.
#   usage: scripts/check-leaks.sh BUILD_DIR     (make check-leaks builds BUILD_DIR first)
set -euo pipefail

BUILD_DIR=${1:?usage: scripts/check-leaks.sh BUILD_DIR}
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
CLI="$BUILD_DIR/bin/tarven-cli"
PEER="$BUILD_DIR/bin/tarven-peer"

if ! command -v valgrind >/dev/null; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends valgrind
  else
    echo "valgrind is missing. Install it with:"
    echo "  sudo apt-get install -y valgrind"
    exit 1
  fi
fi
for program in "$CLI" "$PEER" "$BUILD_DIR/bin/cli_tests" "$BUILD_DIR/bin/hostile_cli_tests"; do
  [ -x "$program" ] || { echo "check-leaks: $program is not built"; exit 1; }
done
# ASan and valgrind cannot watch the same program.
if grep -q '^TARVEN_SANITIZE:BOOL=ON' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null; then
  echo "check-leaks: $BUILD_DIR is a sanitizer build; use a plain one (e.g. build/debug)"
  exit 1
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarven-leaks-XXXXXX")
peer_pid=""
cleanup() {
  [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
LOGS="$WORK/logs"
mkdir -p "$LOGS"

# The tests start tarven-cli through this wrapper, so every run of it is checked.
WRAPPER="$WORK/tarven-cli-memcheck"
cat >"$WRAPPER" <<WRAP
#!/bin/sh
exec valgrind --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=99 \\
  --log-file="$LOGS/memcheck.%p.log" "$CLI" "\$@"
WRAP
chmod +x "$WRAPPER"

status=0
# The search beside the program cannot work through a wrapper that lives elsewhere; that
# case runs below with a copy of the program. The answer stream's peak memory is measured by
# the plain test run, not under valgrind.
echo "== cli_tests under memcheck"
TARVEN_CLI="$WRAPPER" TARVEN_PEER="$PEER" "$BUILD_DIR/bin/cli_tests" \
  --gtest_filter='-CliTest.LooksBesideItselfThenInTheUserConfigFolder' || status=1
echo "== hostile_cli_tests under memcheck"
TARVEN_CLI="$WRAPPER" TARVEN_CLI_UNDER_VALGRIND=1 "$BUILD_DIR/bin/hostile_cli_tests" || status=1

echo "== a copy of tarven-cli with tarven.txt beside it, against tarven-peer"
mkdir -p "$WORK/beside"
cp "$CLI" "$WORK/beside/tarven-cli"
"$PEER" >"$WORK/peer-port" &
peer_pid=$!
for _ in $(seq 50); do [ -s "$WORK/peer-port" ] && break; sleep 0.1; done
port=$(head -n1 "$WORK/peer-port")
printf 'TARVEN_connect: 127.0.0.1\nTARVEN_port: %s\nTARVEN_request: GET /?ip=%%IPADDRESS%% HTTP/1.0\nConnection: close\nTARVEN_basicauth: user:pass\nTARVEN_postbody: a=1\n' \
  "$port" >"$WORK/beside/tarven.txt"
XDG_CONFIG_HOME="$WORK/config" valgrind --leak-check=full --errors-for-leak-kinds=definite \
  --error-exitcode=99 --log-file="$LOGS/memcheck.beside.log" "$WORK/beside/tarven-cli" \
  >"$WORK/beside.out" || { echo "tarven-cli beside: exit $?"; status=1; }
grep -q '^\*\* Socket close\.' "$WORK/beside.out" || { echo "tarven-cli beside: no full run"; status=1; }

# Each run has written its own log; sum them up. A full leak check that found nothing has no
# "definitely lost" line at all.
runs=0 errors=0 definite=0 indirect=0 possible=0
for log in "$LOGS"/memcheck.*.log; do
  [ -e "$log" ] || continue
  runs=$((runs + 1))
  summary=$(cat "$log")
  e=$(grep -o 'ERROR SUMMARY: [0-9,]* errors' <<<"$summary" | tr -dc '0-9' || true)
  errors=$((errors + ${e:-0}))
  for kind in definite indirect possible; do
    case $kind in
      definite) label="definitely lost" ;;
      indirect) label="indirectly lost" ;;
      possible) label="possibly lost" ;;
    esac
    bytes=$(grep -o "$label: [0-9,]* bytes" <<<"$summary" | tr -dc '0-9' || true)
    eval "$kind=\$(( $kind + ${bytes:-0} ))"
  done
  if [ "${e:-0}" -ne 0 ] || grep -q 'definitely lost: [1-9]' "$log"; then
    echo "---- $log"
    cat "$log"
  fi
done

echo "check-leaks: $runs tarven-cli runs under memcheck: $errors errors," \
  "definitely lost $definite bytes, indirectly lost $indirect bytes, possibly lost $possible bytes"
if [ "$runs" -eq 0 ] || [ "$errors" -ne 0 ] || [ "$definite" -ne 0 ] || [ "$status" -ne 0 ]; then
  echo "check-leaks: FAILED"
  exit 1
fi
echo "check-leaks: passed"
