# desktop-file-validate on the desktop entry, with no exceptions: the
# distribution's own validator must pass it clean (Debian 12's knows the
# Desktop Entry specification up to 1.4). The one-window hint is carried as
# X-GNOME-SingleWindow, which desktops read as SingleMainWindow and older
# validators accept.
execute_process(COMMAND ${VALIDATE} ${ENTRY} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
string(STRIP "${out}" out)
if(NOT status EQUAL 0 OR out)
  message(FATAL_ERROR "desktop-file-validate ${ENTRY} (status ${status}):\n${out}")
endif()
file(STRINGS ${ENTRY} single REGEX "^X-GNOME-SingleWindow=true$")
if(NOT single)
  message(FATAL_ERROR "${ENTRY} lacks X-GNOME-SingleWindow=true")
endif()
message(STATUS "desktop entry valid")
