#!/usr/bin/env bash
# Installs what is needed, builds the plug-in and the kesta host, and runs
# the demo: built-in voice and music samples rendered into kesta-demo/.
# One line per stage; a failing stage shows its output in full.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/stage.sh

bash scripts/setup.sh
stage "Configuring build/" build/configure.log cmake -S . -B build -G Ninja
stage "Building kesta and the plug-in" build/build-kesta.log cmake --build build -j "$(nproc)" --target kesta
echo
build/bin/kesta demo "$@"
