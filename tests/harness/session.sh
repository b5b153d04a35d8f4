# Source me (bash): a private work directory, failure counting, and what the whole-program tests
# start (Xvfb, a private PipeWire daemon, captures, the program); all of it stops on exit.
set -u
harness=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d /tmp/velta-test.XXXXXX)
# The remembered song and the recent files stay in the test's own folder.
export XDG_STATE_HOME=$work/state XDG_DATA_HOME=$work/data
mkdir "$XDG_DATA_HOME"
failures=0 xvfb= pws_dir= app= win= recorder=
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$harness/lsan.supp:print_suppressions=0}
cleanup() {
  capture_stop
  [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
  [ -n "$pws_dir" ] && "$harness/pipewire-session.sh" stop "$pws_dir"
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
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
need() { for tool; do command -v "$tool" >/dev/null || skip "$tool missing"; done; }
# expect STATUS COMMAND...: output in $work/out and $work/err.
expect() {
  local want=$1 got
  shift
  "$@" >"$work/out" 2>"$work/err"
  got=$?
  [ "$got" -eq "$want" ] || fail "exit $got, wanted $want: $* ($(head -c 200 "$work/err"))"
}
# poll TENTHS COMMAND...: until COMMAND succeeds.
poll() {
  local i n=$1
  shift
  for ((i = 0; i < n * 5; i++)); do "$@" && return 0; sleep 0.02; done
  return 1
}

# The minor version of the GTK the build found (VELTA_GTK_VERSION, set by CMake), else of the
# installed one.
gtk_minor=$(cut -d. -f2 <<<"${VELTA_GTK_VERSION:-$(pkg-config --modversion gtk4 2>/dev/null)}")
gtk_minor=${gtk_minor:-0}
# start_display: a private Xvfb (no window manager) and a quiet, GL-free toolkit; private settings.
# GTK 4.16 turned GL off with GDK_DISABLE and rejects the older GDK_DEBUG key. The test
# accessibility backend, not none: without an accessibility context GTK 4.18 never frees a
# mnemonic label's list.
start_display() {
  need Xvfb xdotool import
  Xvfb -displayfd 3 -screen 0 "${XVFB_SCREEN:-1280x1024x24}" -nolisten tcp -noreset \
    3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  poll 50 test -s "$work/display" || skip "Xvfb did not start"
  if [ "$gtk_minor" -ge 16 ]; then export GDK_DISABLE=gl; else export GDK_DEBUG=gl-disable; fi
  export DISPLAY=:$(cat "$work/display") GTK_A11Y=test GSK_RENDERER=cairo \
    GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 DBUS_SESSION_BUS_ADDRESS=${DBUS_SESSION_BUS_ADDRESS:-disabled:}
}
# start_audio [RATE]: PipeWire with a null sink, the graph at RATE (default 48000).
start_audio() {
  need pipewire wireplumber pw-record pw-dump dbus-daemon
  eval "$(PWS_RATE=${1:-48000} "$harness/pipewire-session.sh" start)" || skip "PipeWire did not start"
  pws_dir=$PWS_DIR
  export XDG_CONFIG_HOME=$work/config
}
capture_start() { recorder=$("$harness/pipewire-session.sh" capture "$1" "$2") || fail "capture"; }
capture_stop() {
  [ -z "$recorder" ] || "$harness/pipewire-session.sh" uncapture "$recorder"
  recorder=
}

# start_app PROGRAM ARGS...: output in $work/app.log; sets app and win, its first window.
start_app() {
  "$@" >"$work/app.log" 2>&1 &
  app=$!
  poll 200 eval 'window_of $app >/dev/null' || { fail "no window for $*: $(head -c 500 "$work/app.log")"; return 1; }
  win=$(window_of "$app")
}
window_of() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -1 | grep .; }
# app_exits WHAT: the program ends by itself with status 0.
app_exits() {
  poll 100 eval '! kill -0 $app 2>/dev/null' || { fail "$1: still running"; kill "$app"; wait "$app"; app=; return 1; }
  wait "$app" || { fail "$1: exit $?"; tail -n 30 "$work/app.log"; }
  app=
}
# click U V [COUNT]: at skin units in the window at +0+0 (scale 1.5). No --sync: mousemove --sync
# to where the pointer already is blocks.
click() { xdotool mousemove $(($1 * 3 / 2)) $(($2 * 3 / 2)) click --repeat "${3:-1}" --delay 60 1; }
# key KEY...: real key events; the window needs the focus first (no window manager gives it).
key() { xdotool windowfocus --sync "$win" key "$@"; }
# pixels FILE X Y [X Y]...: their colours, e.g. srgb(255,0,0).
pixels() {
  local file=$1 format=
  shift
  while [ $# -gt 1 ]; do format+="%[pixel:p{$1,$2}] "; shift 2; done
  convert "$file" -alpha off -format "$format" info:
}
