# Source me (bash): a private work directory, failure counting, and the sessions the shell tests
# start (Xvfb, a PipeWire daemon, a capture, the program); whatever was started stops on exit.
set -u
harness=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d /tmp/velta-test.XXXXXX)
failures=0 xvfb_pid= pws_dir= app= recorder=
cleanup() {
  [ -n "$recorder" ] && "$harness/capture.sh" stop "$recorder"
  [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
  declare -F on_exit >/dev/null && on_exit
  [ -n "$pws_dir" ] && "$harness/pipewire-session.sh" stop "$pws_dir"
  [ -n "$xvfb_pid" ] && "$harness/xvfb-session.sh" stop "$xvfb_pid"
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; exit 77; }
finish() {
  [ "$failures" -eq 0 ] && echo PASS
  exit $((failures != 0))
}
# need TOOL...: skipped when one is missing.
need() { for tool; do command -v "$tool" >/dev/null || skip "$tool missing"; done; }

# expect STATUS COMMAND...: runs the command, output in $work/out and $work/err.
expect() {
  local want=$1 got
  shift
  "$@" >"$work/out" 2>"$work/err"
  got=$?
  [ "$got" -eq "$want" ] || fail "exit $got, wanted $want: $* ($(head -c 200 "$work/err"))"
}

# start_display: a private Xvfb server, and the X11 helpers.
start_display() {
  eval "$("$harness/xvfb-session.sh" start)" || skip "Xvfb did not start"
  xvfb_pid=$XVFB_PID
  . "$harness/x11-helpers.sh"
}
# start_audio [RATE]: a private PipeWire daemon whose graph runs at RATE (default 48000).
start_audio() {
  eval "$(PWS_RATE=${1:-48000} "$harness/pipewire-session.sh" start)" || skip "PipeWire did not start"
  pws_dir=$PWS_DIR
}
# capture_start FILE RATE / capture_stop: records the null sink.
capture_start() { recorder=$("$harness/capture.sh" start "$1" "$2") || { fail "capture"; return 1; }; }
capture_stop() { [ -n "$recorder" ] && "$harness/capture.sh" stop "$recorder"; recorder=; }
# start_app LOG COMMAND...: runs the program in the background; sets app and win (its window).
start_app() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 &
  app=$!
  win=$(xh_wait_window "$app" 20) || { fail "no window: $(head -c 500 "$log")"; return 1; }
}
