#!/usr/bin/env bash
# Lays out every C++ file of the tree by .clang-format (Debian package
# clang-format; not needed to build or test).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' | xargs clang-format -i
