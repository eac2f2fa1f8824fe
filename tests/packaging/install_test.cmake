# Installs the build folder under a throwaway DESTDIR, checks that every file a user needs is
# there and that the installed converter runs, then uninstalls and checks nothing is left, not
# even an empty folder.
# It installs the default component, whose manifest (install_manifest_Unspecified.txt) is not
# the one `make uninstall` reads, so a real install's manifest is never replaced.
# -D BUILD=... -D WORK=... -D PREFIX=... -D ZSH_DIR=... -D VERSION=...
# -D GUI=ON|OFF
set(destdir ${WORK}/destdir)
file(REMOVE_RECURSE ${destdir})
file(MAKE_DIRECTORY ${destdir})

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${destdir}
          ${CMAKE_COMMAND} --install ${BUILD} --component Unspecified --prefix ${PREFIX}
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "The install failed (exit ${result}):\n${output}")
endif()

set(expected
    bin/dialmend-run
    bin/dialmend-convert
    share/man/man1/dialmend-run.1.gz
    share/man/man1/dialmend-convert.1.gz
    share/bash-completion/completions/dialmend-run
    share/bash-completion/completions/dialmend-convert
    ${ZSH_DIR}/_dialmend-run
    ${ZSH_DIR}/_dialmend-convert
    share/fish/vendor_completions.d/dialmend-run.fish
    share/fish/vendor_completions.d/dialmend-convert.fish
    share/doc/dialmend/README.md
    share/doc/dialmend/copyright)
if(GUI)
  list(APPEND expected
       bin/dialmend
       share/man/man1/dialmend.1.gz
       share/bash-completion/completions/dialmend
       ${ZSH_DIR}/_dialmend
       share/fish/vendor_completions.d/dialmend.fish
       share/applications/dialmend.desktop
       share/metainfo/org.dialmend.Dialmend.metainfo.xml
       share/icons/hicolor/scalable/apps/dialmend.svg)
  foreach(size 16 22 24 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/dialmend.png)
  endforeach()
endif()
set(missing "")
foreach(file ${expected})
  if(NOT EXISTS ${destdir}${PREFIX}/${file})
    list(APPEND missing ${file})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "The install left out: ${missing}")
endif()

execute_process(
  COMMAND ${destdir}${PREFIX}/bin/dialmend-convert --version
  OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT output STREQUAL "dialmend-convert ${VERSION}\n")
  message(FATAL_ERROR "The installed dialmend-convert --version gave [${output}] (exit ${result}, "
                      "${errors})")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${destdir}
          ${CMAKE_COMMAND} -DMANIFEST=${BUILD}/install_manifest_Unspecified.txt
          -P ${BUILD}/uninstall.cmake
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "The uninstall failed (exit ${result}):\n${output}")
endif()
file(GLOB_RECURSE left LIST_DIRECTORIES false ${destdir}/*)
if(left)
  message(FATAL_ERROR "The uninstall left: ${left}")
endif()
file(GLOB_RECURSE folders LIST_DIRECTORIES true ${destdir}/*)
if(folders)
  message(FATAL_ERROR "The uninstall left empty folders: ${folders}")
endif()
file(REMOVE_RECURSE ${destdir})
