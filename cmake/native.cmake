# Native build: the system's code against the simulated platform, for tests.
find_package(GTest REQUIRED)

# QL_SANITIZE=address,undefined or thread builds everything instrumented.
set(QL_SANITIZE "" CACHE STRING "Sanitizers for the native build")
if(QL_SANITIZE)
  add_compile_options(-fsanitize=${QL_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${QL_SANITIZE})
endif()
find_package(Threads REQUIRED)

set(QL_SIM_SOURCES
  platform/sim/clock.cpp
  platform/sim/files.cpp
  platform/sim/processes.cpp
  platform/sim/windows.cpp
  platform/sim/profile.cpp
  platform/sim/services.cpp
  platform/sim/dispatcher.cpp
  platform/sim/holds.cpp
  platform/sim/mutexes.cpp
  platform/sim/consoles.cpp
  platform/sim/sockets.cpp
  platform/sim/environment.cpp
  platform/sim/eventlog.cpp
  platform/sim/pipes.cpp
)
# The simulated Windows stands in for the platform.
add_library(ql_platform STATIC ${QL_SIM_SOURCES})
target_include_directories(ql_platform PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(ql_platform PUBLIC Threads::Threads)

# Tests live beside the code they test, in any folder of the tree. Both globs
# are checked again at every build, so a new folder's tests join an existing
# build directory; build output and hidden folders are not searched.
file(GLOB QL_TOP_DIRS CONFIGURE_DEPENDS LIST_DIRECTORIES true RELATIVE ${CMAKE_SOURCE_DIR}
  ${CMAKE_SOURCE_DIR}/*)
list(FILTER QL_TOP_DIRS EXCLUDE REGEX "^(build|out|\\.)")
set(QL_UNIT_TESTS)
foreach(dir ${QL_TOP_DIRS})
  if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${dir})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*_test.cpp)
    list(APPEND QL_UNIT_TESTS ${found})
  endif()
endforeach()
add_executable(unit_tests ${QL_UNIT_TESTS} tests/unit/test_main.cpp)
target_link_libraries(unit_tests PRIVATE ql_entry GTest::gtest)
# Expected texts that the end-to-end tests share lie in the source tree.
target_compile_definitions(unit_tests PRIVATE QL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

# A product include that reaches up the layers fails here, before any link.
add_test(NAME layers COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/layers.sh ${CMAKE_SOURCE_DIR})
# A static library links whatever an earlier one already pulled in; this
# fails on a library using a symbol that only a library above it defines.
add_test(NAME links COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/links.sh
  $<TARGET_FILE:ql_entry> $<TARGET_FILE:ql_scm_client> $<TARGET_FILE:ql_service>
  $<TARGET_FILE:ql_config> $<TARGET_FILE:ql_supervision> $<TARGET_FILE:ql_log>
  $<TARGET_FILE:ql_platform>)

# Fuzz targets need clang's libFuzzer; they are built only when asked for.
option(QL_FUZZ "Build the libFuzzer targets" OFF)
if(QL_FUZZ)
  add_subdirectory(fuzz)
endif()

# The health check's start period over many launches, on the virtual clock.
add_executable(healthfigures bench/healthfigures.cpp)
target_link_libraries(healthfigures PRIVATE ql_entry)

# The simulated profile reader on real files, for the differential reader test.
add_executable(profdump_native tests/profile/profdump_native.cpp)
target_link_libraries(profdump_native PRIVATE ql_platform)
