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

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
unset XDG_CONFIG_HOME PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR LV2_PATH
mkdir -p "$HOME/.config/pipewire/pipewire.conf.d" "$HOME/.lv2" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
cp "$conf" "$HOME/.config/pipewire/pipewire.conf.d/kesta.conf"
cp -r "$bundle" "$HOME/.lv2/"

session() {
    # Waits up to $2 seconds for a node named $1.
    wait_node() {
        for _ in $(seq "$(($2 * 5))"); do
            pw-cli ls Node 2>/dev/null | grep -q "node.name = \"$1\"" && return 0
            sleep 0.2
        done
        echo "no node $1" >&2
        return 1
    }
    pipewire >"$work/pipewire.log" 2>&1 &
    local pw=$!
    wireplumber >"$work/wireplumber.log" 2>&1 &
    local wp=$!
    local rec="" status=1
    if wait_node effect_input.kesta 45 &&
        pw-cli create-node adapter "{ factory.name=support.null-audio-sink node.name=nullsink
            media.class=Audio/Sink object.linger=1 audio.position=[FL FR] audio.rate=48000 }" >/dev/null &&
        wait_node nullsink 10; then
        # The filter's output goes to the default sink, the only one there is.
        sleep 1
        pw-record --target nullsink --format f32 --rate 48000 --channels 2 \
            -P "{ stream.capture.sink=true }" "$out" &
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
export work out in
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
