#!/usr/bin/env bash
# Builds into build/ (or the folder given as $BUILD_DIR) with $JOBS parallel
# jobs (default: one a processor); extra arguments go to cmake's configure
# step.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j"${JOBS:-$(nproc)}"
