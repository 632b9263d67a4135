#!/usr/bin/env bash
# The end-to-end benchmark behind `make bench`. Builds the release preset, runs the
# micro-benchmarks, then starts its own nginx on 127.0.0.1 and has the clients fetch the same
# answers with the same request, in turn within each round: tarven-cli, curl and a floor client
# (connect, send, readiness wait plus a 512-byte receive, nothing else). Then the same answers
# over HTTPS against a throw-away certificate made here, with the TLS floor client (the same
# OpenSSL and checks, then 512-byte SSL_reads). Prints medians, the goals with their verdicts,
# and tarven-cli.exe under Wine for the plain cases when a Windows build is there.
#
# Environment: BENCH_RUNS (runs per client and case, 30), BENCH_MICRO=0 (skip the
# micro-benchmarks), BENCH_LARGE_MB (size of the large answers, 50), BENCH_BEFORE (another
# tarven-cli, such as an earlier build, measured in the same rounds), BENCH_WINE_RUNS (runs per
# case under Wine, 1: a 50 MB run takes about a minute there; 0 skips them).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${BENCH_RUNS:-30}
large_mb=${BENCH_LARGE_MB:-50}
wine_runs=${BENCH_WINE_RUNS:-1}
before_cli=${BENCH_BEFORE:-}
if [ -n "$before_cli" ]; then
  before_cli=$(realpath "$before_cli")
  [ -x "$before_cli" ] || { echo "bench: BENCH_BEFORE is not a program: $before_cli"; exit 1; }
fi
build_dir=build/release
bin=$build_dir/bin

# Everything comes from Debian 12 packages.
source bench/common.sh
require_packages cmake g++ make libbenchmark-dev nginx-light curl openssl

cmake --preset release >/dev/null
cmake --build --preset release -j2

echo
echo "== Machine"
echo "cores: $(nproc), CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "memory: $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

if [ "${BENCH_MICRO:-1}" != 0 ]; then
  echo
  echo "== Micro-benchmarks"
  "$bin/tarven_bench"
  if [ -x "$bin/tarven_bench_qt" ]; then
    QT_QPA_PLATFORM=offscreen "$bin/tarven_bench_qt"
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarven-bench-XXXXXX")
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The answers: 300 bytes; lines of text with CR LF so that the log's trimming runs too; and
# JSON lines with LF only, as a body usually comes.
mkdir -p "$work/www" "$work/temp"
head -c 300 < <(yes 'Tarven benchmark answer, three hundred bytes in all.') >"$work/www/small.txt"
head -c $((large_mb * 1024 * 1024)) \
  < <(yes $'0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 ..\r') \
  >"$work/www/large.txt"
head -c $((large_mb * 1024 * 1024)) \
  < <(yes '{"id": 1234567, "name": "Tarven benchmark line", "ok": true, "n": 42}') \
  >"$work/www/lf.txt"

# A throw-away self-signed certificate for 127.0.0.1, trusted by both clients through a file.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/tls.key" -out "$work/tls.pem" 2>/dev/null

start_nginx "$work" "$bin/tarven-measure"
port=$nginx_port
tls_port=$nginx_tls_port

# One request for all three clients: tarven fills in this machine's address, and the bytes it
# logs as sent become the floor client's request and curl's options.
agent="tarven-bench/0.1"
padding="request-padding-to-about-two-hundred-bytes-0123456789abcdefghijklmnopqrstuvwxyz"
describe() {  # path on the server, description file
  cat >"$2" <<DESC
TARVEN_connect: 127.0.0.1
TARVEN_port: $port
TARVEN_request: GET $1?ip=%IPADDRESS% HTTP/1.0
Host: 127.0.0.1:$port
User-Agent: $agent
Accept: */*
X-Bench: $padding
DESC
}
sent_request() {  # tarven log -> the request bytes it sent
  sed -n '/^\*\* Connceted\./,/^\r$/p' "$1" | tail -n +2
}
for name in small large lf; do
  describe "/$name.txt" "$work/$name-tarven.txt"
  "$bin/tarven-cli" --file "$work/$name-tarven.txt" >"$work/$name-check.log" ||
    { echo "bench: tarven-cli failed:"; cat "$work/$name-check.log"; exit 1; }
  sent_request "$work/$name-check.log" >"$work/$name-request.bin"
  request_line=$(head -n 1 "$work/$name-request.bin" | tr -d '\r')
  printf -v "${name}_target" '%s' "http://127.0.0.1:$port${request_line#GET }"
done
small_url=${small_target% HTTP/1.0}
large_url=${large_target% HTTP/1.0}
lf_url=${lf_target% HTTP/1.0}

curl_args=(-s --http1.0 -H "Host: 127.0.0.1:$port" -A "$agent" -H "Accept: */*"
           -H "X-Bench: $padding" -o /dev/null)

echo
echo "== Checks"
echo "request bytes: $(wc -c <"$work/small-request.bin") (small), $(wc -c <"$work/large-request.bin") (large)"
curl "${curl_args[@]}" -v "$small_url" 2>&1 | sed -n 's/^> //p' >"$work/curl-request.txt"
# curl -v shows each line sent after "> ", with its CR.
if cmp -s "$work/small-request.bin" "$work/curl-request.txt"; then
  echo "curl sends the same request bytes as tarven-cli: yes"
else
  echo "curl sends the same request bytes as tarven-cli: NO"
  diff "$work/small-request.bin" "$work/curl-request.txt" | cat -A || true
fi
large_bytes=$(wc -c <"$work/www/large.txt")
"$bin/tarven-floor-client" 127.0.0.1 "$port" "$work/large-request.bin" >"$work/floor.out"
curl "${curl_args[@]/\/dev\/null/$work/curl.out}" "$large_url"
echo "large answer received whole: tarven-cli $(grep -c $'^0123456789 abc' "$work/large-check.log") lines," \
  "floor $(tail -c "$large_bytes" "$work/floor.out" | cmp -s - "$work/www/large.txt" && echo yes || echo NO)," \
  "curl $(cmp -s "$work/curl.out" "$work/www/large.txt" && echo yes || echo NO)" \
  "(the answer has $(grep -c . "$work/www/large.txt") lines)"
echo "LF-only answer received whole: tarven-cli $(grep -c '^{"id"' "$work/lf-check.log") lines" \
  "(the answer has $(grep -c . "$work/www/lf.txt") lines)"
rm -f "$work/floor.out" "$work/curl.out" "$work/large-check.log" "$work/lf-check.log"

# The HTTPS cases: the same requests to the TLS port, verified against the throw-away
# certificate; curl and the TLS floor client get the same trust file.
for name in small large; do
  sed -e "s/^TARVEN_port: .*/TARVEN_port: $tls_port\nTARVEN_tls: on\nTARVEN_cafile: ${work//\//\\/}\/tls.pem/" \
    -e "s/^Host: .*/Host: 127.0.0.1:$tls_port/" "$work/$name-tarven.txt" >"$work/$name-tls-tarven.txt"
  sed -e "s/^Host: .*\r$/Host: 127.0.0.1:$tls_port\r/" "$work/$name-request.bin" \
    >"$work/$name-tls-request.bin"
done
"$bin/tarven-cli" --file "$work/small-tls-tarven.txt" >"$work/small-tls-check.log" ||
  { echo "bench: tarven-cli over TLS failed:"; cat "$work/small-tls-check.log"; exit 1; }
tls_line=$(grep -a '^\*\* TLS' "$work/small-tls-check.log" | tr -d '\r')
echo "TLS: $tls_line"
small_tls_url=https://127.0.0.1:$tls_port${small_url#http://127.0.0.1:$port}
large_tls_url=https://127.0.0.1:$tls_port${large_url#http://127.0.0.1:$port}
tls_curl_args=(-s --http1.0 --cacert "$work/tls.pem" -H "Host: 127.0.0.1:$tls_port" -A "$agent"
               -H "Accept: */*" -H "X-Bench: $padding" -o /dev/null)
tls_floor() {  # case name
  "$bin/tarven-tls-floor-client" 127.0.0.1 "$tls_port" "$work/$1-tls-request.bin" "$work/tls.pem"
}
tls_floor large >"$work/floor.out" || { echo "bench: the TLS floor client failed"; exit 1; }
echo "large answer over TLS received whole by the TLS floor client:" \
  "$(tail -c "$large_bytes" "$work/floor.out" | cmp -s - "$work/www/large.txt" && echo yes || echo NO)"
rm -f "$work/floor.out"

# One run of a client in a case: "client seconds rss_kib status".
run_client() {  # client case
  local client=$1 name=$2 tls=${2%-tls} cli
  case $client in
    tarven | before)
      cli=$bin/tarven-cli
      [ "$client" = before ] && cli=$before_cli
      echo "$client $("$bin/tarven-measure" -- "$cli" --file "$work/$name-tarven.txt")" ;;
    curl)
      if [ "$tls" != "$name" ]; then
        local url_var=${tls}_tls_url
        echo "curl $("$bin/tarven-measure" -- curl "${tls_curl_args[@]}" "${!url_var}")"
      else
        local url_var=${name}_url
        echo "curl $("$bin/tarven-measure" -- curl "${curl_args[@]}" "${!url_var}")"
      fi ;;
    floor)
      echo "floor $("$bin/tarven-measure" -- "$bin/tarven-floor-client" 127.0.0.1 "$port" \
        "$work/$name-request.bin")" ;;
    tlsfloor)
      echo "tlsfloor $("$bin/tarven-measure" -- "$bin/tarven-tls-floor-client" 127.0.0.1 \
        "$tls_port" "$work/$tls-tls-request.bin" "$work/tls.pem")" ;;
    wine)
      echo "wine $("$bin/tarven-measure" -- "$wine_run" "$wine_prefix" "$wine_cli" --file \
        "$(WINEPREFIX=$wine_prefix winepath -w "$work/$name-tarven.txt" 2>/dev/null)")" ;;
  esac
}
# Each round runs every client once, so that the load falls on all of them alike; the results
# file gets "round client seconds rss_kib status" lines.
measure() {  # case rounds client...
  local name=$1 rounds=$2 i client
  shift 2
  local out=$work/$name.results
  : >"$out"
  for ((i = 0; i < rounds; i++)); do
    for client in "$@"; do
      echo "$i $(run_client "$client" "$name")" >>"$out"
    done
  done
  if awk '$5 != 0 { bad = 1 } END { exit !bad }' "$out"; then
    echo "bench: some runs of the $name case failed:"
    awk '$5 != 0' "$out"
  fi
}
median() {  # results file, client, column
  awk -v c="$2" -v k="$3" '$2 == c { print $k }' "$1" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# The median over rounds of a's wall time over b's in the same round: steadier under a shifting
# load than a ratio of medians. a and b are "case:client".
paired() {  # a b
  awk -v ac="${1#*:}" -v bc="${2#*:}" -v af="$work/${1%%:*}.results" -v bf="$work/${2%%:*}.results" '
    FILENAME == af && $2 == ac { a[$1] = $3 }
    FILENAME == bf && $2 == bc { b[$1] = $3 }
    END { for (r in a) if (r in b && b[r] > 0) print a[r] / b[r] }' \
    "$work/${1%%:*}.results" "$work/${2%%:*}.results" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR % 2) m = v[(NR + 1) / 2]; else m = (v[NR / 2] + v[NR / 2 + 1]) / 2
                              printf "%.2f", m }'
}

tarven_clients=(tarven)
[ -n "$before_cli" ] && tarven_clients+=(before)
echo
echo "== Measuring: $runs rounds per case, each client once a round"
measure small "$runs" "${tarven_clients[@]}" curl floor
measure large "$runs" "${tarven_clients[@]}" curl floor
measure lf "$runs" "${tarven_clients[@]}" curl floor
measure small-tls "$runs" "${tarven_clients[@]}" curl tlsfloor
measure large-tls "$runs" "${tarven_clients[@]}" curl tlsfloor
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

declare -A label=([tarven]=tarven-cli [before]="tarven-cli before" [curl]=curl
                  [floor]="floor client" [tlsfloor]="TLS floor client" [wine]="tarven-cli.exe, Wine")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
ms() { awk -v s="$1" 'BEGIN { printf "%.2f", s * 1000 }'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t ? "met" : "MISSED") }'; }
# A table of one case: wall time, its ratio to the floor and to curl, peak RSS and its ratio.
case_table() {  # case floor-client client...
  local name=$1 floor=$2 client
  shift 2
  local results=$work/$name.results
  local curl_rss floor_wall
  curl_rss=$(median "$results" curl 4)
  floor_wall=$(median "$results" "$floor" 3)
  echo "| client | wall ms | × ${label[$floor]} | × curl | peak RSS KiB | × curl |"
  echo "|---|---:|---:|---:|---:|---:|"
  for client in "$@"; do
    local wall rss
    wall=$(median "$results" "$client" 3)
    rss=$(median "$results" "$client" 4)
    echo "| ${label[$client]} | $(ms "$wall") | $(paired "$name:$client" "$name:$floor") |" \
      "$(paired "$name:$client" "$name:curl") | $rss | $(ratio "$rss" "$curl_rss") |"
  done
}

tls_shown=${tls_line#\*\* TLS: }
echo
echo "== Results (medians of $runs rounds; ratios are medians of the same round's ratios; load $load_after)"
echo
echo "Small exchange: $(wc -c <"$work/small-request.bin")-byte request, 300-byte answer"
echo
case_table small floor "${tarven_clients[@]}" curl floor
echo
echo "$large_mb MB answer (${large_bytes} bytes) of CR LF lines"
echo
case_table large floor "${tarven_clients[@]}" curl floor
echo
echo "$large_mb MB answer of LF-only lines"
echo
case_table lf floor "${tarven_clients[@]}" curl floor
echo
echo "Small HTTPS exchange (${tls_shown%.})"
echo
case_table small-tls tlsfloor "${tarven_clients[@]}" curl tlsfloor
echo
echo "$large_mb MB HTTPS answer of CR LF lines"
echo
case_table large-tls tlsfloor "${tarven_clients[@]}" curl tlsfloor

# The goals: each figure for tarven-cli and, with BENCH_BEFORE, for the earlier build.
plain_rss() {  # client: the largest median peak RSS of the plain cases
  local name m=0 v
  for name in small large lf; do
    v=$(median "$work/$name.results" "$1" 4)
    ((v > m)) && m=$v
  done
  echo "$m"
}
goal_figures() {  # client; prints the eight figures, one a line
  paired "large:$1" large:floor; echo
  paired "lf:$1" lf:floor; echo
  paired "small:$1" small:floor; echo
  plain_rss "$1"
  paired "small-tls:$1" small-tls:tlsfloor; echo
  ratio "$(median "$work/small-tls.results" "$1" 4)" "$(median "$work/small-tls.results" curl 4)"; echo
  paired "large-tls:$1" large-tls:tlsfloor; echo
  paired "large-tls:$1" "large:$1"; echo
}
goal_names=("$large_mb MB plain answer, CR LF: wall ≤ 1.2 × floor"
            "$large_mb MB plain answer, LF only: wall ≤ 1.2 × floor"
            "small plain exchange: wall ≤ 1.5 × floor"
            "plain run: peak RSS ≤ 3.5 MiB (3584 KiB)"
            "small HTTPS exchange: wall ≤ 1.1 × TLS floor"
            "small HTTPS exchange: peak RSS ≤ 0.75 × curl"
            "$large_mb MB over TLS: wall ≤ 1.5 × TLS floor"
            "$large_mb MB over TLS: wall ≤ 1.3 × tarven-cli's own plain time")
goal_limits=(1.2 1.2 1.5 3584 1.1 0.75 1.5 1.3)
mapfile -t after < <(goal_figures tarven)
before=()
[ -n "$before_cli" ] && mapfile -t before < <(goal_figures before)
echo
echo "== Goals (same rounds as above)"
echo
if [ -n "$before_cli" ]; then
  echo "| goal | before | tarven-cli | result |"
  echo "|---|---:|---:|---|"
else
  echo "| goal | tarven-cli | result |"
  echo "|---|---:|---|"
fi
for i in "${!goal_names[@]}"; do
  echo "| ${goal_names[$i]} |${before_cli:+ ${before[$i]} |} ${after[$i]} |" \
    "$(verdict "${after[$i]}" "${goal_limits[$i]}") |"
done
echo
rss_large=$(median "$work/large.results" tarven 4)
rss_small=$(median "$work/small.results" tarven 4)
echo "- tarven-cli peak RSS not growing with the answer: $rss_large KiB for $large_mb MB against" \
  "$rss_small KiB for 300 bytes ($(verdict "$rss_large" "$((rss_small + 512))"))"

# tarven-cli.exe under Wine, for information: Wine's own start and its system-call layer are
# not the program's. A wineserver kept running keeps its start out of each run.
echo
echo "== Windows: tarven-cli.exe under Wine (information, no goal)"
wine_cli=""
for dir in build/windows-release build/windows; do
  if [ -x "$dir/bin/tarven-cli.exe" ]; then
    wine_cli=$PWD/$dir/bin/tarven-cli.exe
    wine_prefix=$PWD/$dir/wineprefix
    break
  fi
done
if ((wine_runs == 0)); then
  echo "skipped: BENCH_WINE_RUNS=0"
elif [ -z "$wine_cli" ]; then
  echo "skipped: no build/windows*/bin/tarven-cli.exe (make build-windows builds it)"
elif ! command -v wine >/dev/null; then
  echo "skipped: wine is not installed (make deps-windows)"
else
  wine_run=$PWD/scripts/wine-run.sh
  [ -f "$wine_prefix/system.reg" ] ||
    "$wine_run" "$wine_prefix" cmd /c exit </dev/null >/dev/null 2>&1 || true
  # It fails when a wineserver of this prefix runs already, which serves as well.
  WINEPREFIX=$wine_prefix wineserver -p 2>/dev/null || true
  "$wine_run" "$wine_prefix" cmd /c exit </dev/null >/dev/null 2>&1 || true
  wine_kill() { WINEPREFIX=$wine_prefix wineserver -k 2>/dev/null || true; }
  trap 'wine_kill; cleanup' EXIT
  echo "$wine_cli ($(basename "$(dirname "$(dirname "$wine_cli")")")), $wine_runs rounds per case," \
    "beside the Linux build; $(wine --version 2>/dev/null)"
  "$wine_run" "$wine_prefix" "$wine_cli" --file \
    "$(WINEPREFIX=$wine_prefix winepath -w "$work/small-tarven.txt" 2>/dev/null)" \
    >"$work/wine-check.log" 2>&1 || true
  echo "small exchange under Wine: $(grep -a -c '' "$work/wine-check.log") lines logged" \
    "(Linux: $(grep -a -c '' "$work/small-check.log"))"
  for name in small large lf; do
    mv "$work/$name.results" "$work/$name.linux.results"
    measure "$name" "$wine_runs" tarven wine floor
  done
  echo
  echo "| case | tarven-cli.exe, Wine, ms | tarven-cli, Linux, ms | Wine × Linux | Wine × floor | Wine peak RSS KiB |"
  echo "|---|---:|---:|---:|---:|---:|"
  for name in small large lf; do
    echo "| $name | $(ms "$(median "$work/$name.results" wine 3)") |" \
      "$(ms "$(median "$work/$name.results" tarven 3)") | $(paired "$name:wine" "$name:tarven") |" \
      "$(paired "$name:wine" "$name:floor") | $(median "$work/$name.results" wine 4) |"
  done
fi
