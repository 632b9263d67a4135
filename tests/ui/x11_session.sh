# What both desktop tests need around the program: a private X server with a tray host, and
# the loopback peers. Sourced; the caller has set `work` (its temporary folder) and `pids`
# (what its cleanup kills), and defines nothing of these names itself.

fail() {
  echo "desktop test: FAILED: $*"
  exit 1
}

# Polls a command every 0.1 s until it succeeds or `seconds` have passed.
wait_for() {
  local tries=$(($1 * 10))
  shift
  while ((tries-- > 0)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# Starts the program a second time (the caller's `start_tarven`, which sets tarven_pid): it must
# end with 0 within `seconds` and show the first one's window (the caller's `viewable`).
# tarven_pid is the first program's again afterwards.
second_start_shows_first() {  # seconds
  local first_pid=$tarven_pid second_pid status
  start_tarven second
  second_pid=$tarven_pid
  tarven_pid=$first_pid
  second_ended() { ! kill -0 "$second_pid" 2>/dev/null; }
  wait_for "$1" second_ended || fail "a second start did not end"
  wait "$second_pid"
  status=$?
  [ "$status" = 0 ] || fail "a second start ended with $status: $(cat "$work/second.log")"
  wait_for 10 viewable || fail "a second start did not show the first window"
}

# Starts Xvfb on a display number in FIRST..LAST that no server holds, with a cookie so that
# only this test can connect, and exports DISPLAY and XAUTHORITY.
start_private_xvfb() {  # first last
  export XAUTHORITY=$work/Xauthority
  touch "$XAUTHORITY"
  local n xvfb
  for n in $(seq "$1" "$2"); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    xauth -q add ":$n" . "$(mcookie)" || fail "xauth"
    Xvfb ":$n" -auth "$XAUTHORITY" -screen 0 640x480x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    if wait_for 10 xdpyinfo -display ":$n"; then
      pids+=("$xvfb")
      export DISPLAY=:$n
      return 0
    fi
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  done
  fail "no free display for Xvfb"
}

# Starts the tray host and waits until it shows. On a loaded machine trayer has at times not
# shown at all; a second one then does.
start_trayer() {
  local try
  for try in 1 2; do
    trayer --edge top --align right --widthtype pixel --width 64 --height 24 \
      --SetDockType true --transparent false >>"$work/trayer.log" 2>&1 &
    trayer_pid=$!
    pids+=("$trayer_pid")
    wait_for $((try * 15)) xdotool search --onlyvisible --class trayer && return 0
    kill "$trayer_pid" 2>/dev/null
  done
  fail "trayer did not show: $(cat "$work/trayer.log")"
}

# Loopback peers, each writing its port to WORK/KIND.port and what it received to
# WORK/KIND.log: one that answers at once, one that trickles eight lines over four seconds,
# one that stays silent after the header.
start_peers() {  # peer program
  local kind
  for kind in peer trickle silent; do
    case $kind in
      peer) "$1" >"$work/$kind.port" 2>"$work/$kind.log" & ;;
      trickle) "$1" --trickle 8 >"$work/$kind.port" 2>"$work/$kind.log" & ;;
      silent) "$1" --silent >"$work/$kind.port" 2>"$work/$kind.log" & ;;
    esac
    pids+=("$!")
    wait_for 10 test -s "$work/$kind.port" || fail "the $kind peer did not start"
  done
}
