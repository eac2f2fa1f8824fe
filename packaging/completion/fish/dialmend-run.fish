# fish completion for dialmend-run, a run over a contact store from the terminal.
complete -c dialmend-run -f
complete -c dialmend-run -l profile -r -F -d 'The contact store (folder or .vcf file)'
complete -c dialmend-run -l update -d 'Write the changed numbers back'
complete -c dialmend-run -l style -x -a '0\t"(020) 1234 5678" 1\t"020-1234 5678" 2\t"020 1234 5678" 3\t"02012345678"' -d 'Number style'
complete -c dialmend-run -l prefix -x -a '0\t"leave as found" 1\tremove 2\t"add where missing"' -d '+44 prefix'
complete -c dialmend-run -l zero -x -a '0\t"as found" 1\tremove 2\tinclude' -d 'Leading zero after +44'
complete -c dialmend-run -l find -x -d 'Custom replacement: the text numbers begin with'
complete -c dialmend-run -l replace -x -d 'The replacement for the found text'
complete -c dialmend-run -l log -r -F -d 'Save the activity log to a file'
complete -c dialmend-run -l no-log -d 'Save no log file'
complete -c dialmend-run -l help -d 'Show the help and exit'
complete -c dialmend-run -l version -d 'Show the version and exit'
