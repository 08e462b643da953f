#!/usr/bin/env bash
# Development aid: pictures of the main window with the search panel open,
# the result grid, edit mode and add mode, taken under Xvfb into the folder
# given (default: /tmp/velmora-shots), from the tests of build/ (or $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-/tmp/velmora-shots}"
mkdir -p "$out"
VELMORA_SHOTS="$out" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
  "${BUILD_DIR:-build}/tests/velmora_ui_tests" --gtest_also_run_disabled_tests \
  --gtest_filter='Screenshots.*'
ls "$out"
