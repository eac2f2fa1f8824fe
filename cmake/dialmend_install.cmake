# What `cmake --install` puts beside the programs on Linux: manual pages, shell completion,
# icons, the desktop program's metadata and the documentation; and an uninstall target that
# removes what the last install listed in its manifest.
include(GNUInstallDirs)

set(dialmend_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(dialmend_programs dialmend-run dialmend-convert)
if(DIALMEND_GUI)
  list(APPEND dialmend_programs dialmend)
endif()

# Manual pages go in compressed, as Debian's policy asks; -n keeps the archive reproducible.
find_program(DIALMEND_GZIP gzip REQUIRED)
set(man_pages)
foreach(program ${dialmend_programs})
  set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1.gz)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND ${DIALMEND_GZIP} -9n -c ${dialmend_packaging}/man/${program}.1 > ${page}
    DEPENDS ${dialmend_packaging}/man/${program}.1)
  list(APPEND man_pages ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(dialmend-man-pages ALL DEPENDS ${man_pages})

# zsh looks in site-functions under /usr/local; Debian's zsh reads vendor-completions under /usr.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(dialmend_zsh_completion_dir ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
else()
  set(dialmend_zsh_completion_dir ${CMAKE_INSTALL_DATADIR}/zsh/site-functions)
endif()
foreach(program ${dialmend_programs})
  install(FILES ${dialmend_packaging}/completion/bash/${program}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES ${dialmend_packaging}/completion/zsh/_${program}
          DESTINATION ${dialmend_zsh_completion_dir})
  install(FILES ${dialmend_packaging}/completion/fish/${program}.fish
          DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
endforeach()

# The icon's PNG sizes are drawn from the one SVG at build time, so they never differ from it.
if(DIALMEND_GUI)
  find_program(DIALMEND_RSVG_CONVERT rsvg-convert)
  if(NOT DIALMEND_RSVG_CONVERT)
    message(FATAL_ERROR "rsvg-convert draws the icon's PNG sizes: install librsvg2-bin "
                        "(scripts/install-deps does)")
  endif()
  set(icons)
  foreach(size 16 22 24 32 48 64 128 256)
    set(icon ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}/dialmend.png)
    add_custom_command(
      OUTPUT ${icon}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${DIALMEND_RSVG_CONVERT} -w ${size} -h ${size} -o ${icon}
              ${PROJECT_SOURCE_DIR}/ui/dialmend.svg
      DEPENDS ${PROJECT_SOURCE_DIR}/ui/dialmend.svg
      VERBATIM)
    list(APPEND icons ${icon})
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(dialmend-icons ALL DEPENDS ${icons})
  install(FILES ${dialmend_packaging}/org.dialmend.Dialmend.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${dialmend_packaging}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

configure_file(${CMAKE_CURRENT_LIST_DIR}/uninstall.cmake.in ${CMAKE_BINARY_DIR}/uninstall.cmake
               @ONLY)
add_custom_target(uninstall COMMAND ${CMAKE_COMMAND} -P ${CMAKE_BINARY_DIR}/uninstall.cmake
                  VERBATIM)
