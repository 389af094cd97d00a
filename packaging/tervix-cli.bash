# bash completion for tervix-cli. The commands and each command's options
# are read from the program's own --help, so they are always the program's.
# shellcheck disable=SC2207 # COMPREPLY=($(compgen ...)) is how completions fill in words

# The options of a command's help text that take a value (the word after them).
_tervix_cli_valued()
{
    sed -n 's/^ *\(-[a-z], \)\{0,1\}\(--[a-z][a-z0-9-]*\) [A-Z[].*/\2/p' <<<"$1"
}

_tervix_cli()
{
    local cur prev words cword
    _init_completion || return

    local program=${words[0]} top help command='' i
    top=$("$program" --help 2>/dev/null) || return
    # The adapter options may stand before the command.
    local valued=" --can --serial --rate --sdo-timeout --sdo-abort-order "
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        -*) [[ $valued == *" ${words[i]} "* ]] && ((i++)) ;;
        *)
            command=${words[i]}
            break
            ;;
        esac
    done

    case $prev in
    --rate)
        COMPREPLY=($(compgen -W "1000 500 250 125 100 50 20 10 5" -- "$cur"))
        return
        ;;
    --sdo-abort-order)
        COMPREPLY=($(compgen -W "unit standard" -- "$cur"))
        return
        ;;
    --to)
        COMPREPLY=($(compgen -W "candump trc11 trc21 asc" -- "$cur"))
        return
        ;;
    esac
    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help --version --can --serial --rate --sdo-timeout --sdo-abort-order" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$(sed -n 's/^  \([a-z]\{1,\}\)  .*/\1/p' <<<"$top" | sort -u)" -- "$cur"))
        fi
        return
    fi

    help=$("$program" "$command" --help 2>/dev/null) || return
    if [[ " $(_tervix_cli_valued "$help") " == *" $prev "* ]]; then
        _filedir
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(grep -oE '(^|[ ,[(])--?[a-z][a-z0-9-]*' <<<"$help" | sed 's/^[ ,[(]//' | sort -u)" -- "$cur"))
        return
    fi
    _filedir
}
complete -F _tervix_cli tervix-cli
