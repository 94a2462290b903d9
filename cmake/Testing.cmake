# GoogleTest built from Debian's sources with the posix-model cross compiler; every test executable runs
# under Wine through scripts/wine-run (the crosscompiling emulator).
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# vorlane_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [ENV ...] [TIMEOUT s] [PREFIX dir])
# Builds one console test executable and registers it with CTest, run under Wine (in the Wine prefix dir
# instead of the shared one when PREFIX is given, for tests that change the prefix itself).
function(vorlane_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT;PREFIX" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_link_options(${name} PRIVATE -mconsole)
  if(T_PREFIX)
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run --prefix ${T_PREFIX} $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
endfunction()
