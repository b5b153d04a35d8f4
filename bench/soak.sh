#!/bin/bash
# A long run of the real program under Xvfb with a private PipeWire daemon: songs handed over
# one after another (velta --play to the running window), with seeks, pauses and loads every few
# seconds and the redraw timer at 50 per second. Prints loads, seeks, pauses, resident memory
# after the first minute and at the end, and gaps in the captured sound that no pause or load
# explains. Run by hand (not part of the test suite):
#   bench/soak.sh VELTA [MINUTES [SONG_DIR]]   SONG_DIR default ../shared/corpus/valid, if present
# Exit 0 when memory stayed within 5 %, nothing was left running and no gap was unexplained.
velta=$(readlink -f "${1:?velta binary}")
minutes=${2:-10}
song_dir=${3:-$(dirname "$0")/../../shared/corpus/valid}
tests=$(cd "$(dirname "$0")/../tests" && pwd)
. "$tests/harness/session.sh"
start_audio 44100
start_display
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/velta"
printf '[Preferences]\noutput_frequency_hz=44100\nauto_detune_mode=1\nredraw_timing_fps=50\nbuffer_block_tenths=20\ndrumset_mode=0\ninstrument_set=0\nequalizer_mode=0\n' \
  >"$XDG_CONFIG_HOME/velta/preferences.ini"

# Our own songs, then the corpus's, interleaved.
# Not the drum and melodic test songs: they stop their own sound abruptly on purpose (all sound
# off), which the gap check below could not tell from a dropout.
mkdir -p "$work/gen"
cp "$(dirname "$velta")"/../tests/songs/{minute,waves}.mid "$work/gen/" ||
  { echo "build the tests first: they write the test songs"; exit 1; }
mapfile -t generated < <(ls "$work"/gen/*.mid)
corpus=()
[ -d "$song_dir" ] && mapfile -t corpus < <(ls "$song_dir"/*.mid "$song_dir"/*.MID 2>/dev/null)
songs=()
for ((i = 0; i < ${#corpus[@]} || i < ${#generated[@]}; i++)); do
  [ $i -lt ${#corpus[@]} ] && songs+=("${corpus[$i]}")
  songs+=("${generated[$((i % ${#generated[@]}))]}")
done
echo "songs: ${#corpus[@]} from $song_dir, ${#generated[@]} generated"

now() { date +%s.%N; }
log_event() { echo "$(now) $1" >>"$work/events"; }
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$app/status"; }

start_app "$velta" "${generated[0]}" || exit 1
sleep 1
capture_start "$work/capture.wav" 44100
log_event capture

loads=0 seeks=0 pauses=0 next=0 rss_minute=
start=$SECONDS end=$((SECONDS + minutes * 60))
load_next() {
  log_event load
  timeout 20 "$velta" --play "${songs[$((next % ${#songs[@]}))]}" >>"$work/handover.log" 2>&1 ||
    fail "hand-over $next"
  next=$((next + 1)) loads=$((loads + 1))
  log_event load
}
seek() {
  local x=$((70 + RANDOM % 220))
  click "$x" 433 # the seek bar
  seeks=$((seeks + 1))
  log_event seek
}
pause_resume() {
  key space
  log_event pause
  sleep 1
  key space
  log_event resume
  pauses=$((pauses + 1))
}
# One round, about 12 s: load and play, seek, pause, seek with the arrow keys.
while [ $SECONDS -lt $end ]; do
  load_next
  sleep 3
  seek
  sleep 3
  pause_resume
  sleep 2
  key $([ $((RANDOM % 2)) = 0 ] && echo Right || echo Left)
  seeks=$((seeks + 1))
  log_event seek
  sleep 3
  if [ -z "$rss_minute" ] && [ $((SECONDS - start)) -ge 60 ]; then rss_minute=$(rss_kb); fi
  kill -0 "$app" 2>/dev/null || { fail "the program died: $(tail -5 "$work/app.log")"; break; }
done
rss_end=$(rss_kb)
duration=$((SECONDS - start))
log_event close
capture_stop

key ctrl+q
for _ in $(seq 200); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$app" 2>/dev/null; then fail "still running after Ctrl+Q"; else
  wait "$app" || fail "exit status $?"
fi
app=
sleep 0.5
for pid in $(pgrep -x velta); do
  grep -qz "^XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR\$" "/proc/$pid/environ" 2>/dev/null &&
    fail "velta $pid left running"
done
pw-dump 2>/dev/null | grep -q '"node.name": "velta"' && fail "the stream is still in the graph"

echo "duration ${duration} s, loads $loads, seeks $seeks, pauses $pauses (load average $(cut -d" " -f1-3 /proc/loadavg))"
echo "RSS after 1 min ${rss_minute:-?} kB, at the end $rss_end kB"
awk -v a="${rss_minute:-0}" -v b="$rss_end" 'BEGIN { exit !(a > 0 && b <= a * 1.05 && b >= a * 0.95) }' ||
  fail "resident memory moved by more than 5 %"

# Gaps: runs of exact zeros of 20 ms or more that cut off sound abruptly (a song's own rests
# fade out through the envelopes first), unless within 1.5 s of a load, pause or seek (the
# capture's clock and the script's differ by the linking time) or lasting until the next one.
python3 - "$work/capture.wav" "$work/events" <<'PY' || fail "unexplained gaps"
import array, struct, sys
data = open(sys.argv[1], "rb").read()
at = 12
while at + 8 <= len(data):
    kind, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
    if kind == b"data":
        break
    at += 8 + size + (size & 1)
pcm = array.array("f", data[at + 8:len(data) - (len(data) - at - 8) % 8])
events = [line.split() for line in open(sys.argv[2])]
capture_start = float(events[0][0])
actions = [float(t) - capture_start for t, kind in events if kind in ("load", "pause", "seek", "resume")]
rate, block = 44100, 441  # 10 ms
silent = lambda b: not any(pcm[b * block * 2:(b + 1) * block * 2])
blocks = len(pcm) // (block * 2)
gaps, explained, b = [], 0, 1
while b < blocks:
    if silent(b):
        run = b
        while run < blocks and silent(run):
            run += 1
        tail = pcm[b * block * 2 - 176:b * block * 2]
        if run - b >= 2 and max(abs(v) for v in tail) > 0.01 and run < blocks:
            t = b * block / rate
            resumed = run * block / rate
            # Silence that lasts until the next action is a song that finished (or was cut off by
            # a seek past its end); a dropout ends by itself.
            if any(-0.5 <= t - a <= 1.5 for a in actions) or any(abs(resumed - a) <= 1.0 for a in actions):
                explained += 1
            else:
                gaps.append((round(t, 2), (run - b) * 10))
        b = run
    b += 1
print("audio %.0f s, gaps at a load/pause/seek or song end %d, unexplained gaps %d (at s, ms) %s"
      % (blocks * block / rate, explained, len(gaps), gaps[:10]))
sys.exit(1 if gaps else 0)
PY
finish
