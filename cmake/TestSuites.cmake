# Registers one CTest test per GoogleTest suite of a test program: each
# suite runs as one process with a filter, so a sanitized process starts
# once a suite rather than once a test, and a failure still names its suite.
#
# add_test_suites(<target>) in a CMakeLists.txt; the list is read from the
# built program after each build (as gtest_discover_tests does), by this
# same file run as a script.

if(CMAKE_SCRIPT_MODE_FILE)
  # Script mode: TEST_PROGRAM, TEST_PREFIX, OUTPUT_FILE and TEST_TMPDIR
  # (may be empty) are given.
  execute_process(COMMAND ${TEST_PROGRAM} --gtest_list_tests
    OUTPUT_VARIABLE listing RESULT_VARIABLE failed TIMEOUT 60)
  if(failed)
    message(FATAL_ERROR "${TEST_PROGRAM} --gtest_list_tests failed: ${failed}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  set(content "")
  foreach(line IN LISTS lines)
    # A suite line starts in the first column and ends with a dot; a comment
    # may follow it ("Suite.  # TypeParam = ...").
    if(line MATCHES "^([^ #][^ ]*)\\.")
      set(suite "${CMAKE_MATCH_1}")
      string(APPEND content
        "add_test([=[${TEST_PREFIX}${suite}]=] [=[${TEST_PROGRAM}]=] [=[--gtest_filter=${suite}.*]=])\n")
      if(TEST_TMPDIR)
        string(APPEND content
          "set_tests_properties([=[${TEST_PREFIX}${suite}]=] PROPERTIES ENVIRONMENT [=[TMPDIR=${TEST_TMPDIR}]=])\n")
      endif()
    endif()
  endforeach()
  file(WRITE ${OUTPUT_FILE} "${content}")
  return()
endif()

set(UNINST_TEST_SUITES_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

# The tests make and delete scratch machines by the thousand: in memory
# where the machine has a tmpfs, they take half the time.
set(UNINST_TEST_TMPDIR "")
if(IS_DIRECTORY /dev/shm)
  set(UNINST_TEST_TMPDIR /dev/shm)
endif()

function(add_test_suites target)
  set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND}
      -D TEST_PROGRAM=$<TARGET_FILE:${target}>
      -D TEST_PREFIX=${target}.
      -D OUTPUT_FILE=${list_file}
      -D TEST_TMPDIR=${UNINST_TEST_TMPDIR}
      -P ${UNINST_TEST_SUITES_SCRIPT}
    VERBATIM)
  # Before the first build there is no list yet: ctest then says so.
  set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_include.cmake)
  file(WRITE ${include_file}
    "if(EXISTS [=[${list_file}]=])\n"
    "  include([=[${list_file}]=])\n"
    "else()\n"
    "  add_test([=[${target}_NOT_BUILT]=] [=[${target}_NOT_BUILT]=])\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
