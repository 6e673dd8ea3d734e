#!/bin/sh
# Writes the manual page kesta(1) to standard output from the help of the
# kesta program given: its usage and every command's --help, so that the page
# lists every command and option that program has.
#   sh hosts/kesta/kesta-man.sh KESTA INSTALLED_PLUGIN > kesta.1
# The help follows a few layouts, which become roff here: "usage:" lines (the
# synopsis), option lines ("  --name VALUE   what it does", continued on
# lines indented further), headings ending in a colon, and plain text. Any
# other line is kept as text, so nothing the help says is lost.
set -eu
kesta=$1
plugin=$2

version=$("$kesta" --version)
commands=$("$kesta" --help | sed -n 's/^\(usage:\)\{0,1\} *kesta \([a-z][a-z-]*\).*/\2/p' | awk '!seen[$0]++')

# roff for one help text on standard input. Option names and the program's
# name are bold, values in capitals italic.
to_roff() {
    awk '
    function esc(s) {
        gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s)
        sub(/^[.'"'"']/, "\\\\\\&&", s)
        return s
    }
    function word(w,   tail) {
        tail = ""
        if (w ~ /,$/) { tail = ","; w = substr(w, 1, length(w) - 1) }
        if (w ~ /^-/ || w == "kesta") return "\\fB" esc(w) "\\fR" tail
        if (w ~ /^[A-Z]/ || w ~ /^\[?[A-Z]/) return "\\fI" esc(w) "\\fR" tail
        return esc(w) tail
    }
    function words(s,   n, i, part, out) {
        n = split(s, part, / +/); out = ""
        for (i = 1; i <= n; i++) if (part[i] != "") out = out (out == "" ? "" : " ") word(part[i])
        return out
    }
    /^usage: / || (synopsis && /^       kesta /) {
        if (!synopsis) { print ".PP"; print ".nf" }
        synopsis = 1
        # The synopsis alone: the usage of "kesta --help" has a summary beside it.
        line = $0; sub(/^(usage:)? +/, "", line); sub(/  +.*/, "", line)
        print words(line); next
    }
    synopsis { print ".fi"; synopsis = 0 }
    /^$/ { option = 0; paragraph = 1; next }
    /^  -/ {
        usage = $0; sub(/^ +/, "", usage)
        what = ""
        if (match(usage, /  +/)) { what = substr(usage, RSTART + RLENGTH); usage = substr(usage, 1, RSTART - 1) }
        print ".TP"; print words(usage)
        if (what != "") print esc(what)
        option = 1; paragraph = 0; next
    }
    option && /^    +[^ ]/ { line = $0; sub(/^ +/, "", line); print esc(line); next }
    /^[^ ].*:$/ {
        print ".PP"; print "\\fB" esc($0) "\\fR"; option = 0; paragraph = 0; next
    }
    {
        if (option || paragraph) print ".PP"
        option = 0; paragraph = 0
        line = $0; sub(/^ +/, "", line); print esc(line)
    }
    END { if (synopsis) print ".fi" }
    '
}

cat <<EOF
.TH KESTA 1 "" "$version" "User Commands"
.SH NAME
kesta \- render audio files through the Kesta 3D sound effect
.SH SYNOPSIS
EOF
"$kesta" --help | sed -n '/^$/q;p' | to_roff
cat <<EOF
.SH DESCRIPTION
\fBkesta\fR renders audio files through the Kesta effect: mono becomes
spatialised stereo through the mono-to-3D engine, stereo is widened by the
stereo widener. It also loads the XMMS plug-in \fIlibkesta_xmms.so\fR as an
XMMS 1.x player does, for its settings window and for renders exactly as the
player plays.
.PP
EOF
"$kesta" --help | sed '1,/^$/d' | to_roff
echo ".SH COMMANDS"
for command in $commands; do
    echo ".SS \"kesta $command\""
    "$kesta" "$command" --help | to_roff
done
cat <<EOF
.SH FILES
.TP
.I ~/.xmms/config
The settings, in section [Kesta], where the player keeps them.
.TP
.I $(echo "$plugin" | sed 's/-/\\-/g')
The XMMS plug-in that \fBkesta\fR loads unless \fB\-\-plugin\fR names another.
.TP
.I ~/.config/pipewire/pipewire.conf.d/kesta\\-desktop.conf
The PipeWire drop-in that \\fBkesta desktop on\\fR writes and \\fBoff\\fR removes.
.SH SEE ALSO
.BR pipewire (1),
.BR wpctl (1),
.BR sox (1),
.BR ffmpeg (1),
.BR audacious (1)
EOF
