# bash completion for hivewarden, the windowed program.

_hivewarden() {
    local cur="${COMP_WORDS[COMP_CWORD]}" prev="${COMP_WORDS[COMP_CWORD-1]}"
    if [[ "$prev" == --machine ]]; then
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -d -- "$cur"))
    else
        COMPREPLY=($(compgen -W "--machine --help --version" -- "$cur"))
    fi
}

complete -F _hivewarden hivewarden
