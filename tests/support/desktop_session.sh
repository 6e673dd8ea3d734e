#!/bin/bash
# kesta desktop in a private PipeWire session, as a user runs it: a fresh
# home, pipewire and wireplumber on a session bus of their own, a null sink
# standing for the sound card, and a systemctl earlier on PATH that restarts
# this session's pipewire and wireplumber, as the user's systemd would.
#
# usage: desktop_session.sh KESTA IN1 IN2 OUT
# Into the folder OUT: status-{before,on,set,configure,off}.txt, what kesta desktop
# said (said.txt), rec1.wav (IN1 played to the default output after
# 'on --default'), rec2.wav (IN2, with 'set --spread -18' while it plays;
# timing.txt gives the seconds from its start to the set; then the settings
# file changed under an open kesta configure), default-*.txt
# (the default output at each step), restarts.txt (the units systemctl
# restarted, one line each), left.txt (the files left in the home,
# and what the user's drop-ins hold)
# and diagnostics.txt (the servers' state at the end, and their logs).
set -u
kesta=$1 in1=$2 in2=$3 out=$4

source "$(dirname "$0")/pipewire_private.sh"
mkdir -p "$work/bin"
# A drop-in of the user's own, which kesta desktop leaves as it is: cycles
# of 4096 frames, which a machine busy with builds keeps up with.
user_conf() {
    mkdir -p "$HOME/.config/pipewire/pipewire.conf.d"
    printf 'context.properties = {\n    default.clock.quantum = 4096\n    default.clock.min-quantum = 4096\n    default.clock.max-quantum = 8192\n}\n' \
        >"$HOME/.config/pipewire/pipewire.conf.d/quantum.conf"
}
user_conf
cat >"$work/bin/systemctl" <<'SH'
#!/bin/bash
# Stands for the user's systemd: restart pipewire.service restarts this
# session's pipewire and wireplumber (bound to it, as Debian's units are).
[ "$1" = --user ] || exit 1
case "$2" in
show-environment) exit 0 ;;
restart)
    echo "$3" >>"$out/restarts.txt"
    kill "$(cat "$work/wp.pid")" "$(cat "$work/pw.pid")" 2>/dev/null
    while kill -0 "$(cat "$work/pw.pid")" 2>/dev/null; do sleep 0.1; done
    start_session
    exit 0 ;;
esac
exit 1
SH
chmod +x "$work/bin/systemctl"
export PATH=$work/bin:$PATH

start_session() {
    pipewire >>"$work/pipewire.log" 2>&1 </dev/null &
    echo $! >"$work/pw.pid"
    wireplumber >>"$work/wireplumber.log" 2>&1 </dev/null &
    echo $! >"$work/wp.pid"
}

default_sink() {
    pw-metadata -n default 0 default.audio.sink 2>/dev/null | grep -o '"name":"[^"]*"' | cut -d'"' -f4
}

# Waits up to 30 s (WirePlumber on a busy machine) for the default output
# to be $1, then writes the default output into $2.
wait_default() {
    for _ in $(seq 150); do [ "$(default_sink)" = "$1" ] && break; sleep 0.2; done
    default_sink >"$2"
    # A server that went away (as one does now and then on a busy machine,
    # with nothing in its log) fails the session, which is tried again.
    pw-cli info 0 >/dev/null 2>&1 || { echo "the server is gone" >&2; return 1; }
}

session() {
    start_session
    wait_node Dummy-Driver 45 || return 1
    null_sink || return 1
    # The user's speakers, chosen in the sound settings.
    for _ in $(seq 150); do pw-metadata -n default 0 2>/dev/null | grep -q Found && break; sleep 0.2; done
    pw-metadata -n default 0 default.configured.audio.sink '{ "name": "nullsink" }' Spa:String:JSON >/dev/null
    wait_default nullsink "$out/default-before.txt" || return 1
    "$kesta" desktop status >"$out/status-before.txt" 2>&1
    "$kesta" desktop on --default --spread -6 >>"$out/said.txt" 2>&1 || return 1
    # The null sink is made by a client, not by the configuration: it comes
    # back with every restart of the server.
    null_sink || return 1
    wait_default effect_input.kesta "$out/default-on.txt" || return 1
    sleep 1
    "$kesta" desktop status >"$out/status-on.txt" 2>&1
    # Once more, with the filter running as it is: no restart.
    "$kesta" desktop on --default >>"$out/said.txt" 2>&1 || return 1

    record_sink "$out/rec1.wav"
    local rec=$!
    sleep 0.5
    timeout 30 pw-play "$in1" || return 1
    sleep 1
    kill -INT $rec
    wait $rec

    record_sink "$out/rec2.wav"
    rec=$!
    sleep 0.5
    local start
    start=$(date +%s.%N)
    timeout 30 pw-play "$in2" &
    local play=$!
    sleep 2
    local before after
    before=$(date +%s.%N)
    "$kesta" desktop set --spread -18 >>"$out/said.txt" 2>&1 || return 1
    after=$(date +%s.%N)
    echo "$before $after $start" | awk '{ print $1 - $3, $2 - $3 }' >"$out/timing.txt"
    wait $play || return 1
    sleep 1
    kill -INT $rec
    wait $rec
    "$kesta" desktop status >"$out/status-set.txt" 2>&1

    # kesta configure's window, open while the filter runs, hands it what it
    # saves: the settings file is changed here as the window changes it.
    if command -v xvfb-run >/dev/null; then
        xvfb-run -a sh -c 'echo $$ >"$work/configure.pid"; exec "$kesta" configure' >"$work/configure.log" 2>&1 &
        local window=$!
        sed -i 's/^vastor_spread=.*/vastor_spread=-12/' "$HOME/.xmms/config"
        for _ in $(seq 50); do
            "$kesta" desktop status 2>&1 | grep -q -- "--spread -12 " && break
            sleep 0.2
        done
        "$kesta" desktop status >"$out/status-configure.txt" 2>&1
        kill "$(cat "$work/configure.pid")"
        wait $window
    else
        echo "no xvfb-run" >"$out/status-configure.txt"
    fi

    "$kesta" desktop off >>"$out/said.txt" 2>&1 || return 1
    null_sink || return 1
    wait_default nullsink "$out/default-off.txt" || return 1
    "$kesta" desktop status >"$out/status-off.txt" 2>&1
    return 0
}

# What PipeWire and WirePlumber had to say, for a test that fails.
diagnose() {
    {
        wpctl status
        pw-metadata -n default 0
        tail -n 20 "$work/pipewire.log" "$work/wireplumber.log"
    } >"$out/diagnostics.txt" 2>&1
}

finish() {
    kill "$(cat "$work/wp.pid")" "$(cat "$work/pw.pid")" 2>/dev/null
    wait
}

export -f session start_session default_sink wait_default diagnose finish
export out kesta in1 in2
# A server that ends, or does not answer, before its first node gets one
# more try, from a clean runtime folder and home.
for attempt in 1 2; do
    timeout -k 5 300 dbus-run-session -- bash -c 'session; status=$?; diagnose; finish; exit $status'
    status=$?
    # (The servers a restart started are not the session's children: a
    # session that timed out leaves them to this.)
    kill "$(cat "$work/wp.pid")" "$(cat "$work/pw.pid")" 2>/dev/null
    (cd "$HOME" && find . -path ./.local -prune -o -print | sort && cat .config/pipewire/pipewire.conf.d/*) \
        >"$out/left.txt"
    [ $status = 0 ] && exit 0
    echo "PipeWire session failed ($status, attempt $attempt)" >&2
    cat "$out/said.txt" >&2
    tail -n 20 "$work/pipewire.log" "$work/wireplumber.log" >&2
    rm -rf "${XDG_RUNTIME_DIR:?}"/* "${HOME:?}" "$out"/*
    user_conf
done
exit 1
