# The AppStream metainfo passes appstreamcli's validation, and its newest release is the
# project's version, so that a version bump without a release entry fails.
# -D APPSTREAMCLI=... -D METAINFO=... -D VERSION=...
execute_process(
  COMMAND ${APPSTREAMCLI} validate --no-net ${METAINFO}
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "appstreamcli finds fault with ${METAINFO}:\n${output}")
endif()
file(READ ${METAINFO} metainfo)
string(REGEX MATCH "<release version=\"([^\"]*)\"" newest "${metainfo}")
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "The newest release in ${METAINFO} is '${CMAKE_MATCH_1}', the project's "
                      "version is ${VERSION}: add a <release> for it, newest first")
endif()
