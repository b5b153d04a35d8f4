#!/bin/bash
# Installs what is missing, then builds and runs every test: first the normal Release build
# (warnings are errors), then an AddressSanitizer + UndefinedBehaviorSanitizer build, then
# the engine alone under ThreadSanitizer, then the fuzz targets (clang, engine only) replaying
# their seeds and regression inputs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
jobs=$(nproc)

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DVELTA_WERROR=ON -DVELTA_BUILD_TESTS=ON
cmake --build "$root/build" -j"$jobs"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTA_SANITIZE=ON -DVELTA_BUILD_TESTS=ON -DVELTA_BUILD_BENCH=OFF
cmake --build "$root/build-asan" -j"$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/harness/lsan.supp:print_suppressions=0}
(cd "$root/build-asan" && ctest --output-on-failure -j"$jobs")

cmake -S "$root" -B "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTA_TSAN=ON
cmake --build "$root/build-tsan" -j"$jobs"
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
(cd "$root/build-tsan" && ctest --output-on-failure)

cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTA_FUZZ=ON
cmake --build "$root/build-fuzz" -j"$jobs"
(cd "$root/build-fuzz" && ctest --output-on-failure)
