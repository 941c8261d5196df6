# Native build: the system's code against the simulated platform, for tests.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

set(QL_SIM_SOURCES
  platform/sim/clock.cpp
  platform/sim/files.cpp
  platform/sim/processes.cpp
  platform/sim/windows.cpp
  platform/sim/profile.cpp
  platform/sim/services.cpp
)
add_library(qlsim STATIC ${QL_SIM_SOURCES})
target_include_directories(qlsim PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(qlsim PUBLIC Threads::Threads)

add_library(qlcore STATIC ${QL_SOURCES})
target_include_directories(qlcore PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(qlcore PUBLIC qlsim)

file(GLOB_RECURSE QL_UNIT_TESTS CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/platform/*_test.cpp
  ${CMAKE_SOURCE_DIR}/log/*_test.cpp
  ${CMAKE_SOURCE_DIR}/config/*_test.cpp
  ${CMAKE_SOURCE_DIR}/supervision/*_test.cpp
  ${CMAKE_SOURCE_DIR}/service/*_test.cpp
  ${CMAKE_SOURCE_DIR}/scm_client/*_test.cpp
  ${CMAKE_SOURCE_DIR}/entry/*_test.cpp)
add_executable(unit_tests ${QL_UNIT_TESTS} tests/unit/test_main.cpp)
target_link_libraries(unit_tests PRIVATE qlcore GTest::gtest)

enable_testing()
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)

# Fuzz targets need clang's libFuzzer; they are built only when asked for.
option(QL_FUZZ "Build the libFuzzer targets" OFF)
if(QL_FUZZ)
  add_subdirectory(fuzz)
endif()
