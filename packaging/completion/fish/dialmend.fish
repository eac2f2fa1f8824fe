# fish completion for dialmend, the desktop program.
complete -c dialmend -f
complete -c dialmend -l profile -r -F -d 'The contact store (folder, .vcf file, or eds: for GNOME)'
complete -c dialmend -l profile -r -a 'eds:' -d 'GNOME address books (eds:BOOK for one)'
complete -c dialmend -l help -d 'Show the help and exit'
complete -c dialmend -l version -d 'Show the version and exit'
