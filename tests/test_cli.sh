#!/bin/bash
# Command line and main window of the velta binary.
#   test_cli.sh options VELTA            --help, --version and an unknown option, no display
#   test_cli.sh window VELTA CLOSER      under Xvfb: the window with and without a song
# CLOSER sends WM_DELETE_WINDOW to a window id (x11-close-window). Exit 77 = skipped.
set -u
mode=${1:?mode}
velta=$(readlink -f "${2:?velta binary}")
closer=${3:+$(readlink -f "$3")}
here=$(cd "$(dirname "$0")" && pwd)
fail=0
failed() { echo "FAIL: $*"; fail=1; }

tmp=$(mktemp -d /tmp/velta-cli.XXXXXX)
xvfb_pid=
bus_pid=
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
  [ -n "$bus_pid" ] && [ "$(cat "/proc/$bus_pid/comm" 2>/dev/null)" = dbus-daemon ] && kill "$bus_pid"
  [ -n "$xvfb_pid" ] && "$here/harness/xvfb-session.sh" stop "$xvfb_pid"
  rm -rf "$tmp"
}
trap cleanup EXIT
# Private settings and no session bus: nothing here may touch the user's files or desktop.
export XDG_CONFIG_HOME=$tmp/config DBUS_SESSION_BUS_ADDRESS=disabled: GTK_A11Y=none
export GSETTINGS_BACKEND=memory
unset VELTA_RESOURCE_DIR

options() {
  # No display: anything that reached the toolkit's start-up would fail with a message.
  unset DISPLAY WAYLAND_DISPLAY
  out=$("$velta" --help 2>"$tmp/err"); rc=$?
  [ $rc = 0 ] || failed "--help exit $rc"
  grep -q '^Usage:' <<<"$out" || failed "--help prints no usage"
  grep -q -- '--version' <<<"$out" || failed "--help does not list --version"
  [ -s "$tmp/err" ] && failed "--help wrote to stderr: $(cat "$tmp/err")"

  out=$("$velta" --version 2>"$tmp/err"); rc=$?
  [ $rc = 0 ] || failed "--version exit $rc"
  [ "$out" = "velta 0.1.0" ] || failed "--version printed '$out'"
  [ -s "$tmp/err" ] && failed "--version wrote to stderr: $(cat "$tmp/err")"

  out=$("$velta" --bogus song.mid 2>"$tmp/err"); rc=$?
  [ $rc != 0 ] || failed "--bogus exit 0"
  [ -z "$out" ] || failed "--bogus wrote to stdout: $out"
  [ "$(wc -l <"$tmp/err")" = 1 ] && grep -q -- '--bogus' "$tmp/err" ||
    failed "--bogus message: $(cat "$tmp/err")"
  [ -e "$XDG_CONFIG_HOME" ] && failed "the settings directory was created"
}

# A solid 640x470 skin, written with the standard library only.
write_skin() {
  python3 - "$1" <<'PY'
import struct, sys, zlib
w, h = 640, 470
row = b"\x00" + bytes((200, 40, 40)) * w
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(row * h)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
PY
}

# close_and_wait NAME WINDOW: closes the window as a window manager would; velta must exit 0.
close_and_wait() {
  local rc
  "$closer" "$2"
  for _ in $(seq 200); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$app" 2>/dev/null; then
    failed "$1: still running after the window was closed"
  else
    wait "$app"; rc=$?
    [ $rc = 0 ] || failed "$1: exit $rc"
  fi
  app=
}

# run_window NAME COLOR ARGS...: starts velta, checks the window, closes it, checks the exit.
run_window() {
  local name=$1 color=$2 win geometry
  shift 2
  "$velta" "$@" >"$tmp/$name.log" 2>&1 & app=$!
  if ! win=$(xh_wait_window "$app" 20); then
    failed "$name: no window"; cat "$tmp/$name.log"; app=; return
  fi
  geometry=$(xh_geometry "$win")
  [ "${geometry%%+*}" = 960x705 ] || failed "$name: geometry $geometry"
  [ "$(xh_decorations "$win")" = 0 ] || failed "$name: decorated"
  [ "$(xdotool getwindowname "$win")" = VELTA ] || failed "$name: title"
  xh_wait_pixel 480 352 "$color" 5 || failed "$name: centre pixel"
  sleep 0.3 # a few redraw ticks
  close_and_wait "$name" "$win"
  [ -s "$tmp/$name.log" ] && failed "$name printed: $(head -5 "$tmp/$name.log")"
}

window() {
  command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null &&
    [ -x "$closer" ] || { echo "SKIP: Xvfb, xdotool, ImageMagick or the closer missing"; exit 77; }
  eval "$("$here/harness/xvfb-session.sh" start)" || { echo "SKIP: Xvfb did not start"; exit 77; }
  xvfb_pid=$XVFB_PID
  . "$here/harness/x11-helpers.sh"
  local dark='srgb(18,18,24)' skin='srgb(200,40,40)'

  mkdir -p "$tmp/res" "$tmp/songs" "$tmp/empty"
  write_skin "$tmp/res/velta236_ui_skin.png"
  cp "$here/../resources/final-bowser.mid" "$tmp/res/"
  cp "$here/../resources/final-bowser.mid" "$tmp/songs/song.mid"

  # Run from an empty directory so no relative resource candidate is found by accident.
  cd "$tmp/empty" || exit 1
  VELTA_RESOURCE_DIR=$tmp/res run_window song "$skin" ../songs/song.mid
  VELTA_RESOURCE_DIR=$tmp/res run_window demo "$skin"
  run_window no-resources "$dark"
  run_window long-path "$dark" "/$(head -c 5000 /dev/zero | tr '\0' 'a')"
  run_window missing-song "$dark" "$tmp/songs/absent.mid" "$tmp/songs/song.mid"
  second_launch
}

# On a session bus a second launch hands its file to the running instance and exits.
second_launch() {
  local win count rc
  command -v dbus-daemon >/dev/null || { echo "note: no dbus-daemon, second launch not tested"; return; }
  read -r address bus_pid < <(dbus-daemon --session --fork --address="unix:path=$tmp/bus" \
    --print-address=1 --print-pid=1 | tr '\n' ' ')
  [ -n "$bus_pid" ] || { failed "second launch: no bus"; return; }
  export DBUS_SESSION_BUS_ADDRESS=$address
  VELTA_RESOURCE_DIR=$tmp/res "$velta" >"$tmp/first.log" 2>&1 & app=$!
  win=$(xh_wait_window "$app" 20) || { failed "second launch: no first window"; return; }
  for args in ../songs/song.mid ""; do
    timeout 20 "$velta" $args >"$tmp/second.log" 2>&1; rc=$?
    [ $rc = 0 ] || failed "second launch '$args': exit $rc $(cat "$tmp/second.log")"
    sleep 0.5
    count=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | wc -l)
    [ "$count" = 1 ] || failed "second launch '$args': the first instance shows $count windows"
    kill -0 "$app" 2>/dev/null || { failed "second launch '$args': first instance ended"; app=; return; }
  done
  close_and_wait second-launch "$win"
  [ -s "$tmp/first.log" ] && failed "second launch printed: $(head -5 "$tmp/first.log")"
}

case $mode in
options) options ;;
window) window ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
[ $fail = 0 ] && echo PASS
exit $fail
