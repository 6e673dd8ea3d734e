#!/usr/bin/env bash
# Installs what the project needs on Debian 12, in two layers:
#   scripts/setup.sh --demo   what building and running the demo needs (the kesta
#                             target): a compiler, CMake, Ninja, pkg-config and the
#                             libraries kesta builds against
#   scripts/setup.sh          that, and on top what building everything, every test
#                             and the Debian packages need: GoogleTest, clang, the
#                             hosts (sox, ffmpeg, Audacious, LADSPA, LV2, mpv,
#                             GStreamer, PipeWire, Ardour, Audacity), the recordings
#                             the tests play and a de_DE.UTF-8 locale
# Neither installs what the packages only recommend.
# It says how many packages it installs and their size before it starts, and
# shows its progress while it works. Safe to run again: packages already
# present are left alone. As a user, apt runs through sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/stage.sh

layer=all
for arg in "$@"; do
    case $arg in
        --demo) layer=demo ;;
        -h|--help) sed -n '2,14s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "scripts/setup.sh: unknown option $arg (try --help)" >&2; exit 2 ;;
    esac
done

# The demo: configuring the project (GLib, GTK 3's headers, libsndfile, cairo)
# and building kesta with the plug-in it loads.
demo_packages=(
    g++ cmake ninja-build pkg-config
    libsndfile1-dev libgtk-3-dev
)
# Everything else: the tests, the benchmarks, the other hosts and packaging.
# Of what GTK only recommends, what its windows under the tests' virtual X
# server use is named here (SVG icons, the settings schemas, the accessibility
# bus).
test_packages=(
    build-essential
    libgtest-dev libgmock-dev libbenchmark-dev
    librsvg2-common libgtk-3-bin at-spi2-core gsettings-desktop-schemas
    xvfb xauth
    locales
    clang libclang-rt-14-dev clang-format
    ladspa-sdk lv2-dev sordi serdi lilv-utils lv2file
    sox libsox-fmt-all ffmpeg
    audacious audacious-plugins audacious-dev dbus
    alsa-utils
    debhelper dpkg-dev lintian groff-base man-db
    mpv gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
    pipewire pipewire-bin wireplumber
    audacity ardour
    # real recordings for the limiter's and automatic mono's tests (tests/core)
    asc-music extremetuxracer-data chromium-bsu-data
)

packages=("${demo_packages[@]}")
[ "$layer" = demo ] || packages+=("${test_packages[@]}")
# What the packages merely recommend (documentation, other front ends, extra
# codecs and services) is left out: the demo and every test run without it.
recommends=(--no-install-recommends)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

# A locale with a decimal comma, so the tests can show that settings files do
# not depend on the user's locale.
locale=0
if [ "$layer" = all ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then locale=1; fi

# Root runs apt itself; a user goes through sudo, which asks for a password
# (if at all) before a stage's line, not in the middle of it.
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
sudo_ready() { [ ${#sudo[@]} -eq 0 ] || sudo -v; }
# apt's output goes into a log, shown in full only when it fails. Another apt
# or dpkg at work is waited for. apt speaks English here, for the lines read
# from it below.
log=$(mktemp "${TMPDIR:-/tmp}/kesta-setup.XXXXXX")
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive LC_ALL=C apt-get -o DPkg::Lock::Timeout=600)

# Reads apt's output: its own lines go into the log, its status lines
# (APT::Status-Fd=1) show how far it has got, the percentage and what apt is
# at ("Retrieving file 12 of 310", "Unpacking libgtk-3-0 (amd64)"). On a
# terminal that is one short line, rewritten as it moves; elsewhere a line
# when it passes a quarter or goes from downloading to installing.
progress() {
    # Never stops early: apt would lose the rest of its output.
    set +e
    local line kind pct what shown=
    while IFS= read -r line; do
        case $line in
            dlstatus:* | pmstatus:*) ;;
            *) printf '%s\n' "$line" >>"$log"; continue ;;
        esac
        IFS=: read -r kind _ pct what <<<"$line"
        pct=${pct%%.*}
        [[ $pct =~ ^[0-9]+$ ]] || continue
        if [ -t 1 ]; then
            printf '\r\033[K  %3d %%  %.60s' "$pct" "$what"
        elif [ "$kind $((pct / 25))" != "$shown" ]; then
            shown="$kind $((pct / 25))"
            printf '  %3d %%  %s\n' "$pct" "$what"
        fi
    done
    if [ -t 1 ]; then printf '\r\033[K'; fi
}

# Installs the missing packages with a line that says how many there are, how
# much they take, and how far it has got.
install_missing() {
    local plan count size disk status=0 start=$SECONDS head
    plan=$("${apt[@]}" install --assume-no "${recommends[@]}" "${missing[@]}" 2>&1 </dev/null) || true
    # "4 upgraded, 310 newly installed, ...", "Need to get 206 MB of archives.",
    # "After this operation, 823 MB of additional disk space will be used."
    count=$(sed -n 's/^\([0-9]*\) upgraded, \([0-9]*\) newly installed.*/\1 \2/p' <<<"$plan")
    if [ -z "$count" ]; then
        echo "apt cannot install ${missing[*]}:"
        printf '%s\n' "$plan"
        return 1
    fi
    count=$((${count% *} + ${count#* }))
    size=$(sed -n 's/^Need to get \([^ ]* [kMG]\{0,1\}B\).*/\1/p' <<<"$plan")
    disk=$(sed -n 's/^After this operation, \([^ ]* [kMG]\{0,1\}B\) of additional.*/\1/p' <<<"$plan")
    head="Installing $count packages: ${size:-nothing} to download, ${disk:-no more} on disk"
    if [ "$layer" = demo ]; then
        head+=", a few minutes on a fresh machine"
    else
        head+=", several minutes on a fresh machine"
    fi
    if [ "${KESTA_VERBOSE:-0}" = 1 ]; then
        echo "== $head"
        "${apt[@]}" -y install "${recommends[@]}" "${missing[@]}" </dev/null 2>&1 | tee "$log"
        return "${PIPESTATUS[0]}"
    fi
    echo "$head"
    : >"$log"
    "${apt[@]}" -y -o APT::Status-Fd=1 install "${recommends[@]}" "${missing[@]}" </dev/null 2>&1 |
        progress || status=$?
    if [ "$status" = 0 ]; then
        echo "  done ($((SECONDS - start)) s)"
        return 0
    fi
    echo "  failed (exit status $status):"
    cat "$log"
    echo "(installing failed; the full log is $log)"
    return "$status"
}

if [ ${#missing[@]} -gt 0 ]; then
    sudo_ready
    stage "Updating the package lists" "$log" "${apt[@]}" -y update
    install_missing
fi
if [ "$locale" = 1 ]; then
    sudo_ready
    stage "Making the de_DE.UTF-8 locale" "$log" "${sudo[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
rm -f "$log"
