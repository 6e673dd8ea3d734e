#!/bin/bash
# The bash completion against the built kesta: what each half-typed command
# line is offered.
#   bash bash_completion.sh KESTA COMPLETION_SCRIPT
set -u
kesta=$1
# shellcheck source=/dev/null
source "$2"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir folder && touch song.flac

failed=0
# expect WANTED WORD...: the words typed, the last one being completed.
expect() {
    local wanted=$1
    shift
    COMP_WORDS=("$kesta" "$@")
    COMP_CWORD=$#
    _kesta
    local got="${COMPREPLY[*]}"
    [[ $got == "$wanted" ]] || { echo "kesta $* <TAB>: wanted '$wanted', got '$got'"; failed=1; }
}
expect "render" re
expect "--version" --v
expect "--mode --mono-3d" render --mo
expect "music voice" render --mode ""
expect "voice" render --mode = v      # --mode=v
expect "on off" render --match ""
expect "" demo --block ""
expect "folder" render song.flac -o ""
expect "" render --spread ""
expect "folder song.flac" render --mode voice ""
expect "--plugin" info --p
expect "folder song.flac" picture song.flac -o ""
expect "on off" desktop o
expect "status set" desktop s
expect "--default" desktop on --def
expect "music voice" desktop set --mode ""
exit $failed
