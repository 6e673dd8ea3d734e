#!/bin/bash
# Whole-process time of `kesta render` against `ffmpeg -af stereowiden` on the
# same 10-minute 44.1 kHz stereo 16-bit WAV, made from the speech recordings
# that alsa-utils installs (a different voice on each side, with pauses).
#
#   bench/render_vs_ffmpeg.sh [build folder] [extra kesta render options...]
#
# Runs each command REPEATS times (default 5), alternating, and prints every
# time, the medians and the ratios kesta / ffmpeg: of wall time, and of CPU
# time (user + system, all threads), which is what counts on a busy machine
# or in a batch (-j); and the ratio of the least CPU times, which other work
# on a shared machine disturbs least. Both outputs are checked to
# be as long as the input and to differ from it, so a failed run cannot pass
# for a fast one. The machine should be otherwise idle; on a shared machine
# the ratio is the figure to read, not the times.
set -euo pipefail

build=${1:-build}
shift || true
kesta=$build/bin/kesta
repeats=${REPEATS:-5}
sounds=/usr/share/sounds/alsa
for tool in sox ffmpeg "$kesta"; do
    command -v "$tool" >/dev/null || { echo "render_vs_ffmpeg: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
input=$work/speech-10min.wav

# Ten minutes of 16-bit stereo at 44100 Hz: left and right voices side by side.
sox -M "$sounds/Front_Left.wav" "$sounds/Front_Right.wav" -r 44100 -b 16 "$work/pair.wav" \
    pad 0 0.5 gain -n -3
seconds=$(sox --i -D "$work/pair.wav")
count=$(awk -v s="$seconds" 'BEGIN { print int(600 / s) + 1 }')
sox "$work/pair.wav" "$work/long.wav" repeat "$count"
sox "$work/long.wav" "$input" trim 0 600
frames=$(sox --i -s "$input")

# Seconds of wall time and of CPU time (user + system) of one run of the
# command, as "wall cpu".
run() {
    local TIMEFORMAT='%R %U %S' times
    times=$({ time "$@" >/dev/null 2>&1; } 2>&1)
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$times"
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

check() {
    local out=$1 name=$2
    [ "$(sox --i -s "$out")" = "$frames" ] || { echo "$name: output is not as long as the input" >&2; exit 1; }
    # The difference from the input must not be silence.
    local rms
    rms=$(sox -m -v 1 "$input" -v -1 "$out" -n stat 2>&1 | awk '/RMS +amplitude/ { print $3 }')
    awk -v r="$rms" 'BEGIN { exit !(r > 0.0001) }' || { echo "$name: output equals the input" >&2; exit 1; }
}

kesta_wall=() kesta_cpu=() ffmpeg_wall=() ffmpeg_cpu=()
for ((i = 0; i < repeats; ++i)); do
    rm -f "$work/kesta.wav" "$work/ffmpeg.wav"
    read -r wall cpu < <(run "$kesta" render "$input" "$work/kesta.wav" "$@")
    kesta_wall+=("$wall") kesta_cpu+=("$cpu")
    check "$work/kesta.wav" "kesta render"
    read -r wall cpu < <(run ffmpeg -nostdin -y -i "$input" -af stereowiden "$work/ffmpeg.wav")
    ffmpeg_wall+=("$wall") ffmpeg_cpu+=("$cpu")
    check "$work/ffmpeg.wav" "ffmpeg"
done

kw=$(printf '%s\n' "${kesta_wall[@]}" | median)
kc=$(printf '%s\n' "${kesta_cpu[@]}" | median)
fw=$(printf '%s\n' "${ffmpeg_wall[@]}" | median)
fc=$(printf '%s\n' "${ffmpeg_cpu[@]}" | median)
echo "input: 600 s, 44100 Hz, stereo, 16-bit ($frames frames); load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "kesta render ${*:-}: wall ${kesta_wall[*]} s, median $kw s; cpu ${kesta_cpu[*]} s, median $kc s"
echo "ffmpeg -af stereowiden: wall ${ffmpeg_wall[*]} s, median $fw s; cpu ${ffmpeg_cpu[*]} s, median $fc s"
awk -v k="$kw" -v f="$fw" 'BEGIN { printf "kesta / ffmpeg, wall time: %.2fx\n", k / f }'
awk -v k="$kc" -v f="$fc" 'BEGIN { printf "kesta / ffmpeg, cpu time (user + system): %.2fx\n", k / f }'
kl=$(printf '%s\n' "${kesta_cpu[@]}" | sort -n | head -1)
fl=$(printf '%s\n' "${ffmpeg_cpu[@]}" | sort -n | head -1)
awk -v k="$kl" -v f="$fl" 'BEGIN { printf "kesta / ffmpeg, least cpu time: %.2fx\n", k / f }'
