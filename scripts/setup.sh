#!/usr/bin/env bash
# Installs everything the project needs to build and test on Debian 12.
# Safe to run again: packages already present are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/stage.sh

packages=(
    build-essential cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libsndfile1-dev libgtk-3-dev
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

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

# Root runs apt itself; a user goes through sudo.
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
# apt's output goes into a log, shown in full only when it fails. Another apt
# or dpkg at work is waited for.
log=$(mktemp "${TMPDIR:-/tmp}/kesta-setup.XXXXXX")
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -o DPkg::Lock::Timeout=600)
install_missing() { "${apt[@]}" update && "${apt[@]}" install "${missing[@]}"; }
if [ ${#missing[@]} -gt 0 ]; then
    stage "Installing ${missing[*]}" "$log" install_missing
fi

# A locale with a decimal comma, so the tests can show that settings files do
# not depend on the user's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    stage "Making the de_DE.UTF-8 locale" "$log" "${sudo[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
rm -f "$log"
