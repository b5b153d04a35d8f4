#!/bin/bash
# Desktop media controls against a private session bus: playerctl drives and reads the player,
# gdbus introspect shows both interfaces, PropertiesChanged and Seeked arrive, and without a
# session bus the window runs silently.
#   test_mpris.sh VELTA SONG.mid [keys]   ("keys": also press Space in the window)  77 = skipped
velta=$(readlink -f "${1:?velta binary}")
song=$(readlink -f "${2:?a MIDI file}")
keys=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/harness/session.sh"
monitor=
on_exit() {
  [ -n "$monitor" ] && kill "$monitor" 2>/dev/null
}
need Xvfb xdotool pipewire wireplumber dbus-daemon playerctl gdbus
start_display
start_audio
export GTK_A11Y=none GSETTINGS_BACKEND=memory XDG_CONFIG_HOME=$work/config
cp "$song" "$work/song.mid"

"$velta" "$work/song.mid" >"$work/velta.log" 2>&1 &
app=$!
win=$(xh_wait_window "$app" 20) || { fail "no window $(cat "$work/velta.log")"; finish; }
for _ in $(seq 100); do playerctl -l 2>/dev/null | grep -qx velta && break; sleep 0.05; done
pc() { playerctl -p velta "$@" 2>&1; }
# settle PROPERTY VALUE: waits for the player to report it.
settle() {
  local got
  for _ in $(seq 40); do got=$(pc "$1"); [ "$got" = "$2" ] && return 0; sleep 0.05; done
  fail "$1: '$got', wanted '$2'"
}

gdbus introspect --session --dest org.mpris.MediaPlayer2.velta --object-path /org/mpris/MediaPlayer2 \
  >"$work/introspect" || fail "gdbus introspect"
for interface in org.mpris.MediaPlayer2 org.mpris.MediaPlayer2.Player; do
  grep -q "interface $interface {" "$work/introspect" || fail "no $interface"
done
grep -q "Identity = 'VELTA'" "$work/introspect" || fail "Identity"
grep -q "DesktopEntry = 'io.github.velta.Velta'" "$work/introspect" || fail "DesktopEntry"

dbus-monitor --session "type='signal',sender='org.mpris.MediaPlayer2.velta'" >"$work/signals" 2>&1 &
monitor=$!
sleep 0.3
settle status Stopped
[ "$(pc metadata xesam:title)" = song.mid ] || fail "title: $(pc metadata xesam:title)"
[ "$(pc metadata xesam:url)" = "file://$work/song.mid" ] || fail "url: $(pc metadata xesam:url)"
length=$(pc metadata mpris:length)
[ "${length:-0}" -gt 60000000 ] || fail "length: $length"
pc play >/dev/null
settle status Playing
pc pause >/dev/null
settle status Paused
pc play-pause >/dev/null
settle status Playing
pc position 30 >/dev/null
position=$(pc position)
python3 -c "import sys; p=float(sys.argv[1]); sys.exit(0 if 29.9 <= p < 31.5 else 1)" "$position" ||
  fail "position after seeking to 30 s: $position"
pc position 5- >/dev/null
position=$(pc position)
python3 -c "import sys; p=float(sys.argv[1]); sys.exit(0 if 24.9 <= p < 27 else 1)" "$position" ||
  fail "position after seeking back 5 s: $position"
pc stop >/dev/null
settle status Stopped
sleep 0.3
grep -q '"PlaybackStatus"' "$work/signals" || fail "no PropertiesChanged with PlaybackStatus"
grep -q 'member=Seeked' "$work/signals" || fail "no Seeked"
if [ "$keys" = keys ]; then
  : >"$work/signals"
  xh_key "$win" space
  sleep 0.5
  grep -qa PropertiesChanged "$work/signals" || fail "no PropertiesChanged after Space"
fi
pc open "file://$work/song.mid" >/dev/null
settle status Playing
kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
app=

# No session bus: the window comes up and says nothing.
DBUS_SESSION_BUS_ADDRESS=disabled: "$velta" "$work/song.mid" >"$work/nobus.log" 2>&1 &
app=$!
xh_wait_window "$app" 20 >/dev/null || fail "no window without a session bus"
sleep 0.5
[ -s "$work/nobus.log" ] && fail "printed without a session bus: $(head -3 "$work/nobus.log")"
finish
