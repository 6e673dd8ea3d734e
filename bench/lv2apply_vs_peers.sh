#!/bin/bash
# Kesta's LV2 plug-in in a host that calls it one frame at a time (lv2apply)
# against two simpler stereo effects in the same host: Calf Stereo Tools and
# Invada's input module, on 32 s of 44.1 kHz 16-bit stereo speech (the voices
# alsa-utils installs, a different one on each side).
#
#   bench/lv2apply_vs_peers.sh [build folder]
#
# Installs the peers (Debian's calf-plugins and invada-studio-plugins-lv2)
# when they are missing. Runs the three in turn REPEATS times (default 5) and
# prints each one's CPU time (user + system), the medians, Kesta's x real
# time and the ratios Kesta / peer, with the machine's load. Each output is
# checked to be as long as the input.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
repeats=${REPEATS:-5}
sounds=/usr/share/sounds/alsa
kesta=https://kesta.example/plugins/stereo
calf=http://calf.sourceforge.net/plugins/StereoTools
invada=http://invadarecords.com/plugins/lv2/input
export LV2_PATH=$build/lib/lv2:/usr/lib/lv2:/usr/lib/x86_64-linux-gnu/lv2:/usr/local/lib/lv2

if ! lv2ls 2>/dev/null | grep -qx "$calf" || ! lv2ls 2>/dev/null | grep -qx "$invada" ||
    ! command -v lv2apply >/dev/null || ! command -v sox >/dev/null; then
    apt-get install -y calf-plugins invada-studio-plugins-lv2 lilv-utils sox alsa-utils >/dev/null
fi
lv2ls | grep -qx "$kesta" || { echo "lv2apply_vs_peers: no Kesta LV2 plug-in in $build/lib/lv2" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -M "$sounds/Front_Left.wav" "$sounds/Front_Right.wav" -r 44100 -b 16 "$work/pair.wav" pad 0 0.5 gain -n -3
sox "$work/pair.wav" "$work/in.wav" repeat 15
frames=$(sox --i -s "$work/in.wav")
seconds=$(sox --i -D "$work/in.wav")

cpu() {  # CPU seconds (user + system) of one run of lv2apply with plug-in $1
    local TIMEFORMAT='%U %S' times
    rm -f "$work/out.wav"
    times=$({ time lv2apply -i "$work/in.wav" -o "$work/out.wav" "$1" >/dev/null 2>&1; } 2>&1)
    [ "$(sox --i -s "$work/out.wav")" = "$frames" ] || { echo "lv2apply_vs_peers: $1 gave a short output" >&2; exit 1; }
    awk '{ printf "%.3f\n", $1 + $2 }' <<<"$times"
}
median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

k=() c=() i=()
for ((r = 0; r < repeats; ++r)); do
    k+=("$(cpu "$kesta")") c+=("$(cpu "$calf")") i+=("$(cpu "$invada")")
done
km=$(printf '%s\n' "${k[@]}" | median)
cm=$(printf '%s\n' "${c[@]}" | median)
im=$(printf '%s\n' "${i[@]}" | median)
echo "input: $seconds s, 44100 Hz, stereo, 16-bit; lv2apply, 1-frame blocks; load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Kesta: cpu ${k[*]} s, median $km s ($(awk -v s="$seconds" -v t="$km" 'BEGIN { printf "%.0f", s / t }')x real time)"
echo "Calf Stereo Tools: cpu ${c[*]} s, median $cm s"
echo "Invada input module: cpu ${i[*]} s, median $im s"
awk -v k="$km" -v c="$cm" -v i="$im" 'BEGIN { printf "Kesta / Calf: %.2fx; Kesta / Invada: %.2fx\n", k / c, k / i }'
