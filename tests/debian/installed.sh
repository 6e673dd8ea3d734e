#!/usr/bin/env bash
# The Debian packages as a user gets them: built and checked by
# scripts/package.sh, installed into this machine, run by the hosts that
# find the installed plug-ins themselves (no LADSPA_PATH, no LV2_PATH, a fresh
# home), and purged, after which nothing they installed is left. Whatever
# happens, the packages this run installed are purged on the way out.
#   bash tests/debian/installed.sh         build the packages, then test them
#   bash tests/debian/installed.sh --no-build   test the packages already in dist/
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/stage.sh

build=1
[ "${1:-}" = --no-build ] && build=0
[ "$build" = 0 ] || bash scripts/package.sh

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -o DPkg::Lock::Timeout=600)
packages=(kesta kesta-ladspa kesta-lv2 kesta-audacious)
work=$(mktemp -d "${TMPDIR:-/tmp}/kesta-installed.XXXXXX")
logs=$PWD/build-deb/installed
mkdir -p "$logs"

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
every_installed() { dpkg-query -W -f='${Status} ${binary:Package}\n' | sed -n 's/^install ok installed //p' | sort; }

# What this run installs is purged on the way out, whatever happened, with
# what apt pulls in along with it (bash-completion, which kesta recommends);
# a package that was there before is left as it was found (upgraded, if
# dist/ is newer).
ours=()
for p in "${packages[@]}"; do installed "$p" || ours+=("$p"); done
before=$(every_installed)
pulled=()
# The packages installed since the start that are not ours: into pulled.
find_pulled() {
    mapfile -t pulled < <(comm -13 <(echo "$before") <(every_installed) | grep -vxF -f <(printf '%s\n' "${packages[@]}"))
}
[ ${#ours[@]} = ${#packages[@]} ] || echo "note: already installed, so kept: $(for p in "${packages[@]}"; do installed "$p" && printf '%s ' "$p"; done)"
purged=0
cleanup() {
    local status=$?
    set +e
    [ "$purged" = 1 ] || find_pulled
    if [ "$purged" = 0 ] && [ $((${#ours[@]} + ${#pulled[@]})) -gt 0 ]; then
        echo "Purging ${ours[*]} ${pulled[*]}"
        "${apt[@]}" purge "${ours[@]}" "${pulled[@]}" >"$logs/purge.log" 2>&1 || cat "$logs/purge.log"
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

debs=()
for p in "${packages[@]}"; do debs+=("$(ls dist/"${p}"_*.deb)"); done
stage "Installing ${debs[*]}" "$logs/install.log" "${apt[@]}" install "${debs[@]/#/./}"
find_pulled
[ ${#pulled[@]} = 0 ] || echo "note: apt installed ${pulled[*]} with them; purged at the end"

failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

# Every file installed is where the hosts look, and no binary points into a
# build tree or needs a library the system does not have.
listed=$(dpkg -L "${packages[@]}" | sort -u)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for f in /usr/bin/kesta /usr/share/man/man1/kesta.1.gz /usr/share/bash-completion/completions/kesta \
    /usr/lib/xmms/Effect/libkesta_xmms.so "/usr/lib/$multiarch/kesta/libxmms.so.1" \
    /usr/lib/ladspa/kesta_ladspa.so "/usr/lib/$multiarch/ladspa/kesta_ladspa.so" \
    /usr/lib/lv2/kesta.lv2/manifest.ttl "$(pkg-config --variable=plugin_dir audacious)/Effect/libkesta_audacious.so"; do
    grep -qxF "$f" <<<"$listed" && [ -e "$f" ] || fail "$f is not installed"
done
while read -r f; do
    [ -f "$f" ] && [ ! -L "$f" ] && head -c 4 "$f" | grep -q ELF || continue
    runpath=$(readelf -d "$f" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
    for dir in ${runpath//:/ }; do
        case $dir in \$ORIGIN*) ;; *) fail "$f has the run path $dir" ;; esac
    done
    ! ldd "$f" | grep -q "not found" || fail "$f needs a library that is not found: $(ldd "$f" | grep 'not found')"
done <<<"$listed"
man -w kesta >/dev/null 2>&1 || fail "man does not find kesta(1)"
bash -c '. /usr/share/bash-completion/completions/kesta && complete -p kesta' >/dev/null ||
    fail "the bash completion does not load"
# Tab completes as a user's shell does it: bash-completion, which kesta
# recommends, loads kesta's completion on first use.
tab=$(bash -c '. /usr/share/bash-completion/bash_completion && _completion_loader kesta
    COMP_WORDS=(kesta re) COMP_CWORD=1
    "$(complete -p kesta | sed -n "s/.* -F \([^ ]*\) .*/\1/p")" kesta re kesta && echo "${COMPREPLY[*]}"' 2>/dev/null) ||
    true
[ "$tab" = render ] || fail "Tab after 'kesta re' offers '$tab', not render: bash-completion missing or not loading it"

# The hosts, each with nothing but the system's own folders to find the
# plug-ins in.
unset LADSPA_PATH LV2_PATH
# A home and runtime folder of their own, so that what the hosts' sound
# libraries leave (libpulse's runtime folder) goes with the work folder.
export HOME=$work/home TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$TMPDIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
cd "$work"
# Three seconds of two different channels (a sweep, pink noise) and of mono.
sox -n -r 48000 -e floating-point -b 32 -c 2 stereo.wav synth 3 sine 200-2000 pinknoise vol 0.3
sox -n -r 48000 -e floating-point -b 32 -c 1 mono.wav synth 3 sine 300-3000 vol 0.3

# compare REFERENCE OUTPUT: the largest difference between the two once the
# output's delay is taken out (the first delay, 0 to 1000 frames, for which
# they agree within 2e-6), over the frames both have. Prints "DELAY
# DIFFERENCE FRAMES"; when they never agree, the delay is 0 and the difference
# the largest one without a delay.
compare() {
    awk -v tolerance=2e-6 '
        FNR == 1 { file++; n = 0 }
        /^;/ { next }
        { for (c = 2; c <= NF; c++) v[file, n, c] = $c; channels = NF; frames[file] = ++n }
        END {
            best = -1
            for (delay = 0; delay <= 1000 && best < 0; delay++) {
                worst = 0
                for (i = 0; i + delay < frames[2] && i < frames[1] && worst <= tolerance; i++)
                    for (c = 2; c <= channels; c++) {
                        d = v[2, i + delay, c] - v[1, i, c]; if (d < 0) d = -d
                        if (d > worst) worst = d
                    }
                if (worst <= tolerance) { best = delay; diff = worst }
            }
            if (best < 0) {
                best = 0; diff = 0
                for (i = 0; i < frames[2] && i < frames[1]; i++)
                    for (c = 2; c <= channels; c++) {
                        d = v[2, i, c] - v[1, i, c]; if (d < 0) d = -d
                        if (d > diff) diff = d
                    }
            }
            printf "%d %g %d\n", best, diff, (frames[1] < frames[2] ? frames[1] : frames[2])
        }' <(sox "$1" -t dat - 2>/dev/null) <(sox "$2" -t dat - 2>/dev/null)
}

# check NAME REFERENCE OUTPUT WANTED_DELAY: the host wrote the reference,
# after WANTED_DELAY frames ("any" when the host's own delay is not ours to
# check), over at least 90 % of the input.
check() {
    local name=$1 ref=$2 out=$3 want=$4 got
    if [ ! -s "$out" ]; then
        fail "$name wrote nothing"
        return
    fi
    read -r delay diff frames < <(compare "$ref" "$out")
    got="delay $delay frames, largest difference $diff over $frames frames"
    if awk -v d="$diff" -v f="$frames" 'BEGIN { exit !(d <= 2e-6 && f >= 0.9 * 3 * 48000) }' &&
        { [ "$want" = any ] || [ "$delay" = "$want" ]; }; then
        echo "ok   $name: $got"
    else
        fail "$name: $got (wanted the reference after ${want} frames)"
    fi
}

# host NAME COMMAND...: runs a host, its output into a log shown if it fails.
host() {
    local name=$1
    shift
    "$@" >"$name.log" 2>&1 || { fail "$name failed:"; cat "$name.log"; }
}

host kesta-render kesta render stereo.wav reference.wav --spread -6 --bits float -q
host kesta-render-mono kesta render mono.wav reference-mono.wav --bits float -q
# differs A B: A and B differ by more than 0.01 somewhere.
differs() { compare "$1" "$2" | awk '{ exit !($2 > 0.01) }'; }
differs stereo.wav reference.wav || fail "kesta render passed the input through"

host sox sox stereo.wav -e floating-point -b 32 sox.wav ladspa -l kesta_ladspa kesta_stereo -6
check "sox, LADSPA, latency taken out (-l)" reference.wav sox.wav 0
host ffmpeg-ladspa ffmpeg -nostdin -loglevel error -i stereo.wav -af "ladspa=f=kesta_ladspa:p=kesta_stereo:c=c0=-6" \
    -c:a pcm_f32le ffmpeg-ladspa.wav
check "ffmpeg, LADSPA" reference.wav ffmpeg-ladspa.wav any
host lv2file lv2file -i stereo.wav -o lv2file.wav -p spread:-6 https://kesta.example/plugins/stereo
check "lv2file, LV2" reference.wav lv2file.wav any
host ffmpeg-lv2 ffmpeg -nostdin -loglevel error -i stereo.wav \
    -af 'lv2=p=https\\://kesta.example/plugins/stereo:c=spread=-6' -c:a pcm_f32le ffmpeg-lv2.wav
check "ffmpeg, LV2" reference.wav ffmpeg-lv2.wav any
host ffmpeg-lv2-mono ffmpeg -nostdin -loglevel error -i mono.wav \
    -af 'lv2=p=https\\://kesta.example/plugins/mono' -c:a pcm_f32le ffmpeg-lv2-mono.wav
check "ffmpeg, LV2 mono to stereo" reference-mono.wav ffmpeg-lv2-mono.wav any

# Audacious, playing into its file writer with the effect enabled: a fresh
# configuration, no session bus and no display (a running player would be
# handed the file), as in its own tests.
audacious_plays() {
    export XDG_CONFIG_HOME=$work/audacious/config XDG_DATA_HOME=$work/audacious/data
    export XDG_CACHE_HOME=$work/audacious/cache DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
    unset DISPLAY
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$work/audacious/out"
    timeout 60 audacious -H -q || return
    local registry=$XDG_CONFIG_HOME/audacious/plugin-registry
    # An entry starts with its type and path: enable the file writer and
    # Kesta, and no other output.
    awk '$2 ~ /^\// { entry = $0 }
         /^enabled / { if (entry ~ /\/Output\/filewriter\.so$/ || entry ~ /\/Effect\/libkesta_audacious\.so$/) $0 = "enabled 1"
                       else if (entry ~ /^output /) $0 = "enabled 0" }
         { print }' "$registry" >"$registry.new" && mv "$registry.new" "$registry"
    printf '[filewriter]\nfileext=0\nfile_path=file://%s\nsave_original=FALSE\nfilenamefromtags=FALSE\nuse_suffix=FALSE\n\n[kesta]\nvastor_spread=-6\n' \
        "$work/audacious/out" >"$XDG_CONFIG_HOME/audacious/config"
    timeout 60 audacious -H -q "$work/stereo.wav"
}
host audacious audacious_plays
check "Audacious, its own plug-in" reference.wav audacious/out/stereo.wav any

# GStreamer (when installed) lists both plug-ins, each once, from the system's
# folders: the LADSPA one is in two of the folders it reads.
if command -v gst-inspect-1.0 >/dev/null; then
    elements=$(gst-inspect-1.0 2>/dev/null | grep -ciE ': +(ladspa-kesta-ladspa-so-kesta-stereo|kesta-example-plugins-stereo):')
    if [ "$elements" = 2 ]; then echo "ok   GStreamer lists the LADSPA and LV2 elements"; else
        fail "GStreamer lists $elements of the two elements: $(gst-inspect-1.0 2>/dev/null | grep -i kesta)"
    fi
fi

# The XMMS plug-in, loaded by kesta from the player's plug-in folder with the
# stand-in library beside it in ours.
host kesta-info kesta info
grep -q "Orvane Kesta for XMMS" kesta-info.log || fail "kesta info did not load the XMMS plug-in: $(cat kesta-info.log)"
host kesta-player kesta render stereo.wav player.wav --player -q
if [ -s player.wav ] && differs stereo.wav player.wav; then
    echo "ok   kesta render --player: the XMMS plug-in"
else
    fail "kesta render --player wrote nothing, or the input itself"
fi

# kesta desktop as installed, in a private PipeWire session (the build's
# tests compare what it plays with kesta render): on --default takes the
# installed bundle, status tells each step, off leaves nothing of ours.
if command -v pipewire >/dev/null && command -v wireplumber >/dev/null && command -v dbus-run-session >/dev/null; then
    mkdir -p desktop
    if bash "${logs%/build-deb/installed}/tests/support/desktop_session.sh" kesta "$work/stereo.wav" "$work/stereo.wav" "$work/desktop" \
        >desktop.log 2>&1 &&
        grep -q "Kesta 3D Sound is the default output" desktop/status-on.txt &&
        grep -q -- "--spread -18 " desktop/status-set.txt && grep -q "Kesta 3D Sound is off" desktop/status-off.txt &&
        [ "$(cat desktop/default-off.txt)" = nullsink ] && ! grep -q -e kesta-desktop -e '\.lv2' desktop/left.txt && grep -qxF ./.xmms/config desktop/left.txt &&
        sox desktop/rec1.wav -n stat 2>&1 | awk '/RMS +amplitude/ { exit !($3 > 0.01) }'; then
        echo "ok   kesta desktop: on --default, set, off in a private PipeWire session"
    else
        fail "kesta desktop in a private PipeWire session:"
        cat desktop.log desktop/*.txt
    fi
else
    echo "note: pipewire, wireplumber or dbus-run-session missing: kesta desktop not tried"
fi
cd - >/dev/null

# Purged, the packages leave nothing behind: every file they listed is gone,
# and every folder that is left is someone else's too.
stage "Purging ${ours[*]} ${pulled[*]}" "$logs/purge.log" "${apt[@]}" purge "${ours[@]}" "${pulled[@]}"
purged=1
if [ ${#ours[@]} = ${#packages[@]} ]; then
    while read -r f; do
        if [ -d "$f" ] && [ ! -L "$f" ]; then
            [ -n "$(ls -A "$f")" ] || dpkg -S "$f" >/dev/null 2>&1 || fail "the empty folder $f is left"
        elif [ -e "$f" ] || [ -L "$f" ]; then
            fail "$f is left after the purge"
        fi
    done <<<"$listed"
fi
[ "$failed" = 0 ] && echo "The installed packages work with every host tried, and purge cleanly."
exit "$failed"
