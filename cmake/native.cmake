# Native (Linux) build: the pure code only, for the sanitizer runs, the fuzz
# targets and the simulator's pty frontend.
include_directories(${CMAKE_SOURCE_DIR})
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
enable_testing()

# GoogleTest once for every native test folder.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

if(EXISTS ${CMAKE_SOURCE_DIR}/sim/CMakeLists.txt)
  add_subdirectory(sim)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/sim/pty/CMakeLists.txt)
  add_subdirectory(sim/pty)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/native/CMakeLists.txt)
  add_subdirectory(tests/native)
endif()
# libFuzzer comes with clang only.
if(EXISTS ${CMAKE_SOURCE_DIR}/fuzz/CMakeLists.txt AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_subdirectory(fuzz)
endif()
