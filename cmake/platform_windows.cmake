# The Windows program: Win32 window and entry, GDI frame buffer and text, WinMM
# MIDI and clock, and the icon resource; plus the tests of this layer, which
# run under Wine (or on Windows) through CMAKE_CROSSCOMPILING_EMULATOR.
enable_language(RC)

# --- Icon resource -----------------------------------------------------------
# The .ico is written at build time from make_program_icon by a tool built for
# the build machine, so no binary image is kept in the sources.
find_program(ZORVE_HOST_CXX NAMES c++ g++ REQUIRED
  DOC "C++ compiler for the build machine (builds the icon writer)")
set(ZORVE_RES_DIR ${CMAKE_BINARY_DIR}/res)
set(ZORVE_ICON_FILE ${ZORVE_RES_DIR}/program.ico)
add_custom_command(
  OUTPUT ${ZORVE_ICON_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZORVE_RES_DIR}
  COMMAND ${ZORVE_HOST_CXX} -std=c++20 -Wall -Wextra -Werror -I${PROJECT_SOURCE_DIR}/src
          ${PROJECT_SOURCE_DIR}/res/make_icon.cpp ${PROJECT_SOURCE_DIR}/src/app/icon.cpp
          -o ${ZORVE_RES_DIR}/make_icon
  COMMAND ${ZORVE_RES_DIR}/make_icon ${ZORVE_ICON_FILE}
  DEPENDS ${PROJECT_SOURCE_DIR}/res/make_icon.cpp ${PROJECT_SOURCE_DIR}/src/app/icon.cpp
          ${PROJECT_SOURCE_DIR}/src/app/icon.h
  COMMENT "Writing the program icon"
  VERBATIM)
configure_file(${PROJECT_SOURCE_DIR}/res/program.rc.in ${ZORVE_RES_DIR}/program.rc @ONLY)
set_source_files_properties(${ZORVE_RES_DIR}/program.rc PROPERTIES OBJECT_DEPENDS ${ZORVE_ICON_FILE})

# --- Platform layer ----------------------------------------------------------
# Objects rather than a library: every contract function must be present in
# each executable, whether or not the core's archive members ask for it.
add_library(zorve_win32 OBJECT
  src/app/main_win32.cpp
  src/midi/ports_winmm.cpp
  src/render/frame_buffer_gdi.cpp
  src/render/text_gdi.cpp
  ${ZORVE_RES_DIR}/program.rc
  ${ZORVE_ICON_FILE}
)
target_link_libraries(zorve_win32 PUBLIC zorve_core user32 gdi32 winmm shell32)
target_compile_options(zorve_win32 PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${ZORVE_WARNINGS}>)

add_executable(zorve-button WIN32 $<TARGET_OBJECTS:zorve_win32>)
target_link_libraries(zorve-button PRIVATE zorve_core user32 gdi32 winmm shell32)
set_target_properties(zorve-button PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# --- Tests of this layer -----------------------------------------------------
# They link the whole platform layer (WinMain is present but unused: the test
# runner's main is the console entry).
add_executable(windows_layer_tests
  tests/windows/fonts_gdi_test.cpp
  tests/windows/frame_buffer_gdi_test.cpp
  tests/windows/icon_resource_test.cpp
  tests/windows/winmm_test.cpp
  $<TARGET_OBJECTS:zorve_win32>
)
target_link_libraries(windows_layer_tests PRIVATE zorve_core user32 gdi32 winmm shell32 GTest::gtest_main)
target_compile_options(windows_layer_tests PRIVATE ${ZORVE_WARNINGS})
# One Wine start per executable instead of one per test case.
add_test(NAME windows_layer COMMAND windows_layer_tests)
set_tests_properties(windows_layer PROPERTIES TIMEOUT 120)

# End-to-end: the real program under Xvfb and Wine, each script in its own
# prefix and display. window_probe inspects the program's windows from inside
# the same Wine session.
add_executable(window_probe tests/windows/window_probe.cpp)
target_link_libraries(window_probe PRIVATE user32)
target_compile_options(window_probe PRIVATE ${ZORVE_WARNINGS})

foreach(script windows_panel windows_second_instance windows_small_screen)
  add_test(NAME e2e_${script}
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/e2e/${script}.sh
            $<TARGET_FILE:zorve-button> $<TARGET_FILE:window_probe> ${CMAKE_BINARY_DIR}/e2e-wine/${script})
  set_tests_properties(e2e_${script} PROPERTIES TIMEOUT 240 LABELS e2e)
endforeach()
add_subdirectory(tests/windows/wine_midi)  # test MIDI driver for Wine and the tests that use it
