# FreeType + fontconfig text backend over plain-memory pixels, its tests and
# the panel-to-PNG developer tool. Included after src/ and tests/ on
# platforms without GDI. Needs pkg-config, freetype2, fontconfig; the tool
# also libpng. Debian: pkg-config libfreetype-dev libfontconfig-dev
# libpng-dev fonts-liberation2 fonts-dejavu-core.
set(ZORVE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

find_package(PkgConfig REQUIRED)
pkg_check_modules(ZORVE_FREETYPE2 REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(ZORVE_FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)

add_library(zorve_text_freetype OBJECT
  ${ZORVE_ROOT}/src/render/text_freetype.cpp
  ${ZORVE_ROOT}/src/render/font_face_freetype.cpp
  ${ZORVE_ROOT}/src/render/frame_buffer_memory.cpp
)
target_include_directories(zorve_text_freetype PUBLIC ${ZORVE_ROOT}/src)
target_link_libraries(zorve_text_freetype PUBLIC PkgConfig::ZORVE_FREETYPE2 PkgConfig::ZORVE_FONTCONFIG)
target_compile_options(zorve_text_freetype PRIVATE ${ZORVE_WARNINGS})
target_compile_features(zorve_text_freetype PUBLIC cxx_std_20)

add_executable(text_freetype_test ${ZORVE_ROOT}/tests/text_freetype_test.cpp)
target_link_libraries(text_freetype_test PRIVATE zorve_text_freetype zorve_core GTest::gtest_main)
target_compile_options(text_freetype_test PRIVATE ${ZORVE_WARNINGS})
gtest_discover_tests(text_freetype_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60
  ENVIRONMENT "LSAN_OPTIONS=suppressions=${ZORVE_ROOT}/tests/text_freetype.lsan.supp")

# The tool draws the real panel, so it needs the window and MIDI doubles but
# not the recording text double.
find_package(PNG)
if(NOT PNG_FOUND)
  message(STATUS "libpng not found: zorve-render-panel is not built")
elseif(NOT TARGET zorve_fakes_nontext)
  message(STATUS "zorve_fakes_nontext not defined: zorve-render-panel is not built")
else()
  add_executable(zorve-render-panel ${ZORVE_ROOT}/tools/render_panel.cpp)
  target_link_libraries(zorve-render-panel PRIVATE zorve_text_freetype zorve_fakes_nontext zorve_core PNG::PNG)
  target_compile_options(zorve-render-panel PRIVATE ${ZORVE_WARNINGS})
  target_compile_definitions(zorve-render-panel PRIVATE ZORVE_RENDER_DIR="${CMAKE_BINARY_DIR}/panel-png")
endif()

# The glyph blend loop must vectorise under GCC as the fill loops do.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set_source_files_properties(${ZORVE_ROOT}/src/render/text_freetype.cpp TARGET_DIRECTORY zorve_text_freetype
    PROPERTIES COMPILE_OPTIONS "-O3")
endif()
