# Runs the window program with arguments it answers without opening a window, and with no display
# at all, and checks what it prints and its exit status. -D PROGRAM=... -D VERSION=...
function(expect_run expected_status expected_out expected_err)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
            --unset=QT_QPA_PLATFORM ${PROGRAM} ${ARGN}
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    RESULT_VARIABLE status)
  if(NOT status EQUAL expected_status OR NOT out MATCHES "${expected_out}" OR
     NOT err STREQUAL expected_err)
    message(FATAL_ERROR "dialmend ${ARGN} gave exit ${status}, out [${out}], err [${err}]; "
                        "expected exit ${expected_status}, out matching [${expected_out}], err [${expected_err}]")
  endif()
endfunction()

expect_run(0 "^dialmend ${VERSION}\n$" "" --version)
expect_run(0 "^Usage: dialmend \\[--profile PATH\\] \\[PATH\\]\n" "" --help)
expect_run(0 "^Usage: dialmend \\[--profile PATH\\] \\[PATH\\]\n" "" -h)
expect_run(0 "^dialmend ${VERSION}\n$" "" --profile=/nonexistent --version)
expect_run(0 "^dialmend ${VERSION}\n$" "" --profile /nonexistent --version)
expect_run(2 "^$" "dialmend: unknown argument \"--frobnicate\" (try --help)\n" --frobnicate)
expect_run(2 "^$" "dialmend: unknown argument \"-x\" (try --help)\n" -x)
expect_run(2 "^$" "dialmend: unknown argument \"b.vcf\" (try --help)\n" a.vcf b.vcf)
expect_run(2 "^$" "dialmend: --profile and \"a.vcf\" cannot go together (try --help)\n"
           --profile x a.vcf)
expect_run(2 "^$" "dialmend: unknown argument \"--profile\" (try --help)\n" --profile)
expect_run(2 "^$" "dialmend: there is no display to open the window on (DISPLAY is not set); dialmend-run works in a terminal\n")
expect_run(2 "^$" "dialmend: there is no display to open the window on (DISPLAY is not set); dialmend-run works in a terminal\n" --profile /nonexistent)
# A path alone, as a file manager gives it, is taken as --profile is.
expect_run(2 "^$" "dialmend: there is no display to open the window on (DISPLAY is not set); dialmend-run works in a terminal\n" /nonexistent/cards.vcf)
