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
cd "$work" && mkdir folder && touch song.flac || exit 1

failed=0
# expect WANTED WORD...: the words typed, the last one being completed.
# Compared in sorted order, as bash shows them (file names come in the
# folder's own order).
sorted() { printf '%s\n' "$@" | LC_ALL=C sort | paste -sd ' '; }
expect() {
    local wanted
    # shellcheck disable=SC2086 # the words of WANTED
    wanted=$(sorted $1)
    shift
    COMP_WORDS=("$kesta" "$@")
    COMP_CWORD=$#
    _kesta
    local got
    got=$(sorted "${COMPREPLY[@]}")
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
