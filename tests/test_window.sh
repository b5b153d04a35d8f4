#!/bin/bash
# The whole program under Xvfb, judged by what a user sees and hears at a private PipeWire sink.
#   test_window.sh MODE VELTA VELTA_RENDER SONG_DIR      exit 77 = skipped
#   play     --play heard, a second launch hands over, MPRIS, the actions on the bus, the volume
#            heard and the mixer's taken over, the WAV button against velta-render, the last
#            song, place, mutes and volume back after a quit and after a crash
#   input    keys, clicks, drags, mute lamps and solo, the Open dialog, moving and closing the window
#   (the file dialogs are GtkFileDialog from GTK 4.10, GtkFileChooserNative before)
#   prefs    Cancel/Escape save nothing; OK at 48000 Hz restarts the engine, the song then
#            heard sample-exact; twenty changes while it plays; loudness levelling heard; a
#            short block asks for its latency
#   screens  reference screenshots (tests/screens; MODE screens-update takes them again)
#   a11y     through AT-SPI as a screen reader sees it: every control by role and name, Play
#            heard, a mute, the seek slider; Tab, its focus ring, Space and Enter with a control
#            focused; the keys window (F1); the dialogs in the application and keeping their keys
#   hidpi    GDK_SCALE=2: on a 1920 x 1080 screen the window fits (the skin at 1:1, its minimum),
#            a click on Play plays and every skin pixel is 2 x 2 device pixels; on a screen with
#            room for 960 x 705 they are 3 x 3
#   install  cmake --install into a temporary prefix; the installed velta finds its assets
#   files    big files opened while playing keep the window answering (one that fails keeps the
#            song playing); odd names and URIs;
#            a seek far past the end; SIGTERM and logout during an export leave nothing
#   queue    several files queued, Next/Previous over MPRIS and keys, a song's end followed by the
#            next, loop and shuffle reported back, a folder handed over, --enqueue, OpenUri, the
#            queue back after a restart
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

# vlq N: the variable-length quantity of N (below 2^28) as hex.
vlq() {
  local n=$1 out
  out=$(printf '%02x' $((n & 127)))
  while ((n >>= 7)); do out=$(printf '%02x' $(((n & 127) | 128)))$out; done
  printf '%s' "$out"
}
# song_with FILE TEXT_BYTES NOTE_TICKS: one track, a text event of TEXT_BYTES zero bytes, then
# forty notes of NOTE_TICKS each (480 ticks are half a second).
song_with() {
  local head notes= _
  head=00ff01$(vlq "$2")
  for _ in $(seq 40); do notes+=00903c6e$(vlq "$3")803c00; done
  notes+=00ff2f00
  {
    printf 'MThd\0\0\0\6\0\0\0\1\1\340MTrk'
    printf "$(printf '%08x%s' $((${#head} / 2 + $2 + ${#notes} / 2)) "$head" | sed 's/../\\x&/g')"
    head -c "$2" /dev/zero
    printf "$(sed 's/../\\x&/g' <<<"$notes")"
  } >"$1"
}
# longest_silence FILE: the longest run of near-silent frames in a capture, in milliseconds.
longest_silence() {
  sox -V1 "$1" -t s16 -c 1 -r 8000 - | od -An -v -td2 -w2 |
    awk '{ if ($1 < 60 && $1 > -60) { run++; if (run > best) best = run } else run = 0 }
         END { printf "%d\n", best / 8 }'
}

play() {
  need playerctl sox gdbus gapplication
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
  # A place chosen while stopped is where Play starts.
  pc position 20
  pc play
  poll 50 status Playing || fail "MPRIS status after the stopped seek and play: $(pc status)"
  above "$(pc position)" 19.9 || fail "position after a stopped seek to 20 s and play: $(pc position)"
  above 25 "$(pc position)" || fail "position after a stopped seek to 20 s and play: $(pc position)"
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
  poll 50 grep -q "file://$work/song.mid" "$XDG_DATA_HOME/recently-used.xbel" ||
    fail "song.mid not among the recent files"
  # The actions on the bus do what the buttons do: listed, then play, mute channel 2 (the high
  # note), seek 10 s (the third step), stop, and unmute.
  steps_song "$work/steps.mid"
  expect 0 timeout 20 "$velta" steps.mid
  listed=$(gdbus call --session --dest io.github.velta.Velta --object-path /io/github/velta/Velta \
    --method org.gtk.Actions.List)
  for action in play pause play-pause stop seek-by seek-to toggle-mute solo volume volume-by open \
    preferences export quit; do
    [[ $listed == *"'$action'"* ]] || fail "action $action not on the bus: $listed"
  done
  act() { gapplication action io.github.velta.Velta "$@" || fail "gapplication action $*"; }
  act play
  listen bus-play 1 44100
  heard bus-play 60
  act toggle-mute 2
  listen bus-muted 1 44100
  above 0.02 "$(field "$(sound bus-muted)" high)" || fail "channel 2 heard: $(sound bus-muted)"
  act seek-by 10.0
  listen bus-seek 1 44100
  heard bus-seek 64
  act stop
  listen bus-stop 0.5 44100
  silent bus-stop
  act toggle-mute 2
  # The volume scales the stream, not the samples (the export below still matches): 0.5 halves
  # what is heard, 0 silences it; the mixer's change is taken over.
  act play
  listen full 1 44100
  pc volume 0.5
  listen half 1 44100
  ratio=$(awk -v h="$(field "$(sound half)" rms)" -v f="$(field "$(sound full)" rms)" 'BEGIN { print h / f }')
  above "$ratio" 0.45 && above 0.55 "$ratio" || fail "volume 0.5: RMS ratio $ratio"
  pc volume 0
  listen muted-all 0.5 44100
  silent muted-all
  node=$(pw-dump | awk '/"id":/ { id = $2 } /"node.name": "velta"/ { print id + 0; exit }')
  wpctl set-volume "$node" 0.8 || fail "wpctl set-volume"
  # (wpctl's scale is cubic: 0.8 there is 0.512 of the amplitude.)
  poll 50 eval '[ "$(pc volume)" = 0.512000 ]' || fail "the mixer's volume not taken over: $(pc volume)"
  # The desktop hears of a change at once (PropertiesChanged).
  playerctl -p velta --follow volume >"$work/volumes" 2>&1 &
  follower=$!
  poll 20 grep -qx 0.512000 "$work/volumes"
  act volume-by -0.012
  poll 20 grep -qx 0.500000 "$work/volumes" || fail "volume-by -0.012 from 0.512: $(cat "$work/volumes")"
  kill "$follower" && wait "$follower" 2>/dev/null
  act stop
  expect 0 timeout 20 "$velta" song.mid
  # The running window queues the file and reads it on workers: seek once it is there.
  poll 50 eval '[ "$(pc metadata title)" = song.mid ]' || fail "song.mid not opened: $(pc metadata title)"
  # Quit and start again without a file: the same song, its place, the mutes and the volume.
  act toggle-mute 1
  pc position 30
  act quit
  app_exits "quit"
  start_app "$velta" || return
  poll 50 eval '[ "$(pc metadata title)" = song.mid ]' || fail "not the last song: $(pc metadata title)"
  [ "$(pc volume)" = 0.500000 ] || fail "volume not remembered: $(pc volume)"
  # Ours wins over what the session manager remembered of the mixer's 0.512.
  stream_volume() { pw-dump | awk '/"node.name": "velta"/ { on = 1 }
    on && /"channelVolumes": \[/ { v = 1 } v && match($0, /[0-9]+\.[0-9]+/) { print substr($0, RSTART, RLENGTH) + 0; exit }'; }
  poll 50 eval '[ "$(stream_volume)" = 0.5 ]' || fail "the stream's volume at start: $(stream_volume)"
  position=$(gdbus call --session --dest org.mpris.MediaPlayer2.velta --object-path /org/mpris/MediaPlayer2 \
    --method org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player Position |
    sed -n 's/.*int64 \([0-9]*\).*/\1/p')
  [ "${position:-0}" -ge 29000000 ] && [ "$position" -le 31000000 ] || fail "position not remembered: $position us"
  sleep 0.25
  import -window root "$work/shot.png"
  [ "$(pixels "$work/shot.png" 99 120)" = "$(pixels "$assets/velta236_ui_atlas.png" 5 638)" ] ||
    fail "channel 1's mute not remembered: $(cat "$XDG_STATE_HOME/velta/state.ini")"
  act toggle-mute 1
  # A crash a second after a change loses nothing.
  pc volume 0.25
  sleep 1.5
  kill -KILL "$app" && wait "$app" 2>/dev/null
  start_app "$velta" || return
  poll 50 eval '[ "$(pc volume)" = 0.250000 ]' || fail "volume lost in a crash: $(pc volume)"
  # The WAV button with the first channel muted, whatever the volume: Escape writes nothing; the
  # proposed name, the song's own beside it, gets what velta-render writes.
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
  grep -q CRITICAL "$work/app.log" && fail "criticals: $(grep CRITICAL "$work/app.log" | head -3)"
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
  # Twenty-one volume steps down silence it and as many up bring it back: Down, minus and the
  # keypad's minus; Up, plus and the keypad's plus; then twenty notches of the wheel each way.
  key --repeat 7 --delay 5 Down minus KP_Subtract
  listen volume-down 0.3
  silent volume-down
  key --repeat 7 --delay 5 Up plus KP_Add
  listen volume-up 0.3
  heard volume-up
  xdotool mousemove 300 300 click --repeat 20 --delay 5 5
  listen wheel-down 0.3
  silent wheel-down
  xdotool mousemove 300 300 click --repeat 20 --delay 5 4
  listen wheel-up 0.3
  heard wheel-up
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
  # Shift+click on channel 0's lamp solos it; again, the mutes come back.
  xdotool mousemove 117 118 keydown shift click 1 keyup shift
  expect_lit solo 1001
  listen solo 0.8
  above 0.02 "$(field "$(sound solo)" high)" || fail "channel 1 heard beside the solo: $(sound solo)"
  xdotool mousemove 117 118 keydown shift click 1 keyup shift
  expect_lit unsolo 1000
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

  # The Open dialog: a valid file loads; a broken one leaves the song playing; Escape loads
  # nothing (loading would stop the sound). Before GTK 4.10 the chooser still reports the
  # highlighted file on Escape: there the song is highlighted (its folder entered) first.
  # GtkFileDialog reports none, and GTK 4.18 leaks the file infos of a folder listed and then
  # cancelled, so there Escape comes at once.
  mkdir "$work/pick" && cp "$work/steps.mid" "$work/pick/"
  cancel=
  [ "$gtk_minor" -lt 10 ] && cancel=pick/
  start_app "$velta" || return
  for pick in steps:steps.mid:Return broken:broken.mid:Return "cancel:$cancel:Escape"; do
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
    [ "$name" = steps ] && key space
    listen "$name"
  done
  heard steps 60
  heard broken
  heard cancel
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
  # Stopped, OK at 48000 Hz: saved, the stream restarted at the graph's rate, the song still
  # stopped at its beginning; played, its opening reaches the sink unresampled, as velta-render
  # writes it.
  click 229 53
  prefs_dialog 0 alt+o
  grep -qx output_frequency_hz=48000 "$XDG_CONFIG_HOME/velta/preferences.ini" || fail "OK did not save"
  node_rate 48000 || fail "the stream did not move to 48000 Hz"
  capture_start "$work/playing.wav" 48000
  key space
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
  # Loudness levelling on: the steady song, once measured, is heard louder by the gain
  # velta-render --loudness implies (within 0.5 dB), and the gain is kept in the state folder.
  export XDG_STATE_HOME=$work/state
  sed -i 's/^loudness_levelling=0$/loudness_levelling=1/' "$XDG_CONFIG_HOME/velta/preferences.ini"
  cp "$songs/minute.mid" "$work/steady.mid"
  start_app "$velta" --play "$work/steady.mid" || return
  poll 200 grep -q "path=$work/steady.mid" "$XDG_STATE_HOME/velta/loudness.ini" || fail "no gain kept"
  sleep 0.3 # the poll and the ramp
  listen levelled 2 48000
  key ctrl+q
  app_exits "with levelling on"
  rms() { sox -V1 "$1" -n stats 2>&1 | awk '/^RMS lev dB/ { print $4 }'; }
  "$render" --rate 48000 --max-seconds 4 "$work/steady.mid" "$work/steady.wav"
  local gain
  gain=$("$render" --loudness --rate 48000 "$work/steady.mid" |
    awk '{ g = -18 - $2; if (g > -$6) g = -$6; print g }')
  awk -v heard="$(rms "$work/levelled.wav")" -v plain="$(rms "$work/steady.wav")" -v g="$gain" \
    'BEGIN { d = heard - plain - g; exit !(d < 0.5 && d > -0.5) }' ||
    fail "levelled: heard $(rms "$work/levelled.wav") dB, plain $(rms "$work/steady.wav") dB, gain $gain dB"
  # "0.5 sec." asks the graph for that latency; the default asks for none.
  latency() { pw-dump | awk '/^  \{/ { l = "" } /"node.latency"/ { l = $2 }
    /"node.name": "velta"/ { print l; exit }'; }
  printf '[Preferences]\nbuffer_block_tenths=5\n' >"$XDG_CONFIG_HOME/velta/preferences.ini"
  start_app "$velta" "$work/song.mid" || return
  poll 50 eval '[ "$(latency)" = "\"22050/44100\"," ]' || fail "node.latency: $(latency), wanted 22050/44100"
  key ctrl+q
  app_exits "with a short block"
}

# shot NAME SONG [U V]...: the window after clicks at skin units, the text drawn with the
# system's fonts (title, status line, queue) masked, against tests/screens/NAME.png.
shot() {
  local name=$1 differ
  start_app "$velta" "$2" || return
  shift 2
  sleep 0.5
  while [ $# -gt 1 ]; do click "$1" "$2"; sleep 0.3; shift 2; done
  xdotool mousemove 955 700 sleep 0.5 # the pointer out of the picture, a few redraws
  import -window "$win" "$work/shot.png"
  kill "$app"; wait "$app"; app=
  convert "$work/shot.png" -fill black -draw 'rectangle 93,592 447,631' \
    -draw 'rectangle 459,631 951,671' -draw 'rectangle 18,384 453,576' "$work/$name.png"
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

# whole_pixels FILE X Y W H N: the crop is made of N x N blocks of one colour (and is not blank).
whole_pixels() {
  local crop=$work/crop.png small=$(($4 / $6))x$(($5 / $6))
  convert "$1" -crop "$4x$5+$2+$3" +repage -alpha off "$crop"
  convert "$crop" -sample "$small!" -sample "$4x$5!" "$work/blocks.png"
  [ "$(compare -metric AE "$crop" "$work/blocks.png" null: 2>&1)" = 0 ] &&
    [ "$(convert "$crop" -unique-colors -format '%w' info:)" -gt 50 ]
}
hidpi() {
  need compare xprop
  export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run VELTA_RESOURCE_DIR=$assets GDK_SCALE=2
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  cp "$songs/melodic.mid" "$work/song.mid"
  local screen size
  for screen in 1920x1080:2 2560x1600:3; do
    local n=${screen#*:} wanted lamp
    XVFB_SCREEN=${screen%:*}x24 start_display
    start_app "$velta" "$work/song.mid" || return
    sleep 1
    size=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')
    wanted=$((640 * n))x$((470 * n))
    [ "$size" = "$wanted" ] || fail "${screen%:*} at scale 2: window $size, wanted $wanted"
    xprop -id "$win" WM_NORMAL_HINTS | grep -q 'minimum size: 1280 by 940' ||
      fail "${screen%:*}: the minimum is not the skin's size: $(xprop -id "$win" WM_NORMAL_HINTS)"
    import -window root "$work/hidpi.png"
    [ -n "${HIDPI_KEEP:-}" ] && cp "$work/hidpi.png" "$HIDPI_KEEP-$n.png"
    # The channel strips and the transport keys: skin and sprites, no text.
    whole_pixels "$work/hidpi.png" $((60 * n)) $((40 * n)) $((560 * n)) $((190 * n)) "$n" ||
      fail "${screen%:*}: skin pixels are not $n x $n device pixels"
    if [ "$n" = 2 ]; then # a click on Play lights the PLAYING lamp (no sound server: it says so)
      xdotool mousemove $((150 * n)) $((52 * n)) click 1
      lamp="$((500 * n)) $((60 * n))" # (poll has an n of its own)
      poll 50 eval '[ "$(import -window root png:- | pixels - $lamp)" = "srgb(255,210,162) " ]' ||
        fail "a click on Play at scale 2 did not play"
    fi
    kill "$app"; wait "$app"; app=
    kill "$xvfb"; wait "$xvfb" 2>/dev/null; xvfb=
    rm -f "$work/display"
  done
}

files() {
  need playerctl sox gdbus
  start_audio 44100
  start_display
  cd "$work" || return
  cp "$songs/minute.mid" song.mid
  truncate -s 2G big.mid       # no MIDI file at all, and sparse
  song_with long.mid 100000000 480 # 100 MB, nearly all of it one text event
  start_app "$velta" --play song.mid || return
  pc() { playerctl -p velta "$@" 2>&1; }
  mpris() {
    gdbus call --session --dest org.mpris.MediaPlayer2.velta --object-path /org/mpris/MediaPlayer2 \
      --method "org.mpris.MediaPlayer2.Player.$1" "${@:2}"
  }
  poll 50 eval '[ "$(pc status)" = Playing ]' || fail "not playing: $(pc status)"
  # A new instance's window shows before its MPRIS name is owned.
  mpris_up() { poll 100 eval 'pc status >/dev/null 2>&1' || fail "no MPRIS name"; }
  # Each big file opened while playing: the main loop answers the bus every 100 ms throughout,
  # and the sound goes on until the new song is in.
  for file in big long; do
    capture_start "$work/$file.wav" 44100
    (for _ in $(seq 20); do
      start=$(date +%s%N)
      gdbus call --session --dest org.mpris.MediaPlayer2.velta --object-path /org/mpris/MediaPlayer2 \
        --method org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player Position >/dev/null
      echo $((($(date +%s%N) - start) / 1000000))
      sleep 0.1
    done) >"$work/$file.answers" &
    local prober=$!
    sleep 0.3
    mpris OpenUri "file://$work/$file.mid" >/dev/null || fail "OpenUri $file"
    wait "$prober"
    capture_stop
    slowest=$(sort -n "$work/$file.answers" | tail -1)
    echo "$file.mid: slowest answer ${slowest} ms, peak memory $(awk '/VmHWM/ { print $2 / 1024 " MB" }' /proc/$app/status)"
    [ "$slowest" -lt 300 ] || fail "$file.mid: the main loop took $slowest ms to answer"
    if [ $file = big ]; then
      [ "$(awk '/VmHWM/ { print $2 }' /proc/$app/status)" -lt 300000 ] || fail "big.mid: peak memory"
      # Not a MIDI file: the song before it plays on.
      [ "$(pc status)" = Playing ] && [ "$(pc metadata title)" = song.mid ] ||
        fail "big.mid: song.mid not playing on ($(pc status), $(pc metadata title))"
      gap=$(longest_silence "$work/$file.wav")
      [ "$gap" -lt 150 ] || fail "big.mid: $gap ms of silence after it failed"
    else
      gap=$(longest_silence "$work/$file.wav")
      [ "$gap" -lt 150 ] || fail "long.mid: $gap ms of silence while it loaded"
      poll 100 eval '[ "$(pc metadata title)" = long.mid ]' || fail "long.mid: not loaded"
      [ "$(pc status)" = Playing ] || fail "long.mid: not playing: $(pc status)"
    fi
  done
  # A name in another encoding still has a title; another host's file is refused.
  cp song.mid "$work/$(printf 'caf\xe9').mid"
  mpris OpenUri "file://$work/caf%E9.mid" >/dev/null || fail "OpenUri of a Latin-1 name"
  poll 50 eval '[[ "$(pc metadata title)" == caf?*.mid ]]' ||
    fail "no title for a Latin-1 name: $(pc metadata title)"
  mpris OpenUri "file://otherhost$work/song.mid" >/dev/null 2>&1 && fail "another host's file was opened"
  # Seeking far past the end lands at the end, without overflowing.
  length=$(pc metadata mpris:length)
  mpris Seek 9223372036854775807 >/dev/null
  # (playerctl says 0 for any stopped player; the property is where the song stands.)
  position() {
    gdbus call --session --dest org.mpris.MediaPlayer2.velta --object-path /org/mpris/MediaPlayer2 \
      --method org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player Position |
      sed -n 's/.*int64 \([0-9]*\).*/\1/p'
  }
  poll 50 eval '[ "$(position)" -gt $((length - 500000)) ]' ||
    fail "Seek(INT64_MAX) went to $(position) us of $length us"
  grep -q CRITICAL "$work/app.log" && fail "criticals: $(grep CRITICAL "$work/app.log" | head -3)"

  key ctrl+q
  app_exits Ctrl+Q

  # An export under way ends cleanly on SIGTERM and when the session bus goes: exit 0, nothing
  # left beside the target. The song holds a note for an hour, so the export takes a while.
  # (Full allocation stacks, so that the chooser's known leak can be told from ours.)
  mkdir "$work/out"
  song_with out/hour.mid 0 86400 # forty notes of 90 s each: an hour
  local slow_stacks=ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0
  # GtkFileDialog (GTK 4.10+) keeps the file infos of the folder it listed: not ours either.
  [ "$gtk_minor" -ge 10 ] && slow_stacks+=:detect_leaks=0
  start_app env "$slow_stacks" "$velta" song.mid || return
  local ending
  for ending in SIGTERM logout; do
    mpris_up
    mpris OpenUri "file://$work/out/hour.mid" >/dev/null
    poll 50 eval '[ "$(pc status)" = Playing ]' || fail "$ending: hour.mid not playing"
    click 309 53
    wait_dialog 'Export WAV' || { fail "$ending: no Export WAV dialog"; return; }
    xdotool windowfocus --sync "$dialog" key Return # the proposed name, beside the song
    dialog_gone 'Export WAV' || fail "$ending: the export dialog stayed open"
    # Ended while the WAV is being written (a lone note renders fast: do not wait long).
    poll 50 eval 'ls -l /proc/$app/fd 2>/dev/null | grep -q "$work/out/"' ||
      fail "$ending: no export running"
    if [ $ending = SIGTERM ]; then
      kill -TERM "$app"
    else
      kill "$(awk '$2 == "dbus-daemon" { print $1 }' "$pws_dir/pids")"
    fi
    app_exits "$ending during an export"
    [ "$(ls -A "$work/out")" = hour.mid ] || fail "$ending left: $(ls -A "$work/out")"
    # GTK's own D-Bus clients keep what they hold when the bus vanishes: leaks are not ours there.
    [ $ending = SIGTERM ] && { start_app env "$slow_stacks:detect_leaks=0" "$velta" song.mid || return; }
  done
}

# a11y_dialog SHORTCUT TITLE KEYS...: the dialog carries the application's id, and KEYS typed in
# it leave the song playing; Escape closes it.
a11y_dialog() {
  local shortcut=$1 name=$2
  shift 2
  key "$shortcut"
  wait_dialog "$name" || { fail "no $name dialog"; return; }
  [ "$(xprop -id "$dialog" _GTK_APPLICATION_ID)" = '_GTK_APPLICATION_ID(UTF8_STRING) = "io.github.velta.Velta"' ] ||
    fail "$name: $(xprop -id "$dialog" _GTK_APPLICATION_ID)"
  xdotool windowfocus --sync "$dialog" key "$@"
  sleep 0.3
  has_state 'push button' Play pressed || fail "$* in $name paused the song"
  # (A drop-down's list that Space opened takes the first Escape.)
  [ "$name" = Preferences ] && xdotool windowfocus --sync "$dialog" key Escape && sleep 0.3
  xdotool windowfocus --sync "$dialog" key Escape
  dialog_gone "$name" || fail "$name stayed open"
}

a11y() {
  need sox xprop playerctl
  /usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null ||
    skip "python3-gi or gir1.2-atspi-2.0 missing"
  [ -x /usr/libexec/at-spi-bus-launcher ] || skip "at-spi2-core missing"
  start_audio
  start_display
  # The real accessibility backend, on the private session bus.
  export GTK_A11Y=atspi
  walk() { /usr/bin/python3 "$here/a11y_walk.py" "$@"; }
  has_state() { [[ " $(walk states "$1" "$2") " == *" $3 "* ]]; }
  steps_song "$work/steps.mid"
  start_app "$velta" "$work/steps.mid" || return
  poll 100 walk controls 2>/dev/null || { walk controls; fail "controls missing"; }
  has_state 'push button' Stop pressed || fail "Stop not pressed at start: $(walk states 'push button' Stop)"
  [ "$(walk names 'list item')" = "steps.mid, 0:39" ] || fail "queue: $(walk names 'list item')"
  walk press Play || fail "no Play action"
  listen play
  heard play 60
  poll 10 has_state 'push button' Play pressed || fail "Play not pressed while playing"
  # Channel 2 strikes the high note.
  walk press 'Channel 2 mute'
  listen muted 0.8
  above 0.02 "$(field "$(sound muted)" high)" || fail "muted channel heard: $(sound muted)"
  has_state 'check box' 'Channel 2 mute' checked || fail "Channel 2 mute not checked"
  walk press 'Channel 2 mute'
  poll 10 eval '! has_state "check box" "Channel 2 mute" checked' || fail "Channel 2 mute still checked"
  # The seek slider counts seconds: 10.5 s is the third step.
  read -r _ length <<<"$(walk value Position)"
  awk -v l="$length" 'BEGIN { exit !(l > 38.9 && l < 39.1) }' || fail "Position's maximum: $length"
  walk set-value Position 10.5
  listen seeked
  heard seeked 64
  read -r position _ <<<"$(walk value Position)"
  above "$position" 10.4 || fail "Position after the seek: $position"
  [[ "$(walk description slider Position)" == "Position (Left, Right): 0:1"[0-9]" of 0:39" ]] ||
    fail "Position's text: $(walk description slider Position)"
  [ "$(walk description slider Volume)" = "Volume (Up, Down): 100 %" ] ||
    fail "Volume's text: $(walk description slider Volume)"
  [[ "$(walk names label | grep ^Status)" == "Status: Position: 0:10 of 0:39" ]] ||
    fail "status: $(walk names label | grep ^Status)"
  # Tab goes round the controls in reading order, the focused one drawn with the amber ring on
  # the skin's key; Space stays play-pause with a control focused, Enter presses the control.
  local tabs=0
  key shift+Tab Tab
  until has_state 'push button' Play focused || [ $((tabs += 1)) -gt 70 ]; do key Tab; done
  has_state 'push button' Play focused || fail "Tab never reached Play"
  sleep 0.3
  import -window root "$work/focus.png"
  [ "$(pixels "$work/focus.png" 198 80)" = "srgb(255,176,88) " ] ||
    fail "no focus ring left of Play: $(pixels "$work/focus.png" 198 80)"
  key space
  listen paused
  silent paused
  key Return
  listen resumed
  heard resumed
  key Tab
  poll 10 has_state 'push button' 'Open MIDI' focused || fail "second Tab: Open MIDI not focused"
  # F1 lists the keys; the dialogs carry the application's id and keep their own keys.
  key F1
  wait_dialog Keys || fail "F1: no keys window"
  walk names label >"$work/labels"
  for label in Space 'Play or pause' 'F1, Ctrl+?' 'Page Down' 'Next song'; do
    grep -qxF "$label" "$work/labels" || fail "the keys window lacks $label: $(cat "$work/labels")"
  done
  # Repeat goes round its modes; shuffle is checked.
  walk press 'Repeat: off'
  poll 10 eval '[ "$(walk names "push button" | grep ^Repeat)" = "Repeat: the queue" ]' ||
    fail "repeat after a press: $(walk names 'push button' | grep ^Repeat)"
  walk press Shuffle
  poll 10 has_state 'check box' Shuffle checked || fail "Shuffle not checked after a press"
  # A space that opens a drop-down, one typed in the file name: neither pauses.
  a11y_dialog ctrl+comma Preferences Tab space
  [ "$(xprop -id "$(xdotool search --onlyvisible --name '^Keys$' | head -1)" _GTK_APPLICATION_ID)" = \
    '_GTK_APPLICATION_ID(UTF8_STRING) = "io.github.velta.Velta"' ] || fail "the keys window has no application id"
  grep -q CRITICAL "$work/app.log" && fail "criticals: $(grep CRITICAL "$work/app.log" | head -3)"
  key ctrl+q
  app_exits Ctrl+Q
  # The file chooser on a session bus: full allocation stacks, so that its known leak can be told
  # from ours (GTK 4.10's GtkFileDialog keeps the infos of the folder it listed: not ours either).
  local slow_stacks=ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0
  [ "$gtk_minor" -ge 10 ] && slow_stacks+=:detect_leaks=0
  start_app env "$slow_stacks" "$velta" "$work/steps.mid" || return
  poll 100 walk controls 2>/dev/null || fail "controls missing after a restart"
  walk press Play
  poll 50 has_state 'push button' Play pressed || fail "Play not pressed after a restart"
  a11y_dialog ctrl+e 'Export WAV' space
  key ctrl+q
  app_exits "Ctrl+Q after the Export WAV dialog"
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

queue() {
  need playerctl gdbus gapplication
  start_audio 44100
  start_display
  cd "$work" || return
  for name in a b c; do cp "$songs/minute.mid" "$name.mid"; done
  mkdir -p dropped/sub && for name in "track 10" "track 2" sub/x; do cp "$songs/minute.mid" "dropped/$name.mid"; done
  pc() { playerctl -p velta "$@" 2>&1; }
  prop() {
    gdbus call --session --dest org.mpris.MediaPlayer2.velta --object-path /org/mpris/MediaPlayer2 \
      --method org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player "$1" |
      sed -n 's/^(<\(.*\)>,)$/\1/p'
  }
  url() { pc metadata xesam:url | sed 's/%20/ /g'; }
  song() { [ "$(url)" = "file://$work/$1" ]; }
  status_is() { [ "$(pc status)" = "$1" ]; }
  expect_song() { # NAME STATUS WHAT
    poll 50 song "$1" || fail "$3: $(url), wanted $1"
    poll 50 status_is "$2" || fail "$3: $(pc status), wanted $2"
  }
  act() { gapplication action io.github.velta.Velta "$@" || fail "gapplication action $*"; }
  start_app "$velta" a.mid b.mid c.mid || return
  poll 100 eval 'pc status >/dev/null 2>&1' || fail "no MPRIS name"
  expect_song a.mid Stopped "first launch"
  [ "$(prop CanGoNext)" = true ] || fail "CanGoNext at a: $(prop CanGoNext)"
  [ "$(prop CanGoPrevious)" = false ] || fail "CanGoPrevious at a: $(prop CanGoPrevious)"
  pc next
  expect_song b.mid Stopped "next"
  pc previous
  expect_song a.mid Stopped "previous"
  # Played to its end, a song is followed by the next one, playing; the last has no next.
  pc next
  expect_song b.mid Stopped "next again"
  pc play
  poll 50 eval '[ "$(pc status)" = Playing ]' || fail "b not playing"
  length=$(pc metadata mpris:length)
  pc position $((length / 1000000 - 1))
  expect_song c.mid Playing "b's end"
  poll 50 eval '[ "$(prop CanGoNext)" = false ]' || fail "CanGoNext at the last: $(prop CanGoNext)"
  # Repeat and shuffle as the desktop sets them, reported back and as the actions' states.
  for loop in Playlist Track None Playlist; do
    pc loop $loop
    poll 50 eval '[ "$(pc loop)" = $loop ]' || fail "loop $loop reported as $(pc loop)"
  done
  poll 50 eval '[ "$(prop CanGoNext)" = true ]' || fail "CanGoNext when repeating: $(prop CanGoNext)"
  pc shuffle On
  poll 50 eval '[ "$(pc shuffle)" = On ]' || fail "shuffle reported as $(pc shuffle)"
  pc shuffle Off
  # A seek past the end is Next: round to a.
  gdbus call --session --dest org.mpris.MediaPlayer2.velta --object-path /org/mpris/MediaPlayer2 \
    --method org.mpris.MediaPlayer2.Player.Seek 9223372036854775807 >/dev/null
  expect_song a.mid Playing "a seek past the end of the last song, repeating"
  # Page Down and Page Up are Next and Previous.
  key Page_Down
  expect_song b.mid Playing "Page Down"
  key Page_Up
  expect_song a.mid Playing "Page Up"
  # A second launch replaces the queue with a folder's songs in name order and plays the
  # first, music playing; --enqueue appends and leaves the song alone.
  expect 0 timeout 20 "$velta" dropped
  expect_song "dropped/sub/x.mid" Playing "a folder handed over"
  expect 0 timeout 20 "$velta" --enqueue c.mid
  sleep 0.5
  song "dropped/sub/x.mid" || fail "--enqueue changed the song: $(url)"
  pc next
  expect_song "dropped/track 2.mid" Playing "next in the folder"
  pc next
  expect_song "dropped/track 10.mid" Playing "next in the folder again"
  pc next
  expect_song c.mid Playing "the enqueued song"
  # The queue, its song and place, repeat come back after a quit.
  pc previous
  expect_song "dropped/track 10.mid" Playing "previous from the enqueued song"
  pc position 20
  sleep 1.5
  act quit
  app_exits quit
  grep -q '^queue=' "$XDG_STATE_HOME/velta/state.ini" || fail "no queue remembered: $(cat "$XDG_STATE_HOME/velta/state.ini")"
  start_app "$velta" || return
  poll 100 eval 'pc status >/dev/null 2>&1' || fail "no MPRIS name after the restart"
  expect_song "dropped/track 10.mid" Stopped "after the restart"
  [ "$(pc loop)" = Playlist ] || fail "loop after the restart: $(pc loop)"
  position=$(prop Position | sed -n 's/int64 //p')
  [ "${position:-0}" -ge 19000000 ] || fail "position after the restart: $position us"
  pc next
  expect_song c.mid Stopped "next after the restart"
  pc next
  expect_song "dropped/sub/x.mid" Stopped "round to the first after the restart"
  # OpenUri: the queue becomes that file, playing.
  gdbus call --session --dest org.mpris.MediaPlayer2.velta --object-path /org/mpris/MediaPlayer2 \
    --method org.mpris.MediaPlayer2.Player.OpenUri "file://$work/b.mid" >/dev/null
  expect_song b.mid Playing "OpenUri"
  pc loop None
  poll 50 eval '[ "$(prop CanGoNext)" = false ]' || fail "CanGoNext after OpenUri: $(prop CanGoNext)"
  grep -q CRITICAL "$work/app.log" && fail "criticals: $(grep CRITICAL "$work/app.log" | head -3)"
}

case $mode in
play | input | prefs | screens | hidpi | install | files | queue | a11y) $mode ;;
screens-update) screens ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
finish
