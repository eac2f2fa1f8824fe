# The folders an install makes. Before any file goes in, each folder the files go into, and
# each folder above it, that is not there yet is noted beside the install's manifest, so that
# the uninstall removes exactly those once they are empty and never a folder that was there
# before (/usr/local/bin, say). Included before any install rule, so that this runs first.
include(GNUInstallDirs)

set(dialmend_install_folders
    ${CMAKE_INSTALL_BINDIR}
    ${CMAKE_INSTALL_MANDIR}/man1
    ${CMAKE_INSTALL_DATADIR}/applications
    ${CMAKE_INSTALL_DATADIR}/metainfo
    ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    ${CMAKE_INSTALL_DATADIR}/zsh/site-functions
    ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
    ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d
    ${CMAKE_INSTALL_DOCDIR})
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND dialmend_install_folders ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

install(CODE "set(dialmend_build \"${CMAKE_BINARY_DIR}\")
set(dialmend_folders \"${dialmend_install_folders}\")")
install(CODE [[
  # Named as the manifest is: install_manifest.txt, or install_manifest_COMPONENT.txt.
  set(record "${dialmend_build}/install_folders.txt")
  if(CMAKE_INSTALL_COMPONENT)
    set(record "${dialmend_build}/install_folders_${CMAKE_INSTALL_COMPONENT}.txt")
  endif()
  set(made "")
  foreach(folder ${dialmend_folders})
    # Every folder from the root down, the prefix's own included: a staging DESTDIR starts
    # empty.
    set(path "")
    string(REPLACE "/" ";" parts "${CMAKE_INSTALL_PREFIX}/${folder}")
    foreach(part ${parts})
      set(path "${path}/${part}")
      if(NOT IS_DIRECTORY "$ENV{DESTDIR}${path}")
        list(APPEND made "${path}")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES made)
  list(JOIN made "\n" text)
  file(WRITE "${record}" "${text}\n")
]])
