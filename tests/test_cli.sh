#!/bin/bash
# Command line and main window of the velta binary.
#   test_cli.sh options VELTA            --help, --version and an unknown option, no display
#   test_cli.sh window VELTA CLOSER      under Xvfb: the window with and without a song
# CLOSER sends WM_DELETE_WINDOW to a window id (x11-close-window). Exit 77 = skipped.
mode=${1:?mode}
velta=$(readlink -f "${2:?velta binary}")
closer=${3:+$(readlink -f "$3")}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/harness/session.sh"
bus_pid=
on_exit() {
  [ -n "$bus_pid" ] && [ "$(cat "/proc/$bus_pid/comm" 2>/dev/null)" = dbus-daemon ] && kill "$bus_pid"
}
# Private settings and no session bus: nothing here may touch the user's files or desktop.
export XDG_CONFIG_HOME=$work/config DBUS_SESSION_BUS_ADDRESS=disabled: GTK_A11Y=none
export GSETTINGS_BACKEND=memory
unset VELTA_RESOURCE_DIR

options() {
  # No display: anything that reached the toolkit's start-up would fail with a message.
  unset DISPLAY WAYLAND_DISPLAY
  expect 0 "$velta" --help
  grep -q '^Usage:' "$work/out" && grep -q -- '--version' "$work/out" && [ ! -s "$work/err" ] ||
    fail "--help: $(cat "$work/out" "$work/err")"
  expect 0 "$velta" --version
  [ "$(cat "$work/out")" = "velta 0.1.0" ] && [ ! -s "$work/err" ] || fail "--version"
  expect 1 "$velta" --bogus song.mid
  [ ! -s "$work/out" ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -q -- '--bogus' "$work/err" ||
    fail "--bogus message: $(cat "$work/err")"
  [ -e "$XDG_CONFIG_HOME" ] && fail "the settings directory was created"
}

# close_and_wait NAME WINDOW: closes the window as a window manager would; velta must exit 0.
close_and_wait() {
  "$closer" "$2"
  for _ in $(seq 200); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$app" 2>/dev/null; then
    fail "$1: still running after the window was closed"
  else
    wait "$app" || fail "$1: exit $?"
  fi
  app=
}

# run_window NAME COLOR ARGS...: starts velta, checks the window, closes it, checks the exit.
run_window() {
  local name=$1 color=$2 win
  shift 2
  "$velta" "$@" >"$work/$name.log" 2>&1 &
  app=$!
  win=$(xh_wait_window "$app" 20) || { fail "$name: no window $(cat "$work/$name.log")"; app=; return; }
  [ "$(xh_geometry "$win" | cut -d+ -f1)" = 960x705 ] || fail "$name: geometry"
  [ "$(xh_decorations "$win")" = 0 ] || fail "$name: decorated"
  [ "$(xdotool getwindowname "$win")" = VELTA ] || fail "$name: title"
  xh_wait_pixel 480 352 "$color" 5 || fail "$name: centre pixel"
  sleep 0.3 # a few redraw ticks
  close_and_wait "$name" "$win"
  [ -s "$work/$name.log" ] && fail "$name printed: $(head -5 "$work/$name.log")"
}

window() {
  command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null &&
    [ -x "$closer" ] || { echo "SKIP: Xvfb, xdotool, ImageMagick or the closer missing"; exit 77; }
  start_display
  mkdir -p "$work/res" "$work/songs" "$work/empty" "$work/bin"
  # A copy with no assets beside it, so only the resource directories set up here are found.
  cp "$velta" "$work/bin/velta"
  velta=$work/bin/velta
  # A solid red 640x470 skin, written with the standard library only.
  python3 - "$work/res/velta236_ui_skin.png" <<'PY'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 640, 470, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress((b"\x00" + bytes((200, 40, 40)) * 640) * 470))
open(sys.argv[1], "wb").write(png + chunk(b"IEND", b""))
PY
  python3 "$here/support/make_midi.py" "$work/songs" melodic >/dev/null || fail "make_midi.py"
  cp "$work/songs/melodic.mid" "$work/res/final-bowser.mid"
  mv "$work/songs/melodic.mid" "$work/songs/song.mid"

  # Run from an empty directory so no relative resource candidate is found by accident.
  cd "$work/empty" || exit 1
  local panel='srgb(223,130,95)' skin='srgb(200,40,40)' # panel: no skin
  VELTA_RESOURCE_DIR=$work/res run_window song "$skin" ../songs/song.mid
  VELTA_RESOURCE_DIR=$work/res run_window demo "$skin"
  run_window no-resources "$panel"
  run_window long-path "$panel" "/$(head -c 5000 /dev/zero | tr '\0' 'a')"
  run_window missing-song "$panel" "$work/songs/absent.mid" "$work/songs/song.mid"

  # On a session bus a second launch hands its file to the running instance and exits.
  command -v dbus-daemon >/dev/null || { echo "note: no dbus-daemon, second launch untested"; return; }
  read -r address bus_pid < <(dbus-daemon --session --fork --address="unix:path=$work/bus" \
    --print-address=1 --print-pid=1 | tr '\n' ' ')
  export DBUS_SESSION_BUS_ADDRESS=$address
  VELTA_RESOURCE_DIR=$work/res "$velta" >"$work/first.log" 2>&1 &
  app=$!
  win=$(xh_wait_window "$app" 20) || { fail "second launch: no first window"; return; }
  for args in ../songs/song.mid ""; do
    expect 0 timeout 20 "$velta" $args
    sleep 0.5
    [ "$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | wc -l)" = 1 ] ||
      fail "second launch '$args': the first instance does not show one window"
  done
  close_and_wait second-launch "$win"
}

case $mode in
options) options ;;
window) window ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
finish
