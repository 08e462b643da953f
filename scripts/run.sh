#!/usr/bin/env bash
# Installs what building and running need when it is missing, builds velmora
# and tolka (without the tests and benchmarks), and starts velmora from its
# program directory build/bin/. Arguments go to velmora.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
bash scripts/build.sh -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF
exec build/bin/velmora "$@"
