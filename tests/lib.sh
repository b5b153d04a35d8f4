# Common setup for the shell tests: a private work directory and failure counting.
set -u
work=$(mktemp -d /tmp/velta-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect STATUS COMMAND...: runs the command, output in $work/out and $work/err.
expect() {
  local want=$1 got
  shift
  "$@" >"$work/out" 2>"$work/err"
  got=$?
  [ "$got" -eq "$want" ] || fail "exit $got, wanted $want: $* ($(head -c 200 "$work/err"))"
}

finish() {
  [ "$failures" -eq 0 ] && echo PASS
  exit $((failures != 0))
}
