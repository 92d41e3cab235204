# Finds GoogleTest for the tests. Native builds use the installed library;
# cross builds, where the host's libraries cannot be linked, build it from
# Debian's sources. Sets PULSE_HAVE_GTEST and, with it, defines pulse_gtest.
#
# The programs themselves need no test framework, so a plain build goes on
# without one and says so; PULSE_REQUIRE_GTEST (set by the presets that run
# the tests) turns its absence into an error at configure time, before
# anything is built.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest CONFIG QUIET)
endif()
if(NOT TARGET GTest::gtest_main)
  set(PULSE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(EXISTS ${PULSE_GTEST_SOURCE_DIR}/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${PULSE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GoogleTest 1.11 and later define the GTest:: aliases themselves.
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  endif()
endif()

if(TARGET GTest::gtest_main)
  set(PULSE_HAVE_GTEST ON)
  include(GoogleTest)
else()
  set(PULSE_HAVE_GTEST OFF)
  if(PULSE_REQUIRE_GTEST)
    message(FATAL_ERROR "GoogleTest not found, and the tests need it: install it with "
                        "'apt-get install -y libgtest-dev' (prefix sudo when you are not root)")
  endif()
  message(STATUS "GoogleTest not found (apt-get install libgtest-dev): "
                 "building the programs without their tests")
endif()

if(NOT PULSE_HAVE_GTEST)
  return()
endif()

# The command words of the cross-compiling emulator (empty natively) reach
# the tests that run the real program joined by '|'.
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "|" PULSE_TEST_EMULATOR)

# pulse_gtest(NAME SOURCES... [LIBS lib...] [RUNS_TOOL] [TIMEOUT s]): one
# GoogleTest program with the shared test support; RUNS_TOOL for tests that
# start the pulseregen program.
function(pulse_gtest name)
  cmake_parse_arguments(arg "RUNS_TOOL" "TIMEOUT" "LIBS" ${ARGN})
  add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} test_support GTest::gtest_main
                                        project_warnings)
  if(arg_RUNS_TOOL)
    target_compile_definitions(${name} PRIVATE
      "PULSEREGEN_PATH=\"$<TARGET_FILE:pulseregen>\""
      "PULSE_TEST_EMULATOR=\"${PULSE_TEST_EMULATOR}\""
      "PULSEREGEN_VERSION=\"${PROJECT_VERSION}\"")
    add_dependencies(${name} pulseregen)
  endif()
  if(arg_TIMEOUT)
    gtest_discover_tests(${name} PROPERTIES TIMEOUT ${arg_TIMEOUT})
  else()
    gtest_discover_tests(${name})
  endif()
endfunction()
