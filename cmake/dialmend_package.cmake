# The Debian package (`cpack -G DEB` in a build folder configured with the /usr prefix): its
# version is the project's, its dependencies come from the binaries (dpkg-shlibdeps).
set(DIALMEND_MAINTAINER "the Dialmend developers <dialmend@example.org>"
    CACHE STRING "The Maintainer field of the Debian package: a name and an e-mail address")
option(DIALMEND_DEBIAN "Install the Debian changelog beside the documentation (for the .deb)"
       OFF)

if(DIALMEND_DEBIAN)
  # Debian's policy asks every package for a changelog; this one is generated from the version.
  # The package is native (built by the program's own developers, no Debian revision), so the
  # file is changelog.gz.
  # TIMESTAMP honours SOURCE_DATE_EPOCH, so a reproducible build gets the same file.
  string(TIMESTAMP dialmend_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in
                 ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
  find_program(DIALMEND_GZIP gzip REQUIRED)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    COMMAND ${DIALMEND_GZIP} -9n -c ${CMAKE_BINARY_DIR}/debian/changelog.Debian
            > ${CMAKE_BINARY_DIR}/debian/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian)
  add_custom_target(dialmend-debian-changelog ALL
                    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dialmend)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the Dialmend developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bring the telephone numbers in contacts up to date")
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Dialmend brings every telephone number in vCard contact stores up to date
and into one clean format, safely and in bulk. It knows the UK area-code
changes of April 2000, re-formats every number it recognises in one of four
styles, adds or removes the +44 prefix and the area code's leading zero, and
applies one custom search-and-replace.
.
A simulation reports every change and writes nothing; an update rewrites only
the changed telephone values of each card, atomically, and lists every change
in an activity log. The package holds the desktop program (dialmend) and the
command-line programs dialmend-run and dialmend-convert.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DIALMEND_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
