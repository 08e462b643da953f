#!/usr/bin/env bash
# Development aid: pictures of the main window with the search panel open,
# the result grid, edit mode and add mode, and of the help viewer's list and
# topic pages, taken under Xvfb into the folder given (default:
# /tmp/velmora-shots), from the tests of build/ (or $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-/tmp/velmora-shots}"
mkdir -p "$out"
for program in velmora_ui_tests tolka_tests; do
  VELMORA_SHOTS="$out" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "${BUILD_DIR:-build}/tests/$program" --gtest_also_run_disabled_tests \
    --gtest_filter='*Screenshots*'
done
ls "$out"
