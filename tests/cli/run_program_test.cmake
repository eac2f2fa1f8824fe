# Runs dialmend-run over the sample profile with standard output redirected to a file and checks
# its line ends: LF on Linux, CR LF once (never CR CR LF) on Windows, where the C library's text
# mode adds the CR. This runs wherever ctest runs, wine included.
# -D EMULATOR=... (may be empty) -D RUN=... -D PROFILE=... -D WORK=... -D LINE_END=LF|CRLF
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${PROFILE}/ DESTINATION ${WORK}/profile)
execute_process(
  COMMAND ${EMULATOR} ${RUN} --profile ${WORK}/profile --no-log --no-progress
  OUTPUT_FILE ${WORK}/out.txt
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
# The sample holds one malformed card: a problem, status 1.
if(NOT result EQUAL 1)
  message(FATAL_ERROR "dialmend-run exited ${result} (${errors}); expected 1")
endif()
file(READ ${WORK}/out.txt output HEX)
# Whole bytes only: "0d0a" must not match across two bytes' digits.
string(REGEX MATCHALL "[0-9a-f][0-9a-f]" bytes "${output}")
list(JOIN bytes " " spaced)
set(spaced " ${spaced} ")
string(FIND "${spaced}" " 0d 0d 0a " doubled)
string(FIND "${spaced}" " 0d 0a " crlf)
string(FIND "${spaced}" " 53 69 6d 75 6c 61 74 69 6f 6e 20 63 6f 6d 70 6c 65 74 65 " summary)
if(summary EQUAL -1)
  message(FATAL_ERROR "dialmend-run printed no summary (${errors})")
endif()
if(NOT doubled EQUAL -1)
  message(FATAL_ERROR "dialmend-run wrote CR CR LF to a redirected standard output")
endif()
if(LINE_END STREQUAL "CRLF")
  # No trailing space in the pattern: two line ends in a row must both be replaced.
  string(REPLACE " 0d 0a" " CRLF" without_crlf "${spaced}")
  string(FIND "${without_crlf}" " 0a " bare_lf)
  if(crlf EQUAL -1 OR NOT bare_lf EQUAL -1)
    message(FATAL_ERROR "dialmend-run wrote line ends other than CR LF")
  endif()
elseif(NOT crlf EQUAL -1)
  message(FATAL_ERROR "dialmend-run wrote CR LF where LF was expected")
endif()
