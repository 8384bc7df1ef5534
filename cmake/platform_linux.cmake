# The Linux program: SDL2 window layer, RtMidi ports, the FreeType text
# backend and the core; its desktop entry, icon and end-to-end tests.
# Debian: libsdl2-dev librtmidi-dev libpng-dev pkg-config; the e2e tests also
# python3 xvfb jackd2 xdotool imagemagick libx11-6 libxtst6, and optionally
# desktop-file-utils.
set(ZORVE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
include(GNUInstallDirs)

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(ZORVE_SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(ZORVE_RTMIDI REQUIRED IMPORTED_TARGET rtmidi)
pkg_check_modules(ZORVE_JACK REQUIRED IMPORTED_TARGET jack)

add_executable(zorve-button
  ${ZORVE_ROOT}/src/app/main_sdl.cpp
  ${ZORVE_ROOT}/src/midi/ports_rtmidi.cpp
)
target_link_libraries(zorve-button PRIVATE
  zorve_text_freetype zorve_core PkgConfig::ZORVE_SDL2 PkgConfig::ZORVE_RTMIDI PkgConfig::ZORVE_JACK Threads::Threads)
target_compile_options(zorve-button PRIVATE ${ZORVE_WARNINGS})
set_target_properties(zorve-button PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The installed icon is the program's own icon pixels, written as PNG by a
# host tool at build time.
find_package(PNG REQUIRED)
add_executable(zorve-make-icon-png ${ZORVE_ROOT}/tools/make_icon_png.cpp)
target_link_libraries(zorve-make-icon-png PRIVATE zorve_core PNG::PNG)
target_compile_options(zorve-make-icon-png PRIVATE ${ZORVE_WARNINGS})
set(ZORVE_ICON_PNG ${CMAKE_BINARY_DIR}/zorve-button.png)
add_custom_command(OUTPUT ${ZORVE_ICON_PNG}
  COMMAND zorve-make-icon-png ${ZORVE_ICON_PNG}
  DEPENDS zorve-make-icon-png
  COMMENT "Writing the program icon as PNG")
add_custom_target(zorve-icon-png ALL DEPENDS ${ZORVE_ICON_PNG})

# Developer tool: the key table as text, for scripts that click every key
# (bench/soak.py), with its own check against the e2e cases' key list.
add_executable(zorve-print-key-table ${ZORVE_ROOT}/tools/print_key_table.cpp)
target_link_libraries(zorve-print-key-table PRIVATE zorve_core)
target_compile_options(zorve-print-key-table PRIVATE ${ZORVE_WARNINGS})
set_target_properties(zorve-print-key-table PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  add_test(NAME key_table_tool
    COMMAND ${Python3_EXECUTABLE} ${ZORVE_ROOT}/tests/e2e/zorve_e2e.py
            --key-table $<TARGET_FILE:zorve-print-key-table> key_table_tool)
  set_tests_properties(key_table_tool PROPERTIES TIMEOUT 30)
endif()

install(TARGETS zorve-button RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ZORVE_ROOT}/data/zorve-button.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ZORVE_ICON_PNG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)

# --------------------------------------------------------------- e2e tests
# Each case starts its own Xvfb (display chosen by the server) and, where it
# needs MIDI, its own JACK server with a unique name; none touches a desktop.
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_FOUND)
  message(WARNING "python3 not found: the end-to-end tests are not registered")
  return()
endif()

set(ZORVE_E2E ${ZORVE_ROOT}/tests/e2e/zorve_e2e.py)
set(ZORVE_E2E_OUT ${CMAKE_BINARY_DIR}/e2e)
foreach(case
    midi_fanout
    midi_input
    port_switch
    panel_pixels
    second_instance
    second_instance_own_box
    close_window
    no_midi
    window_size
    window_resize
    no_display
    click_latency)
  add_test(NAME e2e_${case}
    COMMAND ${Python3_EXECUTABLE} ${ZORVE_E2E} --program $<TARGET_FILE:zorve-button>
            --out ${ZORVE_E2E_OUT} ${case})
  # One copy per user may run: the cases must not overlap.
  set_tests_properties(e2e_${case} PROPERTIES TIMEOUT 90 LABELS e2e RESOURCE_LOCK zorve_single_instance)
endforeach()

# The port layer alone, driven like the device table, against a real JACK
# server: numbering, own ports left out, names cut, bytes on the wire.
add_executable(zorve-midi-ports-probe
  ${ZORVE_ROOT}/tests/e2e/midi_ports_probe.cpp
  ${ZORVE_ROOT}/src/midi/ports_rtmidi.cpp
)
target_include_directories(zorve-midi-ports-probe PRIVATE ${ZORVE_ROOT}/src)
target_link_libraries(zorve-midi-ports-probe PRIVATE PkgConfig::ZORVE_RTMIDI PkgConfig::ZORVE_JACK)
target_compile_options(zorve-midi-ports-probe PRIVATE ${ZORVE_WARNINGS})
add_test(NAME e2e_midi_ports
  COMMAND ${Python3_EXECUTABLE} ${ZORVE_E2E} --probe $<TARGET_FILE:zorve-midi-ports-probe>
          --out ${ZORVE_E2E_OUT} midi_ports)
set_tests_properties(e2e_midi_ports PROPERTIES TIMEOUT 60 LABELS e2e)

add_test(NAME icon_png
  COMMAND ${Python3_EXECUTABLE} ${ZORVE_E2E} --png ${ZORVE_ICON_PNG} icon_png)
set_tests_properties(icon_png PROPERTIES TIMEOUT 30)

# What `cmake --install` lays down, in a scratch prefix.
add_test(NAME install_layout
  COMMAND ${Python3_EXECUTABLE} ${ZORVE_E2E} --build ${CMAKE_BINARY_DIR} install_layout)
set_tests_properties(install_layout PROPERTIES TIMEOUT 60)

find_program(ZORVE_DESKTOP_FILE_VALIDATE desktop-file-validate)
if(ZORVE_DESKTOP_FILE_VALIDATE)
  add_test(NAME desktop_entry_valid
    COMMAND ${ZORVE_DESKTOP_FILE_VALIDATE} ${ZORVE_ROOT}/data/zorve-button.desktop)
  set_tests_properties(desktop_entry_valid PROPERTIES TIMEOUT 30)
else()
  message(STATUS "desktop-file-validate not found (desktop-file-utils): desktop entry not checked")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/e2e_faults.cmake)
