#!/usr/bin/env bash
# Pictures of the main window (idle, and with the search panel open), the
# result grid, edit mode and add mode, and of the help viewer's list and
# topic pages, taken from the tests of build/ (or $BUILD_DIR) under Xvfb
# with a window manager, so that each shows its title bar with its caption.
# Into the folder given (default: /tmp/velmora-shots); `docs` renews the
# README's pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-/tmp/velmora-shots}")"
build="$(realpath "${BUILD_DIR:-build}")"
mkdir -p "$out"
for program in velmora_ui_tests tolka_tests; do
  VELMORA_SHOTS="$out" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    bash -c '
      openbox --sm-disable >/dev/null 2>&1 &
      wm=$!
      sleep 1  # the window manager takes over the screen before the first window
      "$1" --gtest_also_run_disabled_tests --gtest_filter="*Screenshots*"
      status=$?
      kill "$wm"
      exit "$status"' shoot "$build/tests/$program"
done
ls "$out"
