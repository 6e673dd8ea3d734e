#!/bin/sh
# kesta(1) as built: groff reads it without a warning, and it names every
# command and every option that kesta's help names.
#   sh man_page.sh KESTA MAN_PAGE
set -eu
kesta=$1
page=$2

warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "groff warns about $page:"; echo "$warnings"; exit 1; }

# The page's text with roff's escapes for hyphens and fonts taken out.
text=$(sed 's/\\-/-/g; s/\\f[BIR]//g' "$page")
missing=0
commands=$("$kesta" --help | sed -n 's/^\(usage:\)\{0,1\} *kesta \([a-z][a-z-]*\).*/\2/p' | sort -u)
[ -n "$commands" ] || { echo "kesta --help names no command"; exit 1; }
for command in $commands; do
    echo "$text" | grep -qF ".SS \"kesta $command\"" || { echo "no section for kesta $command"; missing=1; }
    for option in $("$kesta" "$command" --help | grep -oE -- '(^|[ [])--?[a-z][-a-z0-9]*' | sed 's/^[ []//' | sort -u); do
        echo "$text" | grep -qF -- "$option" || { echo "kesta $command $option is not in the page"; missing=1; }
    done
done
exit $missing
