#!/bin/bash
# The real program under Xvfb with the cairo renderer and no GL (GSK_RENDERER=cairo, and
# GDK_DISABLE=gl or before GTK 4.16 GDK_DEBUG=gl-disable) and a private PipeWire graph: time from
# start to the first painted frame, resident memory while playing, and the CPU the program and
# the X server use while stopped, paused and playing at 1, 10 and 50 redraws per second.
# Usage: bench/bench_window.sh [--before OLD_BUILD_DIR] [BUILD_DIR] [SONG]
#   (defaults: build, the demo song; --before measures an older build in the same run, first)
#   BENCH_RATES (default "1 10 50") and BENCH_SECONDS (default 10) change what is measured.
set -u
here=$(cd "$(dirname "$0")" && pwd)
before=
if [ "${1:-}" = --before ]; then before=$(readlink -f "${2:?--before needs a build dir}"); shift 2; fi
build=$(readlink -f "${1:-$here/../build}")
song=$(readlink -f "${2:-$build/share/velta/final-bowser.mid}")
seconds=${BENCH_SECONDS:-10}
harness=$here/../tests/harness
for tool in Xvfb xdotool import; do
  command -v $tool >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
for dir in $before $build; do
  [ -x "$dir/bin/velta" ] && [ -x "$dir/bench/first_frame" ] ||
    { echo "build velta and first_frame first in $dir" >&2; exit 1; }
done

. "$harness/session.sh"
# The GTK this build uses, for the harness's way of turning GL off.
export VELTA_GTK_VERSION=$(sed -n 's/^GTK4_VERSION:INTERNAL=//p' "$build/CMakeCache.txt")
start_audio 44100
XVFB_SCREEN=1024x768x24 start_display
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/velta"
set_rate() { printf '[Preferences]\nredraw_timing_fps=%s\n' "$1" >"$XDG_CONFIG_HOME/velta/preferences.ini"; }
# CPU time of all of a process's threads in nanoseconds (finer than the clock ticks of stat).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f", s }'; }
main_ns() { awk '{ print $1 }' "/proc/$1/task/$1/schedstat"; }
percent() { awk -v d="$1" -v s="$seconds" 'BEGIN{printf "%.2f", 100 * d / 1e9 / s}'; }
playing_lit() { [ "$(import -window root png:- | pixels - 700 90)" = "srgb(255,210,162) " ]; }

# measure LABEL STATE RATE: CPU of the program and of the X server over $seconds.
measure() {
  local app_before x_before app_after x_after
  sleep 2 # the change painted, the toolkit settled
  local main_before main_after
  app_before=$(cpu_ns "$app") x_before=$(cpu_ns "$xvfb") main_before=$(main_ns "$app")
  sleep "$seconds"
  app_after=$(cpu_ns "$app") x_after=$(cpu_ns "$xvfb") main_after=$(main_ns "$app")
  kill -0 "$app" || { echo "velta ended early" >&2; exit 1; }
  local a x m
  m=$(percent "$(awk -v a="$main_after" -v b="$main_before" 'BEGIN{print a - b}')")
  a=$(percent "$(awk -v a="$app_after" -v b="$app_before" 'BEGIN{print a - b}')")
  x=$(percent "$(awk -v a="$x_after" -v b="$x_before" 'BEGIN{print a - b}')")
  printf '%-7s %-8s %3s/s   velta %6s %% (main thread %6s %%)   Xvfb %6s %%   together %6s %%\n' \
    "$1" "$2" "$3" "$a" "$m" "$x" \
    "$(awk -v a="$a" -v x="$x" 'BEGIN{printf "%.2f", a + x}')"
}

bench_build() { # LABEL BUILD_DIR
  local label=$1 dir=$2 velta=$2/bin/velta rate rss
  # Assets of this build, whatever else is installed on the machine.
  export VELTA_RESOURCE_DIR=$dir/share/velta
  # First frame: the centre of the window shows the skin's centre pixel (nearest filter, scale 1.5;
  # a window row whose centre is no tie between two skin rows).
  local skin=$dir/share/velta/velta236_ui_skin.png centre times=() t sorted median
  centre=$(convert "$skin" -format '%[hex:p{320,235}]' info: | cut -c1-6)
  set_rate 10
  for _ in 1 2 3 4 5; do
    t=$("$dir/bench/first_frame" 480 353 "$centre" "$velta" "$song" 2>"$work/first.log") ||
      { echo "no first frame: $(tail -3 "$work/first.log")" >&2; exit 1; }
    times+=("$t")
  done
  sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
  echo "$label: first painted frame: median $median ms (runs: $sorted)"
  for rate in ${BENCH_RATES:-1 10 50}; do
    set_rate "$rate"
    start_app "$velta" "$song" || exit 1
    sleep 0.5
    measure "$label" stopped "$rate"
    key space # plays; the playing bar lights up
    poll 50 playing_lit || { echo "not playing: $(cat "$work/app.log")" >&2; exit 1; }
    rss=$(awk '/VmRSS/{print $2}' "/proc/$app/status")
    measure "$label" playing "$rate"
    playing_lit || echo "$label: the song ended while measured: use a longer one" >&2
    key space # pauses
    poll 50 eval '! playing_lit' || { echo "not paused" >&2; exit 1; }
    measure "$label" paused "$rate"
    echo "$label: resident memory while playing at $rate/s: $((rss / 1024)) MB"
    kill "$app"; wait "$app" 2>/dev/null; app=
  done
}

[ -n "$before" ] && bench_build before "$before"
bench_build after "$build"
