# Feeds a number to dialmend-convert's standard input and checks the line it prints. The test
# program does the same through a POSIX shell; this runs wherever ctest runs, wine included.
# -D EMULATOR=... (may be empty) -D CONVERT=... -D WORK=...
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/input.txt "0171 930 8890\n01632 960123\r\n")
execute_process(
  COMMAND ${EMULATOR} ${CONVERT} --style 3 --prefix 2 --zero 1
  INPUT_FILE ${WORK}/input.txt
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
set(expected "+442079308890\n+441632960123\n")
if(NOT result EQUAL 0 OR NOT output STREQUAL expected)
  message(FATAL_ERROR "dialmend-convert gave [${output}] (exit ${result}, ${errors}); expected [${expected}]")
endif()
