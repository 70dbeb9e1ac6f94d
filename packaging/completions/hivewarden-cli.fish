# fish completion for hivewarden-cli. The commands, their options and the scan sections are
# read from the program's own --help, so that they are always those of the installed program.

function __hivewarden_cli_commands
    hivewarden-cli --help 2>/dev/null | string match -r '^  ([a-z][a-z-]*(?: [a-z][a-z-]*)?)  +(.*)$' | while read -l whole
        read -l name
        read -l description
        printf '%s\t%s\n' $name $description
    end
end

# The words typed after the global options: the command's, the current one left out.
function __hivewarden_cli_typed
    set -l words (commandline -opc)
    set -e words[1]
    while set -q words[1]
        switch $words[1]
            case --machine --drive --program-folder
                set -e words[1..2]
            case '--*'
                set -e words[1]
            case '*'
                break
        end
    end
    if set -q words[1]
        printf '%s\n' $words
    end
end

function __hivewarden_cli_command_is
    set -l typed (__hivewarden_cli_typed)
    test (count $typed) -ge 1; and test "$typed[1]" = $argv[1]
end

function __hivewarden_cli_complete_command
    set -l typed (__hivewarden_cli_typed)
    set -l commands (__hivewarden_cli_commands)
    switch (count $typed)
        case 0
            for line in $commands
                string replace -r ' [a-z-]*\t.*' '' -- $line | string replace -r '\t.*' ''
            end | sort -u
        case 1
            string replace -r -f "^$typed[1] " '' -- $commands
    end
end

function __hivewarden_cli_after
    set -l words (commandline -opc)
    test "$words[-1]" = $argv[1]
end

function __hivewarden_cli_options
    set -l typed (__hivewarden_cli_typed)
    hivewarden-cli $typed[1..2] --help 2>/dev/null | head -n 1 | string match -r -a -- '--[a-z-]+'
    hivewarden-cli $typed[1] --help 2>/dev/null | head -n 1 | string match -r -a -- '--[a-z-]+'
    echo --help
end

function __hivewarden_cli_backups
    set -l machine
    set -l words (commandline -opc)
    if set -l i (contains -i -- --machine $words)
        set machine --machine $words[(math $i + 1)]
    end
    hivewarden-cli $machine backups 2>/dev/null | awk -F'\t' 'NF >= 3 {print $3}'
end

complete -c hivewarden-cli -f
complete -c hivewarden-cli -n 'test (count (__hivewarden_cli_typed)) -eq 0' -l machine -r -a '(__fish_complete_directories)' -d 'The folder of the Windows installation'
complete -c hivewarden-cli -n 'test (count (__hivewarden_cli_typed)) -eq 0' -l drive -r -d 'Make a host folder a drive of the machine (D=DIR)'
complete -c hivewarden-cli -n 'test (count (__hivewarden_cli_typed)) -eq 0' -l program-folder -r -a '(__fish_complete_directories)' -d 'Keep the program files below a folder'
complete -c hivewarden-cli -n 'test (count (__hivewarden_cli_typed)) -eq 0' -l repair-damaged -d 'Repair a damaged hive when mounting it for writing'
complete -c hivewarden-cli -n 'test (count (__hivewarden_cli_typed)) -eq 0' -l help -d 'Print the usage and the commands'
complete -c hivewarden-cli -n 'test (count (__hivewarden_cli_typed)) -eq 0' -l version -d 'Print the version'
complete -c hivewarden-cli -n 'test (count (__hivewarden_cli_typed)) -le 1' -a '(__hivewarden_cli_complete_command)'
complete -c hivewarden-cli -n 'test (count (__hivewarden_cli_typed)) -ge 1; and string match -q -- "-*" (commandline -ct)' -a '(__hivewarden_cli_options)'
complete -c hivewarden-cli -n '__hivewarden_cli_after --section' -x -a '(hivewarden-cli scan --help 2>/dev/null | string replace -r -f "^ *([0-9]+)  (.*)" "\$1\t\$2")'
complete -c hivewarden-cli -n '__hivewarden_cli_command_is restore' -x -a '(__hivewarden_cli_backups)'
complete -c hivewarden-cli -n 'test (count (__hivewarden_cli_typed)) -ge 2; and not __hivewarden_cli_after --section' -F
