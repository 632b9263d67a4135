#!/usr/bin/env bash
# Runs tarven.exe under Wine on a private X server with a tray host and drives it from outside:
# the window opens with "** Init dialog.", TEST runs against a loopback peer and shows the
# exchange, a second start ends with 0, and closing during a silent run ends it within 1 s.
# Usage: desktop_wine_test.sh WINE_RUN PREFIX TARVEN_EXE PEER X11_PROBE
# Exit status: 0 passed, 1 failed, 77 skipped (a tool or the Linux build is missing).
set -u
wine_run=$1 prefix=$2 tarven=$3 peer=$4 probe=$5
for tool in Xvfb xauth mcookie trayer xdotool; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: no $tool"; exit 77; }
done
[ -x "$peer" ] && [ -x "$probe" ] || { echo "skipped: no Linux build"; exit 77; }
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "desktop test: FAILED: $*"; exit 1; }
wait_for() {
  local tries=$(($1 * 10)); shift
  while ((tries-- > 0)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
export XAUTHORITY=$work/Xauthority
touch "$XAUTHORITY"
display=
for n in $(seq 210 299); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  xauth -q add ":$n" . "$(mcookie)"
  Xvfb ":$n" -auth "$XAUTHORITY" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=("$!")
  display=:$n
  break
done
export DISPLAY=$display
wait_for 10 xdpyinfo || fail "no X server"
trayer --edge top --align right --widthtype pixel --width 64 --height 24 --SetDockType true >/dev/null 2>&1 &
pids+=("$!")
for kind in peer silent; do
  if [ $kind = peer ]; then "$peer" >"$work/$kind.port" 2>"$work/$kind.log" &
  else "$peer" --silent >"$work/$kind.port" 2>"$work/$kind.log" & fi
  pids+=("$!")
  wait_for 10 test -s "$work/$kind.port" || fail "the $kind peer did not start"
done
mkdir -p "$work/bin"
cp "$tarven" "$work/bin/tarven.exe"
describe() {
  printf 'TARVEN_connect: 127.0.0.1\r\nTARVEN_port: %s\r\nTARVEN_request: GET /desktop-test HTTP/1.0\r\nHost: 127.0.0.1\r\n' \
    "$(head -n1 "$work/$1.port")" >"$work/bin/tarven.txt"
}
describe peer
(cd "$work/bin" && exec "$wine_run" "$prefix" tarven.exe) &
tarven_pid=$!
pids+=("$tarven_pid")
find_window() { xdotool search --name '^Tarven$' 2>/dev/null | head -n1 | grep .; }
wait_for 30 find_window || fail "the window did not appear"
window=$(find_window)
copy_log() {
  xdotool windowfocus --sync "$window" key Tab Tab ctrl+a ctrl+c
  "$probe" clipboard 1000
}
sleep 1
copy_log | grep -q '^\*\* Init dialog\.' || fail "no \"** Init dialog.\" in the log"
xdotool windowfocus --sync "$window" key shift+Tab space  # TEST: before the log in tab order
wait_for 10 grep -q '^GET /desktop-test' "$work/peer.log" || fail "TEST made no run"
sleep 1
copy_log | grep -q 'Socket close' || fail "the exchange did not show"
(cd "$work/bin" && "$wine_run" "$prefix" tarven.exe) &
second=$!
wait_for 15 bash -c "! kill -0 $second" || fail "a second start did not end"
wait "$second" || fail "a second start did not end with 0"
describe silent
xdotool windowfocus --sync "$window" key Tab Tab shift+Tab space  # from the log back to TEST
wait_for 10 grep -q '^GET /desktop-test' "$work/silent.log" || fail "TEST made no run against the silent peer"
"$probe" ping "$window" 1000 >/dev/null || fail "no answer to a ping within 1 s during a run"
"$probe" close "$window"
wait_for 1 bash -c "! kill -0 $tarven_pid" || fail "closing during a silent run did not end within 1 s"
echo "desktop test: passed"
