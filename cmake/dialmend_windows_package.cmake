# The Windows packages, built by `cmake --build BUILD --target windows-package` in the mingw
# build: a portable zip and an NSIS installer, both named with the project's version. The
# programs go in stripped: the debugging information stays in the build folder.
find_program(DIALMEND_MAKENSIS makensis)
set(dialmend_stem dialmend-${PROJECT_VERSION})
set(dialmend_portable ${CMAKE_BINARY_DIR}/package/${dialmend_stem}-windows-x64)
set(dialmend_zip ${CMAKE_BINARY_DIR}/${dialmend_stem}-windows-x64.zip)
set(dialmend_setup ${CMAKE_BINARY_DIR}/${dialmend_stem}-setup.exe)
set(dialmend_windows_programs dialmend-run dialmend-convert)
if(TARGET dialmend)
  list(APPEND dialmend_windows_programs dialmend)
endif()

set(dialmend_copy_programs)
foreach(program ${dialmend_windows_programs})
  list(APPEND dialmend_copy_programs
       COMMAND ${CMAKE_STRIP} -o ${dialmend_portable}/${program}.exe $<TARGET_FILE:${program}>)
endforeach()

if(DIALMEND_MAKENSIS)
  set(dialmend_make_setup
      COMMAND ${DIALMEND_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DBINDIR=${dialmend_portable}
              -DOUTFILE=${dialmend_setup}
              ${PROJECT_SOURCE_DIR}/packaging/windows/dialmend.nsi)
else()
  set(dialmend_make_setup
      COMMAND ${CMAKE_COMMAND} -E echo
              "makensis is missing: install nsis (scripts/install-deps --windows-package does)"
      COMMAND ${CMAKE_COMMAND} -E false)
endif()

add_custom_target(windows-package
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${dialmend_portable} ${dialmend_zip} ${dialmend_setup}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${dialmend_portable}
  ${dialmend_copy_programs}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${dialmend_portable}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/copyright
          ${dialmend_portable}/COPYRIGHT.txt
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/package
          ${CMAKE_COMMAND} -E tar cf ${dialmend_zip} --format=zip ${dialmend_stem}-windows-x64
  ${dialmend_make_setup}
  COMMAND ${CMAKE_COMMAND} -E echo "Made ${dialmend_zip} and ${dialmend_setup}"
  DEPENDS ${dialmend_windows_programs}
  VERBATIM)
