#!/bin/bash
# Installs what is missing, builds VELTA and velta-render and starts VELTA on the demo song.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTA_BUILD_TESTS=OFF
cmake --build "$root/build" -j"$(nproc)" --target velta velta-render
exec "$root/build/bin/velta" "$@"
