# desktop-file-validate on the desktop entry. Debian 12's validator knows the
# Desktop Entry specification up to 1.4; SingleMainWindow came with 1.5, so
# its one complaint about that key is let through, and any other fails.
execute_process(COMMAND ${VALIDATE} ${ENTRY} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
string(REGEX REPLACE "[^\n]*key \"SingleMainWindow\" in group \"Desktop Entry\", but keys extending the format should start with \"X-\"\n?" "" rest "${out}")
string(STRIP "${rest}" rest)
if(rest)
  message(FATAL_ERROR "desktop-file-validate ${ENTRY}:\n${out}")
endif()
file(STRINGS ${ENTRY} single REGEX "^SingleMainWindow=true$")
if(NOT single)
  message(FATAL_ERROR "${ENTRY} lacks SingleMainWindow=true")
endif()
message(STATUS "desktop entry valid")
