#!/usr/bin/env bash
# Installs what the demo needs (scripts/setup.sh --demo: a compiler, CMake and
# a few libraries), builds the kesta host with the plug-in it loads, and runs
# the demo: built-in speech and music samples rendered into kesta-demo/.
# One line per stage; a failing stage shows its output in full.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/stage.sh

bash scripts/setup.sh --demo
# A new build folder leaves the tests and benchmarks out, which need more
# packages than the demo; scripts/test.sh turns them on.
configure=(cmake -S . -B build -G Ninja)
[ -f build/CMakeCache.txt ] || configure+=(-DKESTA_BUILD_TESTS=OFF -DKESTA_BUILD_BENCH=OFF)
stage "Configuring build/" build/configure.log "${configure[@]}"
stage "Building kesta and the plug-in" build/build-kesta.log cmake --build build -j "$(nproc)" --target kesta
echo
build/bin/kesta demo "$@"
