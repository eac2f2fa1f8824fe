# fish completion for dialmend-convert, the number converter over standard input.
complete -c dialmend-convert -f
complete -c dialmend-convert -l style -x -a '0\t"(020) 1234 5678" 1\t"020-1234 5678" 2\t"020 1234 5678" 3\t"02012345678"' -d 'Number style'
complete -c dialmend-convert -l prefix -x -a '0\t"leave as found" 1\tremove 2\t"add where missing"' -d '+44 prefix'
complete -c dialmend-convert -l zero -x -a '0\t"as found" 1\tremove 2\tinclude' -d 'Leading zero after +44'
complete -c dialmend-convert -l find -x -d 'Custom replacement: the text numbers begin with'
complete -c dialmend-convert -l replace -x -d 'The replacement for the found text'
complete -c dialmend-convert -l old-codes-only -d 'Change only numbers with an old area code; leave the rest as written'
complete -c dialmend-convert -l changes -d 'Print only the numbers that change'
complete -c dialmend-convert -l self-check -d 'Print the built-in format check'
complete -c dialmend-convert -l help -d 'Show the help and exit'
complete -c dialmend-convert -l version -d 'Show the version and exit'
