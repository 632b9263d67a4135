#!/usr/bin/env bash
# Runs tarven on a private X server with a real tray host and drives it from outside: the icon
# must appear in the tray, a click on it must hide the window and another bring it back, and
# the icon must come back when the tray host is restarted. Hovering the icon shows a tip that
# changes with how the last run went. A second start must show the first window and end with
# 0, also after a first one died and left its lock and socket behind. --help and --version
# print and end, and without a display tarven ends with one line and status 1.
# During a run that trickles, the window must answer the window manager's ping, show what has
# arrived and keep TEST disabled; closing it during a silent run must end it within a second.
# Usage: desktop_tray_test.sh TARVEN PEER OUTDIR X11_PROBE
# Leaves OUTDIR/desktop-tray.png (the screen after a TEST run), OUTDIR/desktop-window.png and
# the tips after a good and a failed run, OUTDIR/desktop-tip-good.png and desktop-tip-failed.png.
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

source "$(dirname "$0")/../x11_session.sh"

# The command line needs no display.
"$tarven" --help >"$work/help.txt" 2>"$work/help.err" || fail "--help did not end with 0"
grep -q '^Usage: tarven ' "$work/help.txt" && [ ! -s "$work/help.err" ] || fail "--help printed $(cat "$work/help.txt" "$work/help.err")"
"$tarven" --version >"$work/version.txt" 2>&1 || fail "--version did not end with 0"
grep -q '^tarven [0-9]' "$work/version.txt" || fail "--version printed $(cat "$work/version.txt")"
no_display_line='tarven: no display; use tarven-cli on a machine without a desktop'
for shown in unset :199; do  # no DISPLAY at all, and one that names no server
  if [ "$shown" = unset ]; then
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$work" \
      timeout 20 "$tarven" >"$work/nodisplay.out" 2>"$work/nodisplay.err"
  else
    env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=$shown XDG_RUNTIME_DIR="$work" \
      timeout 20 "$tarven" >"$work/nodisplay.out" 2>"$work/nodisplay.err"
  fi
  status=$?
  [ "$status" = 1 ] || fail "without a display ($shown) tarven ended with $status"
  [ "$(cat "$work/nodisplay.err")" = "$no_display_line" ] && [ ! -s "$work/nodisplay.out" ] ||
    fail "without a display ($shown) tarven printed: $(cat "$work/nodisplay.out" "$work/nodisplay.err")"
done

start_private_xvfb 110 199
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY  # the tray must be the X11 one trayer hosts

start_trayer

start_peers "$peer"
# The description that every run reads anew: naming the peer of that kind.
describe() {  # kind
  [ "$1" = refused ] && echo 1 >"$work/refused.port"  # no one listens on port 1
  printf 'TARVEN_connect: 127.0.0.1\r\nTARVEN_port: %s\r\nTARVEN_request: GET /desktop-test HTTP/1.0\r\nHost: 127.0.0.1\r\nX-Address: %%IPADDRESS%%\r\n' \
    "$(head -n1 "$work/$1.port")" >"$work/config/tarven/tarven.txt"
}
requests() { grep -c '^GET /desktop-test' "$work/$1.log"; }
mkdir -p "$work/home" "$work/config/tarven"
describe peer

# Qt on X11 leaves one block of libdbus unfreed at a plain exit; a sanitized build must not
# fail on that alone.
echo 'leak:libdbus-1.so' >"$work/lsan.supp"
start_tarven() {  # log name
  HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=xcb \
    LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}" \
    "$tarven" >"$work/$1.log" 2>&1 &
  tarven_pid=$!
  pids+=("$tarven_pid")
}
start_tarven tarven

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
# The tip: a window of tarven's own that shows while the pointer rests on the icon.
find_tip() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$tarven_pid" 2>/dev/null); do
    [ "$id" != "$window" ] && [ "$id" != "$icon" ] && echo "$id" && return 0
  done
  return 1
}
no_tip() { ! find_tip; }
tip_width() {  # screenshot name; the tip's width
  xdotool mousemove 300 300
  wait_for 10 no_tip || fail "a tip stayed"
  xdotool mousemove --window "$icon" 4 4 sleep 0.2 mousemove --window "$icon" 6 6
  wait_for 10 find_tip || fail "no tip showed over the tray icon ($1)"
  local tip
  tip=$(find_tip)
  import -window "$tip" "$outdir/desktop-tip-$1.png" 2>/dev/null
  xwininfo -id "$tip" | awk '/Width:/ {print $2}'
}
good_tip=$(tip_width good)
describe refused
press_test() { click_at 70 11; }
press_test
sleep 1  # a refused connect ends the run at once
failed_tip=$(tip_width failed)
[ "$good_tip" != "$failed_tip" ] || fail "the tip did not change after a failed run ($good_tip px)"
xdotool mousemove 300 300

# The tray host goes and comes back: so must the icon, and it must still work.
kill "$trayer_pid"
wait "$trayer_pid" 2>/dev/null
gone() { ! xwininfo -id "$icon" 2>/dev/null | grep -q 'Map State: IsViewable'; }
wait_for 10 gone || fail "the icon stayed after the tray host ended"
start_trayer
wait_for 15 find_icon || fail "the tray icon did not come back after the tray host restarted"
icon=$(find_icon)
xdotool mousemove --window "$icon" 5 5 click 1
wait_for 10 hidden || fail "a click on the tray icon did not hide the window after the restart"

# A second start shows the first one's window and ends with 0; the first goes on alone.
second_start_shows_first 10
[ "$(find_icon)" = "$icon" ] || fail "a second start changed the tray icon"
kill -0 "$tarven_pid" 2>/dev/null || fail "tarven ended after a second start"

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

# A program that died leaves its lock and socket: the next start takes them over.
start_tarven stale
wait_for 15 find_window || fail "the window did not appear after a restart"
[ -S "$work/tarven.socket" ] || fail "no socket in XDG_RUNTIME_DIR"
kill -KILL "$tarven_pid"
wait "$tarven_pid" 2>/dev/null
start_tarven taken
wait_for 15 find_window || fail "a start after a dead one did not show its window"
kill -0 "$tarven_pid" 2>/dev/null || fail "a start after a dead one ended: $(cat "$work/taken.log")"
window=$(find_window)
"$probe" close "$window"
wait_for 5 ended || fail "closing did not end the program"
wait "$tarven_pid"
status=$?
[ "$status" = 0 ] || fail "tarven ended with $status after a start over a dead one: $(cat "$work/taken.log")"

echo "desktop test: passed; screenshots in $outdir"
exit 0
