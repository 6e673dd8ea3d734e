#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test.
#   scripts/test.sh            normal build in build/
#   KESTA_SANITIZE=ON scripts/test.sh   AddressSanitizer + UBSan build in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

sanitize=${KESTA_SANITIZE:-OFF}
build_dir=build
[ "$sanitize" = "ON" ] && build_dir=build-sanitize

cmake -S . -B "$build_dir" -G Ninja -DKESTA_SANITIZE="$sanitize" -DKESTA_BUILD_BENCH="$([ "$sanitize" = ON ] && echo OFF || echo ON)" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
