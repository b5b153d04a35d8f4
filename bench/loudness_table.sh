#!/bin/bash
# The loudness table of the README: the 20 longest songs of the shared corpus (real music, no
# test patterns), measured by build/bench/loudness_table. Skips when the corpus is absent.
# Usage: bench/loudness_table.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
corpus=$here/../../shared/corpus/valid
[ -d "$corpus" ] || { echo "no corpus at $corpus: skipped"; exit 0; }
# Largest files first; the sound tours and test files (jazz-*, midifilets-*, triggers) left out.
mapfile -t songs < <(ls -S "$corpus"/*.mid | grep -v -e /jazz- -e /midifilets- -e triggers | head -20)
exec nice "$build/bench/loudness_table" "${songs[@]}"
