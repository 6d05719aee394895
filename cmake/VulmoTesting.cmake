# GoogleTest, cross-compiled from Debian's sources, and a helper that adds a
# test executable whose cases ctest runs under Wine.
set(GTEST_SRC_DIR /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
set(GMOCK_SRC_DIR /usr/src/googletest/googlemock CACHE PATH "GoogleMock sources")
add_library(gtest STATIC ${GTEST_SRC_DIR}/src/gtest-all.cc)
target_include_directories(gtest SYSTEM PUBLIC ${GTEST_SRC_DIR}/include
                           PRIVATE ${GTEST_SRC_DIR})
add_library(gtest_main STATIC ${GTEST_SRC_DIR}/src/gtest_main.cc)
target_link_libraries(gtest_main PUBLIC gtest)

include(GoogleTest)

# Test executables run under Wine through a wrapper that uses this build
# tree's own prefix and a time limit.
if(CMAKE_CROSSCOMPILING)
  set(VULMO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for tests")
  file(WRITE ${CMAKE_BINARY_DIR}/wine-run
    "#!/bin/sh\nVULMO_WINEPREFIX=\"\${VULMO_WINEPREFIX:-${VULMO_WINEPREFIX}}\" exec ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh \"$@\"\n")
  file(CHMOD ${CMAKE_BINARY_DIR}/wine-run PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()

# vulmo_add_test(NAME SOURCES a.cc b.cc LIBS x y [NO_MAIN] [TIMEOUT s])
function(vulmo_add_test name)
  cmake_parse_arguments(T "NO_MAIN" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vulmo_test_options gtest)
  if(NOT T_NO_MAIN)
    target_link_libraries(${name} PRIVATE gtest_main)
  endif()
  target_link_options(${name} PRIVATE ${VULMO_STATIC_LINK})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # Cases are listed at test time (running the exe needs Wine).
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300
                       PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
