#!/usr/bin/env bash
# Builds the Debian packages into dist/: kesta (the command-line renderer, its
# manual page and bash completion, the XMMS plug-in), kesta-ladspa, kesta-lv2
# and kesta-audacious, then checks them with lintian (errors fail the build).
#   scripts/package.sh        quiet: one line per stage, a failing step in full
#   scripts/package.sh -v     every step's own output
# The build runs on a copy of the source files (git's, when this is a clone)
# in build-deb/, so the tree's own build folders never leak into a package.
# Install them with: apt-get install ./dist/*.deb (sudo as a user).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/stage.sh

for arg in "$@"; do
    case $arg in
        -v|--verbose) export KESTA_VERBOSE=1 ;;
        -h|--help) sed -n '2,9s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "scripts/package.sh: unknown option $arg (try --help)" >&2; exit 2 ;;
    esac
done

bash scripts/setup.sh

version=$(sed -n 's/^project(kesta VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
packaged=$(dpkg-parsechangelog -S Version)
if [ "$version" != "$packaged" ]; then
    echo "CMakeLists.txt says version $version, debian/changelog $packaged: add a changelog entry" >&2
    exit 1
fi

work=build-deb
rm -rf "$work"
mkdir -p "$work/kesta-$version"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # The tracked files as they are now, edits included.
    git ls-files -z --cached --others --exclude-standard |
        tar -cf - --no-recursion --ignore-failed-read --null -T - | tar -xf - -C "$work/kesta-$version"
else
    tar -cf - --exclude='./build*' --exclude=./dist --exclude=./kesta-demo . | tar -xf - -C "$work/kesta-$version"
fi

DEB_BUILD_OPTIONS="noddebs parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
export DEB_BUILD_OPTIONS
stage "Building the packages (build-deb/build.log)" "$work/build.log" \
    bash -c "cd '$work/kesta-$version' && dpkg-buildpackage -b -us -uc"

mkdir -p dist
rm -f dist/*.deb dist/*.changes dist/*.buildinfo
mv "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo dist/
changes=$(ls dist/*.changes)
# (lintian's caches go into build-deb/, not /tmp, where it would leave them.)
mkdir -p "$work/tmp"
stage "Checking them with lintian" "$work/lintian.log" env TMPDIR="$PWD/$work/tmp" lintian --fail-on error "$changes"
# Warnings and notes are shown, but only errors fail.
grep -E '^[WI]: ' "$work/lintian.log" || true
ls dist/*.deb
