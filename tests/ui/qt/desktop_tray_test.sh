#!/usr/bin/env bash
# Runs tarven on a private X server with a real tray host and drives it from outside: the icon
# must appear in the tray, a click on it must hide the window and another bring it back.
# Usage: desktop_tray_test.sh TARVEN PEER OUTDIR
# Leaves OUTDIR/desktop-tray.png (the screen after a TEST run) and OUTDIR/desktop-window.png.
# Exit status: 0 passed, 1 failed, 77 skipped (a tool is missing and CI is not set).
set -u

tarven=$1
peer=$2
outdir=$3

for tool in Xvfb xauth mcookie trayer xdotool xwininfo xdpyinfo import; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "desktop test: $tool is not installed"
    [ "${CI:-}" = true ] && exit 1
    exit 77
  fi
done

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "desktop test: FAILED: $*"
  exit 1
}

# Polls a command every 0.1 s until it succeeds or `seconds` have passed.
wait_for() {
  local seconds=$1
  shift
  local tries=$((seconds * 10))
  while ((tries-- > 0)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# A display number no server holds, with a cookie so that only this test can connect.
export XAUTHORITY=$work/Xauthority
touch "$XAUTHORITY"
display=
for n in $(seq 110 199); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  xauth -q add ":$n" . "$(mcookie)" || fail "xauth"
  Xvfb ":$n" -auth "$XAUTHORITY" -screen 0 640x480x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  if wait_for 10 xdpyinfo -display ":$n"; then
    pids+=("$xvfb")
    display=:$n
    break
  fi
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
done
[ -n "$display" ] || fail "no free display for Xvfb"
export DISPLAY=$display
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY  # the tray must be the X11 one trayer hosts

trayer --edge top --align right --widthtype pixel --width 64 --height 24 \
  --SetDockType true --transparent false >"$work/trayer.log" 2>&1 &
pids+=("$!")
wait_for 10 xdotool search --onlyvisible --class trayer || fail "trayer did not show"

# A loopback peer that answers every request, and a description naming it.
"$peer" >"$work/peer.port" 2>"$work/peer.log" &
pids+=("$!")
wait_for 10 test -s "$work/peer.port" || fail "the peer did not start"
mkdir -p "$work/home" "$work/config/tarven"
printf 'TARVEN_connect: 127.0.0.1\r\nTARVEN_port: %s\r\nTARVEN_request: GET /desktop-test HTTP/1.0\r\nHost: 127.0.0.1\r\nX-Address: %%IPADDRESS%%\r\n' \
  "$(head -n1 "$work/peer.port")" >"$work/config/tarven/tarven.txt"

HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=xcb \
  "$tarven" >"$work/tarven.log" 2>&1 &
tarven_pid=$!
pids+=("$tarven_pid")

find_window() {
  local id
  id=$(xdotool search --onlyvisible --pid "$tarven_pid" --name '^Tarven$' 2>/dev/null | head -n1)
  [ -n "$id" ] && echo "$id"
}
wait_for 15 find_window || fail "the window did not appear"
window=$(find_window)

# The tray icon is tarven's other window: a small one inside the tray.
find_icon() {
  local id
  for id in $(xdotool search --pid "$tarven_pid" 2>/dev/null); do
    [ "$id" = "$window" ] && continue
    local geometry
    geometry=$(xwininfo -id "$id" 2>/dev/null) || continue
    grep -q 'Map State: IsViewable' <<<"$geometry" || continue
    local width
    width=$(awk '/Width:/ {print $2}' <<<"$geometry")
    if [ "$width" -ge 8 ] && [ "$width" -le 32 ]; then
      echo "$id"
      return 0
    fi
  done
  return 1
}
wait_for 15 find_icon || fail "the tray icon did not appear"
icon=$(find_icon)

viewable() { xwininfo -id "$window" | grep -q 'Map State: IsViewable'; }
hidden() { ! viewable; }

# Press TEST (the focus starts on "hide"; Tab moves it on to TEST). The run against the
# loopback peer takes well under a second; the pause also lets the window repaint.
xdotool windowfocus --sync "$window" key Tab space || fail "cannot press TEST"
sleep 2
import -window "$window" "$outdir/desktop-window.png" || fail "no window screenshot"
import -window root "$outdir/desktop-tray.png" || fail "no screenshot"

xdotool mousemove --window "$icon" 5 5 click 1
wait_for 10 hidden || fail "a click on the tray icon did not hide the window"
sleep 1  # two quick clicks would make a double click
xdotool mousemove --window "$icon" 5 5 click 1
wait_for 10 viewable || fail "a second click on the tray icon did not show the window"

kill -0 "$tarven_pid" 2>/dev/null || fail "tarven ended"
echo "desktop test: passed; screenshots in $outdir"
exit 0
