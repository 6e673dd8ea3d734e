#!/usr/bin/env bash
# Installs everything the project needs to build and test on Debian 12.
# Safe to run again: packages already present are left alone.
set -euo pipefail

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
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

# A locale with a decimal comma, so the tests can show that settings files do
# not depend on the user's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    $([ "$(id -u)" -eq 0 ] || echo sudo) localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
