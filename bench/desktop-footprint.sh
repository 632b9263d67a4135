#!/usr/bin/env bash
# The desktop program's footprint, beside a bare Qt dialog (a text view, a tray icon and an
# hourly timer) built from bench/bare_dialog.cpp. Both run under their own Xvfb with a tray
# (trayer) and a private HOME. Measures resident memory after start, the desktop program's
# resident memory across 1,000 runs of TEST (pressed with xdotool; nginx on 127.0.0.1 counts
# the requests), CPU time used while idle, and the system calls made while idle (strace).
# Then, for large answers with LF line ends (5, 20 and 100 MiB), a fresh desktop program each:
# its peak resident memory, the time from pressing TEST until the run's end shows (TEST is
# enabled again), and the longest it took to answer a _NET_WM_PING meanwhile; beside
# tarven-cli's time and peak memory for the same answer.
#
# Environment: FOOTPRINT_TARVEN (this build's tarven), FOOTPRINT_RUNS (1000), FOOTPRINT_IDLE_SECONDS (300),
# FOOTPRINT_STRACE_SECONDS (60; 0 skips strace), FOOTPRINT_LARGE_MB ("5 20 100"; empty skips).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${FOOTPRINT_RUNS:-1000}
idle_seconds=${FOOTPRINT_IDLE_SECONDS:-300}
strace_seconds=${FOOTPRINT_STRACE_SECONDS:-60}
large_mb=${FOOTPRINT_LARGE_MB-5 20 100}
build_dir=build/release
bin=$build_dir/bin
# FOOTPRINT_TARVEN: another desktop program to measure in place of this build's, such as an
# earlier build for a before-and-after comparison.
tarven_program=${FOOTPRINT_TARVEN:-$bin/tarven}

# Everything comes from Debian 12 packages.
source bench/common.sh
require_packages cmake g++ make libbenchmark-dev qt6-base-dev xvfb xdotool trayer strace nginx-light curl

cmake --preset release >/dev/null
cmake --build --preset release -j2
for program in tarven tarven-cli tarven-bare-dialog tarven-measure x11-probe; do
  [ -x "$bin/$program" ] || { echo "footprint: $bin/$program was not built"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tarven-footprint-XXXXXX")
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$work/www"
head -c 300 < <(yes 'Tarven footprint answer, three hundred bytes in all.') >"$work/www/small.txt"
for mb in $large_mb; do  # JSON lines, as a server sends in a body: LF line ends only
  head -c $((mb * 1048576)) < <(yes '{"id": 1234567, "name": "Tarven footprint line", "ok": true}') \
    >"$work/www/lf-$mb.txt"
done
start_nginx "$work" "$bin/tarven-measure"
pids+=("$nginx_pid")

# Starts an X server with a tray on a free display, and sets `display` to it.
start_display() {  # name
  local fd_file=$work/$1.display _
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fd_file" >"$work/$1.xvfb.log" 2>&1 &
  pids+=("$!")
  for _ in $(seq 100); do [ -s "$fd_file" ] && break; sleep 0.1; done
  [ -s "$fd_file" ] || { echo "footprint: Xvfb did not start" >&2; return 1; }
  display=:$(head -n 1 "$fd_file")
  DISPLAY=$display trayer --edge bottom --align right --widthtype pixel --width 100 \
    >"$work/$1.trayer.log" 2>&1 &
  pids+=("$!")
}

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
requests() { if [ -f "$work/access.log" ]; then wc -l <"$work/access.log"; else echo 0; fi; }
# Waits for the program's visible window; prints its id.
window_of() {  # pid display
  DISPLAY=$2 timeout 20 xdotool search --sync --onlyvisible --pid "$1" 2>/dev/null | head -n 1
}

# The desktop program runs from a copy, so that the description beside it is this script's.
mkdir -p "$work/tarven-bin" "$work/home" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
cp "$tarven_program" "$work/tarven-bin/tarven"
cat >"$work/tarven-bin/tarven.txt" <<DESC
TARVEN_connect: 127.0.0.1
TARVEN_port: $nginx_port
TARVEN_request: GET /small.txt?ip=%IPADDRESS% HTTP/1.0
Host: 127.0.0.1:$nginx_port
User-Agent: tarven-footprint/0.1
DESC
desktop_env=(HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
             QT_QPA_PLATFORM=xcb)

start_display tarven
tarven_display=$display
start_display bare
bare_display=$display
sleep 1
env "${desktop_env[@]}" DISPLAY="$tarven_display" "$work/tarven-bin/tarven" \
  >"$work/tarven.log" 2>&1 &
tarven_pid=$!
pids+=("$tarven_pid")
env "${desktop_env[@]}" DISPLAY="$bare_display" "$bin/tarven-bare-dialog" \
  >"$work/bare.log" 2>&1 &
bare_pid=$!
pids+=("$bare_pid")

tarven_window=$(window_of "$tarven_pid" "$tarven_display")
bare_window=$(window_of "$bare_pid" "$bare_display")
[ -n "$tarven_window" ] || { echo "footprint: the desktop program showed no window"; exit 1; }
[ -n "$bare_window" ] || { echo "footprint: the bare dialog showed no window"; exit 1; }
sleep 3
tarven_start=$(rss_kib "$tarven_pid")
bare_start=$(rss_kib "$bare_pid")
echo "after start: tarven $tarven_start KiB, bare dialog $bare_start KiB"

# TEST: the focus starts on "hide"; Tab moves it to "TEST", and each space presses it. TEST is
# disabled while a run goes on, so each press waits for the run before it to reach the server.
echo "pressing TEST $runs times"
DISPLAY=$tarven_display timeout 10 xdotool windowfocus "$tarven_window" key Tab
declare -a rss_at
done_runs=0
batch=100
while ((done_runs < runs)); do
  before=$(requests)
  DISPLAY=$tarven_display timeout 10 xdotool windowfocus "$tarven_window" key space
  for _ in $(seq 500); do
    (($(requests) > before)) && break
    sleep 0.01
  done
  if (($(requests) == before)); then
    echo "footprint: run $((done_runs + 1)) did not reach the server; stopping the runs"
    break
  fi
  done_runs=$((done_runs + 1))
  sleep 0.02  # the run's end: the request is logged at the server's close
  if ((done_runs % batch == 0 || done_runs == runs)); then
    rss_at[$done_runs]=$(rss_kib "$tarven_pid")
    echo "  after $done_runs runs: ${rss_at[$done_runs]} KiB"
  fi
done
sleep 2
tarven_after=$(rss_kib "$tarven_pid")

echo "idle for $idle_seconds s (both programs)"
tick=$(getconf CLK_TCK)
tarven_cpu0=$(cpu_ticks "$tarven_pid")
bare_cpu0=$(cpu_ticks "$bare_pid")
requests0=$(requests)
if ((strace_seconds > 0)); then
  timeout -s INT "$strace_seconds" strace -f -c -o "$work/tarven.strace" -p "$tarven_pid" \
    2>"$work/tarven.strace.err" &
  strace_tarven=$!
  timeout -s INT "$strace_seconds" strace -f -c -o "$work/bare.strace" -p "$bare_pid" \
    2>"$work/bare.strace.err" &
  strace_bare=$!
  pids+=("$strace_tarven" "$strace_bare")
fi
sleep "$idle_seconds"
if ((strace_seconds > 0)); then
  wait "$strace_tarven" 2>/dev/null || true
  wait "$strace_bare" 2>/dev/null || true
fi
tarven_cpu=$(($(cpu_ticks "$tarven_pid") - tarven_cpu0))
bare_cpu=$(($(cpu_ticks "$bare_pid") - bare_cpu0))
idle_requests=$(($(requests) - requests0))
tarven_idle_rss=$(rss_kib "$tarven_pid")

# From an strace -c summary: all calls, and the calls that wait (each return is a wake-up).
# A summary without rows means that no call was made while strace was attached.
syscalls() {
  grep -q attached "$1.err" 2>/dev/null || { echo "n/a"; return; }
  awk '$NF == "total" { n = $4 } END { print n + 0 }' "$1"
}
wakeups() {
  grep -q attached "$1.err" 2>/dev/null || { echo "n/a"; return; }
  awk '$NF ~ /^(poll|ppoll|select|pselect6|epoll_wait|epoll_pwait|futex|nanosleep|clock_nanosleep)$/ {
         n += $4 } END { print n + 0 }' "$1"
}

# Large answers with LF line ends, one fresh desktop program each.
hwm_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }
now_ms() { date +%s%3N; }
# Whether TEST is enabled: its label is black then and grey while disabled. Its place is the
# template's (50, 5, 40, 12 of 139 x 96 units), as the window keeps the template's size.
test_enabled() {  # window
  local WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(DISPLAY=$tarven_display xdotool getwindowgeometry --shell "$1")"
  local x=$((WIDTH * 55 / 139)) y=$((HEIGHT * 7 / 96))
  local w=$((WIDTH * 30 / 139)) h=$((HEIGHT * 8 / 96))
  local darkest
  darkest=$(DISPLAY=$tarven_display import -window "$1" -crop "${w}x${h}+$x+$y" \
    -colorspace Gray -format '%[fx:minima]' info: 2>/dev/null) || return 1
  awk -v d="$darkest" 'BEGIN { exit !(d < 0.25) }'
}
declare -a large_rows
if [ -n "$large_mb" ]; then
  kill "$tarven_pid" 2>/dev/null || true
  wait "$tarven_pid" 2>/dev/null || true
  mkdir -p "$work/large-bin"
  cp "$tarven_program" "$work/large-bin/tarven"
fi
for mb in $large_mb; do
  sed "s|/small.txt|/lf-$mb.txt|" "$work/tarven-bin/tarven.txt" >"$work/large-bin/tarven.txt"
  cli_runs=()
  for _ in 1 2 3; do
    cli_runs+=("$("$bin/tarven-measure" -- "$bin/tarven-cli" --file "$work/large-bin/tarven.txt")")
  done
  cli_median=$(printf '%s\n' "${cli_runs[@]}" | sort -n | sed -n 2p)
  cli_seconds=${cli_median%% *}
  cli_rss=$(cut -d' ' -f2 <<<"$cli_median")

  env "${desktop_env[@]}" DISPLAY="$tarven_display" "$work/large-bin/tarven" \
    >"$work/large-$mb.log" 2>&1 &
  large_pid=$!
  pids+=("$large_pid")
  large_window=$(window_of "$large_pid" "$tarven_display")
  [ -n "$large_window" ] || { echo "footprint: no window for the $mb MiB run"; exit 1; }
  sleep 2
  large_start=$(rss_kib "$large_pid")
  test_enabled "$large_window" || { echo "footprint: TEST does not read as enabled"; exit 1; }
  before=$(requests)
  DISPLAY=$tarven_display timeout 10 xdotool windowfocus "$large_window" key Tab space
  pressed=$(now_ms)
  worst_ping=0
  unanswered=0
  shown_ms=
  while (($(now_ms) - pressed < 600000)); do
    # The end shows once the server has sent all, TEST is enabled and the window answers.
    # Reading TEST's look takes a screen capture, some 50 ms, so it waits for the server's end.
    if answer=$(DISPLAY=$tarven_display "$bin/x11-probe" ping "$large_window" 1000); then
      ((answer > worst_ping)) && worst_ping=$answer
      if (($(requests) > before)) && test_enabled "$large_window"; then
        shown_ms=$(($(now_ms) - pressed))
        break
      fi
    else
      unanswered=$((unanswered + 1))
    fi
    (($(requests) > before)) || sleep 0.01
  done
  large_hwm=$(hwm_kib "$large_pid")
  sent=$(tail -n 1 "$work/access.log" | awk '{ print $10 }')  # nginx's body bytes sent
  [ "$sent" = $((mb * 1048576)) ] || echo "footprint: nginx sent $sent bytes of the $mb MiB answer"
  kill "$large_pid" 2>/dev/null || true
  wait "$large_pid" 2>/dev/null || true
  shown=${shown_ms:+$(awk -v m="$shown_ms" 'BEGIN { printf "%.2f", m / 1000 }')}
  large_rows+=("| $mb MiB | $large_start | $large_hwm | ${shown:-n/a} | $worst_ping | $unanswered |\
 $(awk -v s="$cli_seconds" 'BEGIN { printf "%.2f", s }') | $cli_rss |\
 $(awk -v a="${shown:-0}" -v b="$cli_seconds" 'BEGIN { printf "%.2f", a / b }') |")
  echo "  $mb MiB LF-only: peak $large_hwm KiB, shown after ${shown:-n/a} s, slowest ping $worst_ping ms;" \
    "tarven-cli $cli_seconds s, $cli_rss KiB"
done

echo
echo "== Desktop footprint (load $(cut -d' ' -f1-3 /proc/loadavg))"
echo
echo "| | tarven | bare dialog | ratio |"
echo "|---|---:|---:|---:|"
echo "| resident memory after start, KiB | $tarven_start | $bare_start |" \
  "$(awk -v a="$tarven_start" -v b="$bare_start" 'BEGIN { printf "%.2f", a / b }') |"
echo "| resident memory after $done_runs runs, KiB | $tarven_after | | |"
echo "| resident memory after the idle time, KiB | $tarven_idle_rss | | |"
echo "| CPU while idle for $idle_seconds s, ms | $((tarven_cpu * 1000 / tick)) |" \
  "$((bare_cpu * 1000 / tick)) | |"
if ((strace_seconds > 0)); then
  echo "| system calls while idle for $strace_seconds s | $(syscalls "$work/tarven.strace") |" \
    "$(syscalls "$work/bare.strace") | |"
  echo "| of them waits (wake-ups) | $(wakeups "$work/tarven.strace") |" \
    "$(wakeups "$work/bare.strace") | |"
fi
echo
echo "Resident memory of tarven by runs (KiB): start $tarven_start$(
  for r in "${!rss_at[@]}"; do printf ', %s: %s' "$r" "${rss_at[$r]}"; done)"
echo "Requests at the server while idle: $idle_requests"
if ((strace_seconds > 0)); then
  for name in tarven bare; do
    echo
    echo "strace -c of $name while idle:"
    if [ -s "$work/$name.strace" ]; then cat "$work/$name.strace"; else echo "(no calls)"; fi
  done
fi
echo
echo "Targets"
echo "- resident memory after start ≤ 1.2 × bare dialog: $(awk -v a="$tarven_start" -v b="$bare_start" \
  'BEGIN { r = a / b; printf "%.2f, %s", r, (r <= 1.2 ? "met" : "MISSED") }')"
first_batch=$((done_runs < batch ? done_runs : batch))
echo "- resident memory flat across $done_runs runs: $tarven_start → $tarven_after KiB" \
  "($(awk -v a="$tarven_start" -v b="$tarven_after" 'BEGIN { printf "%+d KiB", b - a }'));" \
  "after the first $first_batch runs: ${rss_at[$first_batch]:-n/a} → $tarven_after KiB"
echo "- no CPU while idle: $((tarven_cpu * 1000 / tick)) ms in $idle_seconds s"
if ((${#large_rows[@]} > 0)); then
  echo
  echo "Large answers with LF line ends (desktop: a fresh program each, TEST pressed once)"
  echo
  echo "| answer | RSS at start, KiB | peak RSS, KiB | end shown after, s | slowest ping, ms |" \
    "pings unanswered within 1 s | tarven-cli, s | tarven-cli peak RSS, KiB | shown / tarven-cli |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  printf '%s\n' "${large_rows[@]}"
  echo
  echo "- peak RSS at most 100 MB (97,656 KiB) whatever the answer's size; the end shown within" \
    "2 x tarven-cli's time"
fi
