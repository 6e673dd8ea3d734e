#!/bin/bash
# A whole-file render of a 10-minute 44.1 kHz stereo 16-bit WAV by kesta
# (the float path, and --player) against a plain copy by sox, in the same run.
# Usage: bench/render_vs_sox.sh [build folder] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
kesta=$(cd "$build" && pwd)/bin/kesta
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Music-like material: pink noise with a low tone, different on each side.
sox -n -r 44100 -c 2 -b 16 in.wav synth 600 pinknoise sine 55 remix 1v0.7,2v0.3 1v0.3,2v0.7 gain -n -6 2>/dev/null

best() {  # the fastest of $runs runs of a command, in seconds
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
frames=$((600 * 44100))
sox_s=$(best sox in.wav out-sox.wav)
float_s=$(best "$kesta" render in.wav out-kesta.wav -q)
player_s=$(best "$kesta" render in.wav out-player.wav --player -q)
printf '%-26s %8s %14s %10s\n' "10 min 44.1 kHz stereo" "seconds" "frames/s" "x sox"
for row in "sox in.wav out.wav:$sox_s" "kesta render:$float_s" "kesta render --player:$player_s"; do
    name=${row%%:*}
    s=${row##*:}
    printf '%-26s %8.3f %14.0f %10.2f\n' "$name" "$s" "$(echo "$frames / $s" | bc -l)" "$(echo "$s / $sox_s" | bc -l)"
done
