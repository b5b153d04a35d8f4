#!/bin/bash
# The whole program under Xvfb, judged by what a user sees and hears at a private PipeWire sink.
#   test_window.sh MODE VELTA VELTA_RENDER SONG_DIR      exit 77 = skipped
#   play     --play heard, a second launch hands over, MPRIS, the WAV button against velta-render
#   input    keys, clicks, drags, mute lamps, the Open dialog, moving and closing the window
#            (the file dialogs: GtkFileDialog from GTK 4.10, GtkFileChooserNative before)
#   prefs    Cancel/Escape save nothing; OK at 48000 Hz restarts the song, heard sample-exact;
#            then twenty changes while it plays
#   screens  reference screenshots (tests/screens; MODE screens-update takes them again)
#   install  cmake --install into a temporary prefix; the installed velta finds its assets
mode=${1:?mode}
velta=$(readlink -f "${2:?velta}")
render=$(readlink -f "${3:?velta-render}")
songs=$(readlink -f "${4:?song directory}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/harness/session.sh"
build=$(dirname "$(dirname "$velta")")
assets=$build/share/velta

# listen NAME [SECONDS] [RATE]: records the sink; sound NAME -> "rms=R note=N high=H": loudness,
# the loudest step note of steps.mid and channel 1's share of the notes' energy.
listen() {
  sleep 0.2 # the change reaches the sink
  capture_start "$work/$1.wav" "${3:-48000}"
  sleep "${2:-0.5}"
  capture_stop
}
sound() {
  sox -V1 "$work/$1.wav" -n remix - rate 8000 stat -freq 2>&1 | awk '
    BEGIN { split("60 62 64 65 67 69 71 78", notes, " ") }
    /^RMS +amplitude/ { rms = $3 }
    /^[0-9.]+ +[0-9.e+-]+$/ { for (i in notes) { f = 440 * 2 ^ ((notes[i] - 69) / 12)
        if ($1 > f * 0.985 && $1 < f * 1.015 && $2 > e[i]) e[i] = $2 } }
    END { for (i = 1; i < 8; i++) { total += e[i]; if (e[i] > e[best]) best = i }
          printf "rms=%.4f note=%d high=%.3f\n", rms, notes[best], e[8] / (total + e[8] + 1e-9) }'
}
field() { sed -n "s/.*\b$2=\([^ ]*\).*/\1/p" <<<"$1"; }
above() { awk -v v="$1" -v w="$2" 'BEGIN { exit !(v > w) }'; }
heard() { # NAME [NOTE]
  local s
  s=$(sound "$1")
  above "$(field "$s" rms)" 0.005 || fail "$1: silent ($s)"
  [ -z "${2:-}" ] || [ "$(field "$s" note)" = "$2" ] || fail "$1: wanted note $2 ($s)"
}
silent() { above 0.0005 "$(field "$(sound "$1")" rms)" || fail "$1: not silent ($(sound "$1"))"; }
# lit -> four flags: play, stop and pause lit, channel 1's lamp showing muted; glyph pixels at
# scale 1.5, their colours taken from the atlas.
lit() {
  local got want
  sleep 0.25 # a redraw
  import -window root "$work/shot.png"
  got=$(pixels "$work/shot.png" 225 80 350 84 410 84 153 120)
  read -r glyph lamp <<<"$(pixels "$assets/velta236_ui_atlas.png" 18 43 5 638)"
  want="$glyph $glyph $glyph $lamp"
  paste -d' ' <(tr ' ' '\n' <<<"$got" | head -4) <(tr ' ' '\n' <<<"$want") |
    awk '{ printf "%d", $1 == $2 }'
}
expect_lit() { local got; got=$(lit); [ "$got" = "$2" ] || fail "$1: lit $got, wanted $2"; }
wait_dialog() { poll 50 eval "dialog=\$(xdotool search --onlyvisible --name '^$1\$' 2>/dev/null | head -1) && [ -n \"\$dialog\" ]"; }
dialog_gone() { poll 50 eval "! xdotool search --onlyvisible --name '^$1\$' >/dev/null 2>&1"; }

# steps.mid: seven steps of 5 s, channel 0 striking 60 62 64 65 67 69 71 on every beat (no note
# is another's harmonic), channel 1 striking 78 throughout.
steps_song() {
  local body= n
  for n in 3c 3e 40 41 43 45 47; do
    for _ in $(seq 10); do body+=2890${n}6e00914e6e833880${n}4000814e40; done
  done
  body+=00ff2f00
  body=$(printf '%08x%s' $((${#body} / 2)) "$body" | sed 's/../\\x&/g')
  printf "MThd\0\0\0\6\0\0\0\1\1\340MTrk$body" >"$1"
}

play() {
  need playerctl sox
  start_audio 44100
  start_display
  cp "$songs/minute.mid" "$work/song.mid"
  cd "$work" || return
  start_app "$velta" --play song.mid || return
  listen first 1 44100
  heard first
  pc() { playerctl -p velta "$@" 2>&1; }
  status() { [ "$(pc status)" = "$1" ]; }
  poll 50 status Playing || fail "MPRIS status $(pc status), wanted Playing"
  [ "$(pc metadata title)" = song.mid ] || fail "MPRIS title: $(pc metadata title)"
  pc pause
  poll 50 status Paused || fail "MPRIS status after pause: $(pc status)"
  listen paused 0.5 44100
  silent paused
  pc play
  poll 50 status Playing || fail "MPRIS status after play: $(pc status)"
  pc position 30
  above "$(pc position)" 29.9 || fail "MPRIS position after seeking to 30 s: $(pc position)"
  pc stop
  poll 50 status Stopped || fail "MPRIS status after stop: $(pc status)"
  # A second launch hands its file to the running window and ends; without --play it stays stopped.
  expect 0 timeout 20 "$velta" song.mid
  listen handed-over-stopped 1 44100
  silent handed-over-stopped
  expect 0 timeout 20 "$velta" --play song.mid
  listen handed-over 1 44100
  heard handed-over
  [ "$(xdotool search --onlyvisible --pid "$app" | wc -l)" = 1 ] || fail "not one window"
  # The WAV button with the first channel muted: Escape writes nothing; the proposed name, the
  # song's own beside it, gets what velta-render writes.
  click 78 79
  for answer in Escape Return; do
    click 309 53
    wait_dialog 'Export WAV' || { fail "no Export WAV dialog"; return; }
    xdotool windowfocus --sync "$dialog" key "$answer"
    dialog_gone 'Export WAV' || fail "$answer: the export dialog stayed open"
    [ "$answer" = Escape ] && sleep 0.3 && ls -A | grep -q 'song\.wav' && fail "Escape exported"
  done
  poll 300 test -e "$work/song.wav" || fail "no exported file"
  expect 0 "$render" --max-seconds 100000 --mute 1 song.mid "$work/reference.wav"
  cmp -s "$work/song.wav" "$work/reference.wav" || fail "the export differs from velta-render --mute 1"
}

input() {
  need sox xwininfo
  start_audio
  start_display
  # No session bus: the file chooser would ask it for cloud providers, whose library keeps the
  # reply past exit and fails the sanitized build's leak check.
  export DBUS_SESSION_BUS_ADDRESS=disabled:
  steps_song "$work/steps.mid"
  printf 'MThd\0\0\0\6\0\1' >"$work/broken.mid"
  start_app "$velta" "$work/steps.mid" || return
  poll 4 eval '[ "$(lit)" = 0100 ]' || fail "stop not lit at start"
  listen before
  silent before
  key space
  listen space
  heard space 60
  expect_lit space 1000
  key space
  listen pause
  silent pause
  expect_lit pause 0010
  key space
  listen resume
  heard resume 60
  # Steps last 5 s, the arrows move 10 s: from the start Right lands in the third, Left back
  # in the first.
  click 62 433
  key Right
  listen right
  heard right 64
  key Left
  listen left
  heard left 60
  # Channel 1 strikes the high note: a double click on its lamp mutes it once.
  click 110 79 2
  expect_lit muted 1001
  listen muted 0.8
  above 0.02 "$(field "$(sound muted)" high)" || fail "muted channel heard: $(sound muted)"
  heard muted
  click 110 79
  expect_lit unmuted 1000
  listen unmuted
  above "$(field "$(sound unmuted)" high)" 0.1 || fail "unmuted channel not heard: $(sound unmuted)"
  # The seek bar: 45 % is 17.5 s (the fourth step); a drag on to 71 % (the sixth).
  click 168 433
  listen seek-click
  heard seek-click 65
  xdotool mousemove 120 649 mousedown 1 mousemove 200 649 mousemove 300 649 mousemove 343 660 \
    sleep 0.1 mouseup 1
  listen seek-drag
  heard seek-drag 69
  click 229 53 # Stop, then Play from the top
  listen stop
  silent stop
  expect_lit stop 0100
  click 149 53
  listen play
  heard play 60
  expect_lit play 1000
  key ctrl+q
  app_exits Ctrl+Q

  # The Open dialog: a broken file leaves no song, Escape loads nothing, a valid file loads. Before
  # GTK 4.10 the chooser still reports the highlighted file on Escape: there the song is
  # highlighted (its folder entered) first. GtkFileDialog reports none, and GTK 4.18 leaks the file
  # infos of a folder listed and then cancelled, so there Escape comes at once.
  mkdir "$work/pick" && cp "$work/steps.mid" "$work/pick/"
  cancel=
  [ "$gtk_minor" -lt 10 ] && cancel=pick/
  start_app "$velta" || return
  for pick in broken:broken.mid:Return "cancel:$cancel:Escape" steps:steps.mid:Return; do
    IFS=: read -r name path answer <<<"$pick"
    key ctrl+o
    wait_dialog 'Open MIDI' || { fail "Ctrl+O: no dialog"; return; }
    if [ -n "$path" ]; then
      xdotool windowfocus --sync "$dialog" key ctrl+l type --delay 5 "$work/$path"
      # GTK 4.18 may leave an early completion after the cursor (".../broken.midp/"): cleared.
      xdotool sleep 0.3 key shift+End Delete sleep 0.3
    fi
    [ "$path" = pick/ ] && xdotool key Return sleep 0.5
    # The location entry's completion may take the first key.
    for _ in 1 2 3; do
      xdotool windowfocus --sync "$dialog" key "$answer"
      dialog_gone 'Open MIDI' && break
    done
    dialog_gone 'Open MIDI' || fail "$name: the dialog stayed open"
    key space
    listen "$name"
  done
  silent broken
  silent cancel
  heard steps 60
  # Dragging the title strip moves the window (no window manager: the toolkit moves it);
  # minimise and maximise change nothing; the close button ends the program.
  click 590 14
  click 607 14
  xdotool mousemove 450 3 mousedown 1 mousemove 500 30 mousemove 550 63 sleep 0.1 mouseup 1
  sleep 0.3
  geometry=$(xwininfo -id "$win" | awk '/-geometry/ { print $2 }')
  [ "$geometry" = 960x705+100+60 ] || fail "window move: $geometry"
  xdotool mousemove $((100 + 623 * 3 / 2)) $((60 + 14 * 3 / 2)) click 1
  app_exits "close button"
  grep -v -e 'Broken accounting of active state' -e '^$' "$work/app.log" && fail "printed the above"
}

# node_rate HZ: the stream "velta" runs at HZ.
node_rate() { poll 50 eval '[ "$(pw-dump | awk "/\"node.name\": \"velta\"/ { on = 1 }
  on && /\"rate\": / { print \$2 + 0 } on && /^  }/ { exit }" | sort -u)" = '$1' ]'; }
prefs_dialog() { # ROW (0: 48000, 1: 44100) BUTTON
  click 352 53
  poll 50 eval 'dialog=$(xdotool search --all --onlyvisible --pid "$app" --name "^Preferences$" | head -1) && [ -n "$dialog" ]' ||
    { fail "no Preferences dialog"; return 1; }
  # The first list has the focus; Space opens it, the arrows pick.
  xdotool windowfocus --sync "$dialog"
  xdotool key space sleep 0.3 key Up Up Up $([ "$1" = 1 ] && echo Down) Return sleep 0.2
  xdotool windowfocus --sync "$dialog" key "$2"
  poll 100 eval '! xdotool search --all --onlyvisible --pid "$app" --name "^Preferences$" >/dev/null 2>&1' ||
    { fail "the dialog stayed open"; return 1; }
}
prefs() {
  need sox
  start_audio 48000
  start_display
  cp "$songs/melodic.mid" "$work/song.mid"
  start_app "$velta" "$work/song.mid" || return
  key space
  for button in alt+c Escape; do
    prefs_dialog 0 "$button"
    [ -e "$XDG_CONFIG_HOME/velta/preferences.ini" ] && fail "$button wrote the key file"
  done
  # OK at 48000 Hz: saved, the stream restarted at the graph's rate, so the song's opening, again
  # from its beginning, reaches the sink unresampled, as velta-render writes it.
  capture_start "$work/playing.wav" 48000
  prefs_dialog 0 alt+o
  grep -qx output_frequency_hz=48000 "$XDG_CONFIG_HOME/velta/preferences.ini" || fail "OK did not save"
  node_rate 48000 || fail "the stream did not move to 48000 Hz"
  sleep 1.5
  capture_stop
  "$render" --rate 48000 --max-seconds 2 "$work/song.mid" "$work/ref.wav"
  frames() { od -An -v -tx4 -w4 | tr -d '\n'; }
  sox -V1 -D "$work/playing.wav" -t s16 - | frames >"$work/heard"
  needle=$(tail -c +45 "$work/ref.wav" | frames | sed 's/^\( 00000000\)*//' | cut -c1-9000)
  [ ${#needle} = 9000 ] && grep -qF "$needle" "$work/heard" || fail "the opening not heard sample-exact"
  # Twenty changes while the song plays.
  for n in $(seq 20); do
    prefs_dialog $((n % 2)) alt+o || break
    node_rate $((n % 2 ? 44100 : 48000)) || { fail "change $n: not at the new rate"; break; }
  done
  key ctrl+q
  app_exits "after the changes"
}

# shot NAME SONG [U V]...: the window after clicks at skin units, the text drawn with the
# system's fonts (file name, status line) masked, against tests/screens/NAME.png.
shot() {
  local name=$1 differ
  start_app "$velta" "$2" || return
  shift 2
  sleep 0.5
  while [ $# -gt 1 ]; do click "$1" "$2"; sleep 0.3; shift 2; done
  xdotool mousemove 955 700 sleep 0.5 # the pointer out of the picture, a few redraws
  import -window "$win" "$work/shot.png"
  kill "$app"; wait "$app"; app=
  convert "$work/shot.png" -fill black -draw 'rectangle 93,604 449,631' \
    -draw 'rectangle 459,631 951,671' "$work/$name.png"
  [ "$mode" = screens-update ] && { cp "$work/$name.png" "$here/screens/"; return; }
  differ=$(compare -metric AE "$here/screens/$name.png" "$work/$name.png" null: 2>&1)
  [ "$differ" = 0 ] || { mkdir -p /tmp/velta-screens; cp "$work/$name.png" /tmp/velta-screens/
    fail "$name: $differ pixels differ (see /tmp/velta-screens; after an artwork change: $0 screens-update ...)"; }
}
screens() {
  need compare
  start_display
  # No sound server: nothing plays, so every state is independent of timing.
  export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run VELTA_RESOURCE_DIR=$assets
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  cp "$songs/melodic.mid" "$work/song.mid"
  shot no-song "$work/absent.mid"
  shot stopped "$work/song.mid"
  shot half-muted "$work/song.mid" 180 433 66 79 # the seek bar's middle, channel 0's lamp
}

install() {
  local prefix=$work/prefix want
  expect 0 cmake --install "$build" --prefix "$prefix"
  for file in bin/velta bin/velta-render share/velta/velta236_ui_atlas.png \
    share/velta/final-bowser.mid share/icons/hicolor/scalable/apps/io.github.velta.Velta.svg \
    share/applications/io.github.velta.Velta.desktop share/metainfo/io.github.velta.Velta.metainfo.xml; do
    [ -s "$prefix/$file" ] || fail "not installed: $file"
  done
  for dir in /usr/share/velta /usr/local/share/velta; do
    [ -e "$dir/velta236_ui_skin.png" ] && skip "a skin is installed in $dir"
  done
  start_display
  # From a directory with no relative candidate: only the assets beside the program can be found.
  unset VELTA_RESOURCE_DIR
  export XDG_CONFIG_HOME=$work/config
  mkdir "$work/elsewhere" && cd "$work/elsewhere" && start_app "$prefix/bin/velta" || return
  want=$(pixels "$prefix/share/velta/velta236_ui_skin.png" 405 378) # nothing is drawn over it
  poll 50 eval '[ "$(import -window root png:- | pixels - 608 568)" = "$want" ]' ||
    fail "the installed skin is not shown"
}

case $mode in
play | input | prefs | screens | install) $mode ;;
screens-update) screens ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
finish
