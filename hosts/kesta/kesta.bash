# bash completion for kesta. The commands, their options and the values an
# option takes come from kesta's own help, read when completing, so that they
# always match the kesta being completed: "  --mode music|voice   ..." offers
# music and voice after --mode, a DIR value folders, PATH or a file name
# files, and other values in capitals (DB, FRAMES, N) nothing.

_kesta_option_lines() {
    # The option part of every option line of a command's help ("-o, --output-dir
    # DIR"), and the options its usage lines name ("-o IMAGE.png").
    local help
    help=$("$1" "$2" --help 2>/dev/null)
    sed -n 's/^  \(-[^ ].*\)$/\1/p' <<<"$help" | sed 's/   *[^ ].*//; s/  *$//'
    grep -E '^(usage:)? +kesta ' <<<"$help" | grep -oE -- '[[ ]-[-a-z0-9]+( [A-Z][A-Za-z.]*)?' | sed 's/^.//'
}

_kesta() {
    local kesta=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # "--mode=vo" reaches us split at the "=".
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    COMPREPLY=()

    if ((COMP_CWORD == 1)); then
        local commands
        commands=$("$kesta" --help 2>/dev/null | sed -n 's/^\(usage:\)\{0,1\} *kesta \([a-z][a-z-]*\).*/\2/p' | sort -u)
        mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
        return
    fi

    local command=${COMP_WORDS[1]} optionNames='' names='' value='' line=''
    local -a optionLines
    mapfile -t optionLines < <(_kesta_option_lines "$kesta" "$command")

    # A command that takes a subcommand shows them in kesta's usage:
    # "kesta desktop on|off|status|set".
    if ((COMP_CWORD == 2)) && [[ $cur != -* ]]; then
        local subcommands
        subcommands=$("$kesta" --help 2>/dev/null | sed -n "s/^\(usage:\)\{0,1\} *kesta $command \([a-z]*|[a-z|]*\).*/\2/p")
        if [[ -n $subcommands ]]; then
            mapfile -t COMPREPLY < <(compgen -W "${subcommands//|/ }" -- "$cur")
            return
        fi
    fi

    if [[ $prev == -* ]]; then
        for line in "${optionLines[@]}"; do
            names=" ${line//,/} "
            value=${line##* }
            [[ $value == -* ]] && continue  # a switch: takes no value
            names=${names% "$value" }" "
            [[ $names == *" $prev "* ]] || continue
            case $value in
                DIR) mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
                PATH | FILE | *.*) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
                *[A-Z]*) ;;
                *) mapfile -t COMPREPLY < <(compgen -W "${value//|/ }" -- "$cur") ;;
            esac
            compopt -o filenames 2>/dev/null
            return
        done
    fi

    if [[ $cur == -* ]]; then
        for line in "${optionLines[@]}"; do
            for names in ${line//,/}; do
                [[ $names == -* && " $optionNames " != *" $names "* ]] && optionNames+=" $names"
            done
        done
        mapfile -t COMPREPLY < <(compgen -W "$optionNames --help" -- "$cur")
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

complete -F _kesta kesta
