#!/bin/bash
# kesta render of 8 files into a folder with -j 2 against -j 1.
# Usage: bench/render_batch.sh [build folder] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
kesta=$(cd "$build" && pwd)/bin/kesta
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir out
for k in 1 2 3 4 5 6 7 8; do  # 8 files of 60 s, 44.1 kHz stereo 16-bit
    sox -n -r 44100 -c 2 -b 16 "in$k.wav" synth 60 pinknoise sine $((50 * k)) gain -n -6 2>/dev/null
done

best() {
    local fastest=
    for _ in $(seq "$runs"); do
        local start end took
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        took=$(echo "$end - $start" | bc)
        if [ -z "$fastest" ] || [ "$(echo "$took < $fastest" | bc)" = 1 ]; then fastest=$took; fi
    done
    echo "$fastest"
}
one=$(best "$kesta" render in*.wav -o out -j 1 -q)
two=$(best "$kesta" render in*.wav -o out -j 2 -q)
printf '8 files, -j 1: %.3f s   -j 2: %.3f s   ratio %.2f (cores: %s)\n' "$one" "$two" "$(echo "$two / $one" | bc -l)" "$(nproc)"
