#!/usr/bin/env bash
# cmake --install from a build tree, into a scratch folder: every part is
# installed where its host looks, and no installed binary points back into
# the build tree: each finds its libraries from where it was installed.
#   bash cmake_install.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr/local >/dev/null

failed=0
for f in bin/kesta share/man/man1/kesta.1 share/bash-completion/completions/kesta \
    lib/xmms/Effect/libkesta_xmms.so lib/kesta/libxmms.so.1 lib/ladspa/kesta_ladspa.so \
    lib/lv2/kesta.lv2/kesta.so lib/lv2/kesta.lv2/manifest.ttl; do
    [ -e "$root/usr/local/$f" ] || { echo "not installed: /usr/local/$f"; failed=1; }
done
while read -r f; do
    head -c 4 "$f" | grep -q ELF || continue
    for dir in $(readelf -d "$f" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p' | tr : ' '); do
        [[ $dir == \$ORIGIN* ]] || { echo "$f has the run path $dir"; failed=1; }
    done
    if ldd "$f" | grep -E "not found|$(realpath "$build")"; then
        echo "$f does not find its libraries where it is installed"
        failed=1
    fi
done < <(find "$root" -type f)
# kesta finds the installed XMMS plug-in by itself.
HOME=$root "$root/usr/local/bin/kesta" info | grep -q "Orvane Kesta for XMMS" || failed=1
exit $failed
