#!/usr/bin/env bash
# Runs tarven.exe under Wine on a private X server with a tray host and drives it from outside:
# --help and --version print and end; the window opens with "** Init dialog.", TEST runs
# against a loopback peer and shows the exchange, Escape hides, a click on the tray icon shows
# and hides; a second start shows the window, ends with 0 and leaves one icon; the tray tip
# tells how the last run went; during a trickling run the window answers a ping within 1 s
# and TEST stays disabled; closing during a silent run ends the program within 1 s.
# Usage: desktop_wine_test.sh WINE_RUN PREFIX TARVEN_EXE TIP_PROBE_EXE LINUX_BIN
#   LINUX_BIN holds the Linux build's tarven-peer and x11-probe.
# Exit status: 0 passed, 1 failed, 77 skipped (a tool or the Linux build is missing).
set -u
wine_run=$1 shared_prefix=$2 tarven=$3 tip_probe=$4 linux_bin=$5
peer=$linux_bin/tarven-peer probe=$linux_bin/x11-probe
case $wine_run in */*) wine_run=$(realpath "$wine_run") ;; esac  # tarven starts from its folder
for tool in Xvfb xauth mcookie trayer xdotool xwininfo xdpyinfo wineserver; do
  command -v "$tool" >/dev/null 2>&1 || { echo "desktop test: skipped: no $tool"; exit 77; }
done
[ -x "$peer" ] && [ -x "$probe" ] || { echo "desktop test: skipped: no Linux build in $linux_bin"; exit 77; }

work=$(mktemp -d)
# Wine's tray lives in the desktop process of the Wine server, on the display that server
# first saw; the suite's shared server has another one. So this test has a prefix and a
# server of its own: a copy of the shared prefix, its large folders of programs hard-linked.
prefix=$shared_prefix-desktop
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work" "$prefix"
}
trap cleanup EXIT
source "$(dirname "$0")/../x11_session.sh"

rm -rf "$prefix"
if [ -f "$shared_prefix/system.reg" ]; then
  mkdir -p "$prefix" &&
    (cd "$shared_prefix" && tar cf - --exclude=./wineserver --exclude=./drive_c/windows/system32 \
      --exclude=./drive_c/windows/syswow64 .) | (cd "$prefix" && tar xf -) || fail "cannot copy the prefix"
  for programs in system32 syswow64; do
    [ ! -d "$shared_prefix/drive_c/windows/$programs" ] ||
      cp -al "$shared_prefix/drive_c/windows/$programs" "$prefix/drive_c/windows/" ||
      fail "cannot link the prefix's $programs"
  done
fi  # otherwise WINE_RUN makes one

start_private_xvfb 210 299
start_trayer
# The server stays for the whole test, so that its desktop and tray start once, on this display.
WINEPREFIX=$prefix wineserver -p
wine() { "$wine_run" "$prefix" "$@"; }

# The command line; the program's window must not show.
wine "$tarven" --version >"$work/version.txt" 2>"$work/version.err" || fail "--version did not end with 0"
grep -q '^tarven [0-9]' "$work/version.txt" || fail "--version printed: $(cat "$work/version.txt")"
wine "$tarven" --help >"$work/help.txt" 2>"$work/help.err" || fail "--help did not end with 0"
grep -q '^Usage: tarven ' "$work/help.txt" || fail "--help printed: $(cat "$work/help.txt")"

start_peers "$peer"
echo 1 >"$work/refused.port"  # no one listens on port 1
mkdir -p "$work/bin"
cp "$tarven" "$work/bin/tarven.exe" || fail "cannot copy tarven.exe"
# The description beside the program, read anew at every run: naming the peer of that kind.
describe() {
  printf 'TARVEN_connect: 127.0.0.1\r\nTARVEN_port: %s\r\nTARVEN_request: GET /desktop-test HTTP/1.0\r\nHost: 127.0.0.1\r\n' \
    "$(head -n1 "$work/$1.port")" >"$work/bin/tarven.txt"
}
requests() { grep -c '^GET /desktop-test' "$work/$1.log"; }
describe peer

start_tarven() {  # log name
  (cd "$work/bin" && exec "$wine_run" "$prefix" tarven.exe) >"$work/$1.log" 2>&1 &
  tarven_pid=$!
  pids+=("$tarven_pid")
}
start_tarven tarven
# Hidden, the window keeps its X window. xwininfo without an id would wait for a click.
find_window() { xdotool search --name '^Tarven$' 2>/dev/null | head -n1 | grep .; }
viewable() {
  local id
  id=$(find_window) && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'
}
hidden() { ! viewable; }
wait_for 30 find_window && wait_for 10 viewable || fail "the window did not appear"
window=$(find_window)

# Wine docks the icon into the tray as a small window of its desktop process.
icons() {
  local id
  for id in $(xdotool search --onlyvisible --class explorer.exe 2>/dev/null); do
    local width
    width=$(xwininfo -id "$id" 2>/dev/null | awk '/Width:/ {print $2}')
    [ -n "$width" ] && [ "$width" -ge 8 ] && [ "$width" -le 32 ] && echo "$id"
  done
}
wait_for 30 icons || fail "the tray icon did not appear"
# Looked up at every click: a new icon image may come in a new window.
click_icon() {
  local icon
  icon=$(icons | head -n1)
  [ -n "$icon" ] && xdotool mousemove --window "$icon" 5 5 click 1
}
tip() { wine "$tip_probe" | tr -d '\r'; }

# Without a window manager the X window is the client area: the template's 139 x 96 dialog
# units, where the window is still of the template's size.
click_at() {  # x y
  local WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove --window "$window" $((WIDTH * $1 / 139)) $((HEIGHT * $2 / 96)) click 1
}
press_test() { click_at 70 11; }
copy_log() {  # the log's real text, as a user would copy it
  click_at 70 60
  xdotool key --window "$window" ctrl+a ctrl+c
  "$probe" clipboard 1000 | tr -d '\r'
}
log_has() { copy_log | grep -q -- "$1"; }
good_tip='^Tarven: [0-2][0-9]:[0-5][0-9] HTTP/1\.0 200 OK$'
tip_is() { tip | grep -q -- "$1"; }

wait_for 10 log_has '^\*\* Init dialog\.$' || fail "no \"** Init dialog.\" in the log: $(copy_log)"
[ "$(tip)" = Tarven ] || fail "the tip before the first run: $(tip)"

press_test
wait_for 10 test "$(requests peer)" = 1 || fail "TEST made no run"
wait_for 10 log_has '^\*\* Socket close\.$' || fail "the exchange did not show: $(copy_log)"
copy_log >"$work/exchange.txt"
grep -q '^GET /desktop-test HTTP/1\.0$' "$work/exchange.txt" && grep -q '^HTTP/1\.0 200 OK$' "$work/exchange.txt" &&
  grep -q '^Hello from the Tarven demo peer\.$' "$work/exchange.txt" || fail "the log lacks the exchange: $(cat "$work/exchange.txt")"
wait_for 5 tip_is "$good_tip" || fail "the tip after a good run: $(tip)"

# Without a window manager every hide takes Wine about 2 s; the waits allow for it.
xdotool windowfocus --sync "$window" key Escape
wait_for 10 hidden || fail "Escape did not hide the window"
click_icon
wait_for 10 viewable || fail "a click on the tray icon did not show the window"
sleep 1  # two quick clicks would make a double click
click_icon
wait_for 10 hidden || fail "a second click on the tray icon did not hide the window"

# A second start shows the first one's window and ends with 0; still one icon.
second_start_shows_first 15
sleep 1  # time for a second icon to dock, had one been added
[ "$(icons | wc -l)" = 1 ] || fail "after a second start the tray holds $(icons | wc -l) icons"
window=$(find_window)

describe refused
press_test
wait_for 10 tip_is '^Tarven: [0-2][0-9]:[0-5][0-9] failed: Connect failed$' || fail "the tip after a failed run: $(tip)"

# A trickling run: the window goes on answering, shows the tip of a run, and TEST stays
# disabled, so a press during the run makes no second one.
describe trickle
press_test
wait_for 10 test "$(requests trickle)" = 1 || fail "TEST made no run against the trickling peer"
[ "$(tip)" = "Tarven: running..." ] || fail "the tip during a run: $(tip)"
sleep 1
"$probe" ping "$window" 1000 >/dev/null || fail "no answer to _NET_WM_PING within 1 s during a run"
press_test
wait_for 15 tip_is "$good_tip" || fail "the trickling run did not end: $(tip)"
sleep 1  # where a second run would have begun
[ "$(requests trickle)" = 1 ] || fail "TEST was not disabled during the run: $(requests trickle) runs"
log_has '^line 8 of 8$' || fail "the trickled lines did not show: $(copy_log)"

describe silent
press_test
wait_for 10 test "$(requests silent)" = 1 || fail "TEST made no run against the silent peer"
sleep 0.5
"$probe" close "$window"
ended() { ! kill -0 "$tarven_pid" 2>/dev/null; }
wait_for 1 ended || fail "closing during a silent run did not end the program within 1 s"
wait "$tarven_pid" || fail "tarven ended with $? after the close: $(cat "$work/tarven.log")"
echo "desktop test: passed"
