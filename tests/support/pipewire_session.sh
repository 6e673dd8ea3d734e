#!/bin/bash
# Plays a file through a user's PipeWire filter-chain, as a desktop would,
# in a private session: a fresh home holding the configuration file and the
# LV2 bundle where a user puts them, pipewire and wireplumber on a session
# bus of their own, a null sink standing for the sound card. Records what
# reaches the sink.
#
# usage: pipewire_session.sh CONF BUNDLE IN OUT
# Exits 0 when OUT was written.
set -u
conf=$1 bundle=$2 in=$3 out=$4

source "$(dirname "$0")/pipewire_private.sh"
mkdir -p "$HOME/.config/pipewire/pipewire.conf.d" "$HOME/.lv2"
cp "$conf" "$HOME/.config/pipewire/pipewire.conf.d/kesta.conf"
cp -r "$bundle" "$HOME/.lv2/"

session() {
    pipewire >"$work/pipewire.log" 2>&1 &
    local pw=$!
    wireplumber >"$work/wireplumber.log" 2>&1 &
    local wp=$!
    local rec="" status=1
    if wait_node effect_input.kesta 45 && null_sink; then
        # The filter's output goes to the default sink, the only one there is.
        sleep 1
        record_sink "$out"
        rec=$!
        sleep 0.5
        timeout 30 pw-play --target effect_input.kesta "$in" && status=0
        sleep 1
    fi
    [ -n "$rec" ] && kill -INT "$rec" && wait "$rec"
    # (A server that has ended already says how.)
    kill -0 "$pw" 2>/dev/null || { wait "$pw"; echo "pipewire ended early, status $?" >>"$work/pipewire.log"; }
    kill "$wp" "$pw" 2>/dev/null
    wait
    return $status
}
export -f session
export out in
# A server that ends, or does not answer, before its first node (seen now
# and then on a busy machine, with nothing in its log) gets one more try,
# from a clean runtime folder; what is recorded is compared all the same.
for attempt in 1 2; do
    timeout -k 5 100 dbus-run-session -- bash -c session
    status=$?
    [ $status = 0 ] && [ -s "$out" ] && exit 0
    echo "PipeWire session failed ($status, attempt $attempt)" >&2
    tail -n 20 "$work/pipewire.log" "$work/wireplumber.log" >&2
    rm -rf "${XDG_RUNTIME_DIR:?}"/* "$out"
done
exit 1
