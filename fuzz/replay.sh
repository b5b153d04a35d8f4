#!/bin/bash
# usage: replay.sh FUZZER SEEDS_DIR REGRESSIONS_DIR CORPUS_DIR [libFuzzer option...]
#
# Runs every seed, every regression input and every file of the shared MIDI corpus (when
# the folder exists), then mutates from them with the options given (a fixed -seed and
# -runs in the tests, so a run is the same every time). New inputs go to a scratch folder,
# never into the source tree: into FUZZ_WORK_DIR when set (kept for the next long run), else
# into a temporary folder.
set -euo pipefail
fuzzer=$1 seeds=$2 regressions=$3 corpus=$4
shift 4
scratch=${FUZZ_WORK_DIR:-$(mktemp -d)}
mkdir -p "$scratch"
[ -n "${FUZZ_WORK_DIR:-}" ] || trap 'rm -rf "$scratch"' EXIT
dirs=("$seeds")
for dir in "$regressions" "$corpus/valid" "$corpus/invalid"; do
    [ -d "$dir" ] && dirs+=("$dir")
done
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Crash, leak and timeout inputs land in the folder the script was started from.
artifacts=$PWD/
cd "$scratch"
"$fuzzer" -artifact_prefix="$artifacts" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 "$@" "$scratch" "${dirs[@]}"
