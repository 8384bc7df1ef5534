# Fails when the manual page or the AppStream metainfo names another version
# than the project's, when appstreamcli finds an error in the metainfo, or
# when groff warns about the manual page. The tools are Debian's appstream
# and groff-base; a missing one fails the check rather than skipping it.
# MAN: the manual page as the build wrote it, with the key table.
set(man ${MAN})
set(meta ${ROOT}/data/io.github.zorve_button.ZorveButton.metainfo.xml)
set(bad "")

file(STRINGS ${man} th REGEX "^\\.TH ")
if(NOT th MATCHES "\"zorve-button ${VERSION}\"")
  list(APPEND bad "manual page title line does not name zorve-button ${VERSION}: ${th}")
endif()
file(READ ${meta} xml)
string(REGEX MATCH "<release version=\"([^\"]*)\"" first_release "${xml}")
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  list(APPEND bad "the metainfo's newest release is '${CMAKE_MATCH_1}', the project's version ${VERSION}")
endif()

find_program(APPSTREAMCLI appstreamcli)
if(NOT APPSTREAMCLI)
  list(APPEND bad "appstreamcli not found (Debian package appstream)")
else()
  execute_process(COMMAND ${APPSTREAMCLI} validate --no-net ${meta}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    list(APPEND bad "appstreamcli validate: ${out}")
  endif()
endif()

find_program(GROFF groff)
if(NOT GROFF)
  list(APPEND bad "groff not found (Debian package groff-base)")
else()
  execute_process(COMMAND ${GROFF} -t -ww -man -z -Tutf8 ${man}
    RESULT_VARIABLE status ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR warnings)
    list(APPEND bad "groff on the manual page: ${warnings}")
  endif()
endif()

if(bad)
  list(JOIN bad "\n" text)
  message(FATAL_ERROR "${text}")
endif()
message(STATUS "manual page and metainfo name version ${VERSION}; both check clean")
