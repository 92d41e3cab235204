# Finds GoogleTest for the tests. Native builds use the installed library;
# cross builds, where the host's libraries cannot be linked, build it from
# Debian's sources. Sets PULSE_HAVE_GTEST.
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
