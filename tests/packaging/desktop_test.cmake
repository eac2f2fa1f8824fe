# The desktop entry passes desktop-file-validate and takes the file it is given, so that a file
# manager's "Open with" opens the window on a .vcf file or a folder.
# -D VALIDATE=... -D DESKTOP=...
execute_process(
  COMMAND ${VALIDATE} ${DESKTOP}
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT output STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate finds fault with ${DESKTOP}:\n${output}")
endif()
file(READ ${DESKTOP} entry)
if(NOT entry MATCHES "\nExec=dialmend %f\n" OR
   NOT entry MATCHES "\nMimeType=([^\n]*;)?text/vcard;([^\n]*;)?text/x-vcard;")
  message(FATAL_ERROR "${DESKTOP} does not take a vCard file:\n${entry}")
endif()
