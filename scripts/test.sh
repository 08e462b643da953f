#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test in the normal build,
# and every test but the slow ones again in an AddressSanitizer +
# UndefinedBehaviorSanitizer build; the normal build is also packaged and the
# package checked. The slow tests (real servers, kills, several processes)
# spend their time waiting on other programs: run twice they would add far
# more time than the sanitizers can find in them.
# No display is needed: widget tests use Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
export QT_QPA_PLATFORM=offscreen

# The tests and benchmarks are asked for by name: scripts/run.sh leaves them
# out of build/.
BUILD_DIR=build bash scripts/build.sh -DVELMORA_TESTS=ON -DVELMORA_BENCH=ON
(cd build && ctest --output-on-failure -j"$(nproc)")
bash scripts/package-check.sh build

BUILD_DIR=build-asan bash scripts/build.sh -DVELMORA_TESTS=ON -DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$(nproc)" -LE slow)
