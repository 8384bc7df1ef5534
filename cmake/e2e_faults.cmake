# Fault tests of the Linux program against real parts: the JACK server killed
# under it, a server without MIDI ports, more destinations than it opens, and
# a flood on its MIDI inputs from a small JACK client built here.
# Debian: libjack-jackd2-dev, besides what the other end-to-end tests need.
pkg_check_modules(ZORVE_JACK IMPORTED_TARGET jack)
if(NOT ZORVE_JACK_FOUND)
  message(WARNING "libjack not found (libjack-jackd2-dev): the fault tests are not registered")
  return()
endif()

add_executable(zorve-midi-flood ${ZORVE_ROOT}/tests/e2e/midi_flood.cpp)
target_link_libraries(zorve-midi-flood PRIVATE PkgConfig::ZORVE_JACK)
target_compile_options(zorve-midi-flood PRIVATE ${ZORVE_WARNINGS})

set(ZORVE_FAULTS ${ZORVE_ROOT}/tests/e2e/zorve_faults.py)
foreach(case jack_killed jack_killed_many_messages jack_without_midi seven_destinations input_flood)
  add_test(NAME e2e_fault_${case}
    COMMAND ${Python3_EXECUTABLE} ${ZORVE_FAULTS} --program $<TARGET_FILE:zorve-button>
            --flood $<TARGET_FILE:zorve-midi-flood> --out ${ZORVE_E2E_OUT} ${case})
  set_tests_properties(e2e_fault_${case} PROPERTIES TIMEOUT 60 LABELS e2e RESOURCE_LOCK zorve_single_instance)
endforeach()
