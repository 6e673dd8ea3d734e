#!/bin/bash
# A whole-file render of a 10-minute 44.1 kHz stereo 16-bit WAV by kesta
# (the float path, and --player) against a plain copy by sox, in the same run.
# The three commands take turns, so that load from elsewhere falls on each
# alike; the medians and the ratios to sox are printed, with the load.
# Usage: bench/render_vs_sox.sh [build folder] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
kesta=$(cd "$build" && pwd)/bin/kesta
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Music-like material: pink noise with a low tone, different on each side.
sox -n -r 44100 -c 2 -b 16 in.wav synth 600 pinknoise sine 55 remix 1v0.7,2v0.3 1v0.3,2v0.7 gain -n -6 2>/dev/null

took() {  # seconds of wall time of one run of a command
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
sox_t=() float_t=() player_t=()
for _ in $(seq "$runs"); do
    rm -f out-*.wav
    sox_t+=("$(took sox in.wav out-sox.wav)")
    float_t+=("$(took "$kesta" render in.wav out-kesta.wav -q)")
    player_t+=("$(took "$kesta" render in.wav out-player.wav --player -q)")
done
sox_s=$(printf '%s\n' "${sox_t[@]}" | median)
float_s=$(printf '%s\n' "${float_t[@]}" | median)
player_s=$(printf '%s\n' "${player_t[@]}" | median)
frames=$((600 * 44100))
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); medians of $runs alternating runs"
printf '%-26s %8s %14s %10s\n' "10 min 44.1 kHz stereo" "seconds" "frames/s" "x sox"
for row in "sox in.wav out.wav:$sox_s" "kesta render:$float_s" "kesta render --player:$player_s"; do
    name=${row%%:*}
    s=${row##*:}
    printf '%-26s %8.3f %14.0f %10.2f\n' "$name" "$s" "$(echo "$frames / $s" | bc -l)" "$(echo "$s / $sox_s" | bc -l)"
done
