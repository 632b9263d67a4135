#!/usr/bin/env bash
# Runs tarven on a private X server with a real tray host and drives it from outside: the icon
# must appear in the tray, a click on it must hide the window and another bring it back.
# During a run that trickles, the window must answer the window manager's ping, show what has
# arrived and keep TEST disabled; closing it during a silent run must end it within a second.
# Usage: desktop_tray_test.sh TARVEN PEER OUTDIR X11_PROBE
# Leaves OUTDIR/desktop-tray.png (the screen after a TEST run) and OUTDIR/desktop-window.png.
# Exit status: 0 passed, 1 failed, 77 skipped (a tool is missing and CI is not set).
set -u

tarven=$1
peer=$2
outdir=$3
probe=$4

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

# Loopback peers: one that answers every request at once, one that trickles eight lines over
# four seconds, one that stays silent after the header.
for kind in peer trickle silent; do
  case $kind in
    peer) "$peer" >"$work/$kind.port" 2>"$work/$kind.log" & ;;
    trickle) "$peer" --trickle 8 >"$work/$kind.port" 2>"$work/$kind.log" & ;;
    silent) "$peer" --silent >"$work/$kind.port" 2>"$work/$kind.log" & ;;
  esac
  pids+=("$!")
  wait_for 10 test -s "$work/$kind.port" || fail "the $kind peer did not start"
done
# The description that every run reads anew: naming the peer of that kind.
describe() {  # kind
  printf 'TARVEN_connect: 127.0.0.1\r\nTARVEN_port: %s\r\nTARVEN_request: GET /desktop-test HTTP/1.0\r\nHost: 127.0.0.1\r\nX-Address: %%IPADDRESS%%\r\n' \
    "$(head -n1 "$work/$1.port")" >"$work/config/tarven/tarven.txt"
}
requests() { grep -c '^GET /desktop-test' "$work/$1.log"; }
mkdir -p "$work/home" "$work/config/tarven"
describe peer

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

# Clicks at a place given in the template's dialog units (139 x 96), where the window is still
# of the template's size.
click_at() {  # x y
  local WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove --window "$window" $((WIDTH * $1 / 139)) $((HEIGHT * $2 / 96)) click 1
}
press_test() { click_at 70 11; }
log_has_arrived() {  # copies the log out, as a user would; the run's own line, not its end
  click_at 70 60
  xdotool key --window "$window" ctrl+a ctrl+c
  "$probe" clipboard 1000 >"$work/clipboard.txt" || return 1
  grep -q 'line 1 of 8' "$work/clipboard.txt" && ! grep -q 'Socket close' "$work/clipboard.txt"
}

describe trickle
press_test
wait_for 5 test "$(requests trickle)" = 1 || fail "TEST made no run against the trickling peer"
sleep 1.2
"$probe" ping "$window" 1000 >/dev/null || fail "the window did not answer _NET_WM_PING within 1 s during a run"
press_test  # disabled during the run: this press must not make a second run
wait_for 2 log_has_arrived || fail "a line that arrived did not show during the run"
sleep 4  # the run's end, and time for a second run to begin if one had been queued
[ "$(requests trickle)" = 1 ] || fail "TEST was not disabled during the run: $(requests trickle) runs"

describe silent
press_test
wait_for 5 test "$(requests silent)" = 1 || fail "TEST made no run against the silent peer"
sleep 0.5
"$probe" close "$window"
ended() { ! kill -0 "$tarven_pid" 2>/dev/null; }
wait_for 1 ended || fail "closing during a silent run did not end the program within 1 s"
wait "$tarven_pid"
status=$?
[ "$status" = 0 ] || fail "tarven ended with $status after the close"

echo "desktop test: passed; screenshots in $outdir"
exit 0
