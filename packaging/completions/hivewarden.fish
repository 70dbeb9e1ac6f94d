# fish completion for hivewarden, the windowed program.
complete -c hivewarden -f
complete -c hivewarden -l machine -r -a '(__fish_complete_directories)' -d 'The folder of the Windows installation'
complete -c hivewarden -s h -l help -d 'Print the usage'
complete -c hivewarden -s v -l version -d 'Print the version'
