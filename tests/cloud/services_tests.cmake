# Signing in tests: the development key (the build's default public key) and a key the program does not trust.
file(READ ${CMAKE_SOURCE_DIR}/server/keys/development.secret _dev_secret)
file(READ ${CMAKE_CURRENT_LIST_DIR}/other-key.secret _other_secret)
string(STRIP "${_dev_secret}" _dev_secret)
string(STRIP "${_other_secret}" _other_secret)
add_library(cloud_test_signing STATIC ${CMAKE_CURRENT_LIST_DIR}/test_signing.cpp)
target_compile_definitions(cloud_test_signing PRIVATE VORLANE_TEST_DEVELOPMENT_SECRET="${_dev_secret}"
  VORLANE_TEST_OTHER_SECRET="${_other_secret}")
target_link_libraries(cloud_test_signing PUBLIC vl_cloud_services)

vorlane_add_test(cloud_text_test SOURCES catalogue_text_test.cpp figures_test.cpp update_manifest_test.cpp
  LIBS vl_cloud_services cloud_test_signing)
vorlane_add_test(cloud_monitor_test SOURCES download_monitor_test.cpp LIBS vl_cloud_services)
# Benchmark, not a test: scripts/bench-catalogue runs it.
add_executable(catalogue_bench ${CMAKE_CURRENT_LIST_DIR}/catalogue_bench.cpp)
target_link_libraries(catalogue_bench PRIVATE vl_cloud_services)
target_link_options(catalogue_bench PRIVATE -mconsole)

# Tests against the reference server: tests/support/with_server.py starts it on a free loopback port around the
# test executable, which finds it in VORLANE_TEST_SERVER. LANG gives Wine the Chinese ANSI code page (936).
add_executable(cloud_fake_installer fake_installer.cpp)
target_link_options(cloud_fake_installer PRIVATE -municode -mwindows)
add_executable(cloud_update_probe update_probe.cpp)
target_link_libraries(cloud_update_probe PRIVATE vl_cloud_services)
target_include_directories(cloud_update_probe PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_options(cloud_update_probe PRIVATE -municode -mconsole)

# Tests of the catalogue page and the monitor thread on real controls (and our engine), inside a server.
function(cloud_server_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
  add_executable(${name} ${T_SOURCES} test_server.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} wininet GTest::gtest GTest::gtest_main)
  target_link_options(${name} PRIVATE -mconsole)
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME ${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/support/with_server.py --
      ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 ENVIRONMENT "LANG=zh_CN.UTF-8")
endfunction()
add_executable(cloud_tamper tamper.cpp)
target_link_options(cloud_tamper PRIVATE -municode -mconsole)
cloud_server_test(cloud_http_test SOURCES http_catalogue_test.cpp update_offer_test.cpp
  LIBS vl_cloud_services cloud_test_signing DEPENDS cloud_fake_installer cloud_update_probe cloud_tamper)
if(TARGET vl_cloud_page)
  cloud_server_test(cloud_page_test SOURCES catalogue_page_test.cpp LIBS vl_cloud_page cloud_test_signing)
  target_compile_definitions(cloud_page_test PRIVATE VORLANE_SKIN_DIR="${CMAKE_SOURCE_DIR}/resources/skin")
endif()
if(TARGET vl_cloud_download AND TARGET xldl)
  cloud_server_test(cloud_download_test SOURCES download_thread_test.cpp LIBS vl_cloud_download DEPENDS xldl)
endif()

# Acceptance in the sandbox against the reference server (its own Wine prefix; needs the test display).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME cloud_sandbox_acceptance
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/sandbox_cloud.py ${CMAKE_BINARY_DIR})
set_tests_properties(cloud_sandbox_acceptance PROPERTIES TIMEOUT 900)
