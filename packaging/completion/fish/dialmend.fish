# fish completion for dialmend, the desktop program.
complete -c dialmend -F
complete -c dialmend -l profile -r -F -a 'eds: thunderbird: kde:' -d 'The contact store (folder, .vcf file, eds:[BOOK], thunderbird:[PROFILE] or kde:)'
complete -c dialmend -l help -d 'Show the help and exit'
complete -c dialmend -l version -d 'Show the version and exit'
