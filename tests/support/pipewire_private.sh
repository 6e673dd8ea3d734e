# Sourced by the PipeWire session scripts: a private session's home and the
# helpers both use inside it. Sets work (a folder removed on exit), HOME and
# XDG_RUNTIME_DIR, and exports the helpers for the session's shell.

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
unset XDG_CONFIG_HOME PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR LV2_PATH
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Waits up to $2 seconds for a node named $1.
wait_node() {
    for _ in $(seq "$(($2 * 5))"); do
        pw-cli ls Node 2>/dev/null | grep -q "node.name = \"$1\"" && return 0
        sleep 0.2
    done
    echo "no node $1" >&2
    return 1
}

# A null sink standing for the sound card (made by a client, so it comes
# back with every restart of the server only when made again).
null_sink() {
    pw-cli create-node adapter "{ factory.name=support.null-audio-sink node.name=nullsink
        media.class=Audio/Sink object.linger=1 audio.position=[FL FR] audio.rate=48000 }" >/dev/null &&
        wait_node nullsink 10
}

# Records what reaches the null sink into $1, in the background ($! is the
# recorder).
record_sink() {
    pw-record --target nullsink --format f32 --rate 48000 --channels 2 \
        -P "{ stream.capture.sink=true }" "$1" &
}

export -f wait_node null_sink record_sink
export work
