# shellcheck shell=bash
# One line per stage for the scripts here, instead of the raw output of the
# programs they run. Sourced, not run.
#
# stage WHAT LOG COMMAND...  runs COMMAND with its output into LOG, printing
# "WHAT ... done (12 s)"; when it fails, the whole log and its name follow and
# stage answers COMMAND's exit status. With KESTA_VERBOSE=1 the output shows as
# it comes (and still goes into LOG).
stage() {
    local what=$1 log=$2 status=0 start=$SECONDS
    shift 2
    mkdir -p "$(dirname "$log")"
    if [ "${KESTA_VERBOSE:-0}" = 1 ]; then
        echo "== $what"
        "$@" 2>&1 | tee "$log"
        return "${PIPESTATUS[0]}"
    fi
    printf '%s ... ' "$what"
    "$@" >"$log" 2>&1 </dev/null || status=$?
    if [ "$status" = 0 ]; then
        echo "done ($((SECONDS - start)) s)"
        return 0
    fi
    echo "failed (exit status $status):"
    cat "$log"
    echo "($what failed; the full log is $log)"
    return "$status"
}
