#!/bin/sh
# wine-test.sh PREFIX PROGRAM [ARGS...]: runs a test program as wine-run.sh does, and once more
# if it failed before writing a byte. The suites write their first line as main starts, so that
# is Wine failing to start the program: a CI run once saw a case fail after 0.01 s with no
# output at all, which no test of ours can do. The second start's result stands.
here=$(dirname "$0")
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for try in 1 2; do
  "$here/wine-run.sh" "$@" >"$out" 2>"$err"
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$try" -eq 2 ]; then
    break
  fi
  echo "wine-test.sh: Wine ended $2 with status $status before it wrote anything;" \
    "starting it once more" >&2
done
cat "$out"
cat "$err" >&2
exit "$status"
