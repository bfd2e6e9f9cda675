# Tests run under Wine in a prefix of this build tree. One wineserver is kept
# alive for the whole run (a CTest fixture), so each test process starts fast.
find_program(WINE_EXECUTABLE wine REQUIRED)
find_program(WINESERVER_EXECUTABLE NAMES wineserver PATHS /usr/lib/wine REQUIRED)

set(WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix used by the tests")
set(WINE_RUN "${CMAKE_BINARY_DIR}/wine-run")
configure_file("${CMAKE_SOURCE_DIR}/cmake/wine-run.in" "${WINE_RUN}" @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${WINE_RUN}")

# add_wine_test(NAME <name> COMMAND <target> [args...] [FIXTURES <extra fixtures>])
# Registers a test that runs inside the shared prefix with the server started.
function(add_wine_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;FIXTURES;ENVIRONMENT;LABELS" ${ARGN})
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    FIXTURES_REQUIRED "wine;${T_FIXTURES}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${T_ENVIRONMENT}"
    LABELS "${T_LABELS}")
  gtest_must_finish(${T_NAME})
endfunction()

# A Windows process ended from outside (wineserver -k) still exits 0 under Wine:
# a GoogleTest program passes only when it printed its own verdict.
function(gtest_must_finish name)
  set_tests_properties(${name} PROPERTIES
    PASS_REGULAR_EXPRESSION "\\[  PASSED  \\]"
    FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
endfunction()
