#!/usr/bin/env bash
# Installs what is needed, builds the plug-in and the kesta host, and runs
# the demo: built-in voice and music samples rendered into kesta-demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target kesta
build/bin/kesta demo "$@"
