# fish completion for dialmend, the desktop program.
complete -c dialmend -F
complete -c dialmend -l profile -r -F -d 'The contact store (folder or .vcf file)'
complete -c dialmend -l help -d 'Show the help and exit'
complete -c dialmend -l version -d 'Show the version and exit'
