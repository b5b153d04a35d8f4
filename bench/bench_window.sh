#!/bin/bash
# The real program under Xvfb with the cairo renderer and no GL (GSK_RENDERER=cairo, and
# GDK_DISABLE=gl or before GTK 4.16 GDK_DEBUG=gl-disable) and a private PipeWire graph: time from start to the first painted frame,
# resident memory while playing, and the CPU the whole program uses while playing at 10 and at
# 50 redraws per second.
# Usage: bench/bench_window.sh [BUILD_DIR] [SONG]   (defaults: build, the demo song)
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "${1:-$here/../build}")
song=$(readlink -f "${2:-$build/share/velta/final-bowser.mid}")
velta=$build/bin/velta
first_frame=$build/bench/first_frame
harness=$here/../tests/harness
for tool in Xvfb xdotool import; do
  command -v $tool >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
[ -x "$velta" ] && [ -x "$first_frame" ] || { echo "build velta and first_frame first" >&2; exit 1; }

. "$harness/session.sh"
# The GTK this build uses, for the harness's way of turning GL off.
export VELTA_GTK_VERSION=$(sed -n 's/^GTK4_VERSION:INTERNAL=//p' "$build/CMakeCache.txt")
start_audio 44100
XVFB_SCREEN=1024x768x24 start_display
# Assets of this build, whatever else is installed on the machine.
export VELTA_RESOURCE_DIR=$build/share/velta
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/velta"
set_rate() { printf '[Preferences]\nredraw_timing_fps=%s\n' "$1" >"$XDG_CONFIG_HOME/velta/preferences.ini"; }

# First frame: the centre of the window shows the skin's centre pixel (nearest filter, scale 1.5).
skin=$build/share/velta/velta236_ui_skin.png
centre=$(convert "$skin" -format '%[hex:p{320,234}]' info: | cut -c1-6)
set_rate 10
times=()
for _ in 1 2 3 4 5; do
  t=$("$first_frame" 480 352 "$centre" "$velta" "$song" 2>"$work/first.log") || { echo "no first frame: $(tail -3 "$work/first.log")" >&2; exit 1; }
  times+=("$t")
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
echo "first painted frame: median $median ms (runs: $sorted)"

# Playing: Space starts the song; the playing bar lights up.
hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
for rate in ${BENCH_RATES:-10 50}; do
  set_rate "$rate"
  start_app "$velta" "$song" || exit 1
  sleep 0.5
  key space
  poll 50 eval '[ "$(import -window root png:- | pixels - 700 90)" = "srgb(255,210,162) " ]' ||
    { echo "not playing: $(cat "$work/app.log")" >&2; exit 1; }
  sleep 2
  rss=$(awk '/VmRSS/{print $2}' "/proc/$app/status")
  before=$(cpu_ticks "$app")
  sleep 10
  after=$(cpu_ticks "$app")
  kill -0 "$app" || { echo "velta ended early" >&2; exit 1; }
  cpu=$(awk -v d=$((after - before)) -v hz="$hz" 'BEGIN{printf "%.1f", 100 * d / hz / 10}')
  printf 'playing at %2d redraws/s: CPU %s %% of one core (10 s), RSS %d MB\n' "$rate" "$cpu" $((rss / 1024))
  kill "$app"; wait "$app" 2>/dev/null; app=
done
