# bash completion for hivewarden-cli. The commands, their options and the scan sections are
# read from the program's own --help, so that they are always those of the installed program.

_hivewarden_cli_commands() {
    hivewarden-cli --help 2>/dev/null |
        sed -n '/^Commands:$/,$ s/^  \([a-z][a-z-]*\( [a-z][a-z-]*\)\?\)  .*/\1/p'
}

_hivewarden_cli() {
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"

    # The global options and their arguments, then the command's words.
    local i=1 machine=()
    while ((i < COMP_CWORD)); do
        case "${COMP_WORDS[i]}" in
        --machine | --drive | --program-folder)
            [[ "${COMP_WORDS[i]}" == --machine ]] && machine=(--machine "${COMP_WORDS[i+1]}")
            ((i += 2))
            ;;
        --*) ((i += 1)) ;;
        *) break ;;
        esac
    done

    case "$prev" in
    --machine | --program-folder | --undo)
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -d -- "$cur"))
        [[ "$prev" == --undo ]] && COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    --drive) return ;;
    --section)
        COMPREPLY=($(compgen -W "$(hivewarden-cli scan --help 2>/dev/null |
            sed -n 's/^ *\([0-9][0-9]*\)  .*/\1/p')" -- "$cur"))
        return
        ;;
    esac

    local commands typed=("${COMP_WORDS[@]:i:COMP_CWORD-i}")
    commands="$(_hivewarden_cli_commands)"
    if ((${#typed[@]} == 0)); then
        if [[ "$cur" == -* ]]; then
            COMPREPLY=($(compgen -W "--machine --drive --program-folder --repair-damaged --help --version" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$(cut -d' ' -f1 <<<"$commands" | sort -u)" -- "$cur"))
        fi
        return
    fi
    # The command: one word, or two when the first is a group (machine, reg, store, hive).
    local command="${typed[0]}"
    if grep -qx "${typed[0]} [a-z-]*" <<<"$commands" && ! grep -qx "${typed[0]}" <<<"$commands"; then
        if ((${#typed[@]} == 1)); then
            COMPREPLY=($(compgen -W "$(sed -n "s/^${typed[0]} //p" <<<"$commands")" -- "$cur"))
            return
        fi
        command="${typed[0]} ${typed[1]}"
    fi
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "$(hivewarden-cli $command --help 2>/dev/null |
            sed -n '1s/^Usage: //p' | grep -o -- '--[a-z-]*') --help" -- "$cur"))
        return
    fi
    if [[ "$command" == restore ]]; then
        # The names of the machine's backups, as "backups" lists them.
        local IFS=$'\n'
        local name
        for name in $(hivewarden-cli "${machine[@]}" backups 2>/dev/null |
            awk -F'\t' 'NF >= 3 {print $3}'); do
            # Quoted as the shell must see it: profile names hold spaces.
            [[ "$name" == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
        done
        return
    fi
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "$cur"))
}

complete -F _hivewarden_cli hivewarden-cli
