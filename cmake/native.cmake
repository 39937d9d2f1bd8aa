# Native (Linux) build: the pure code only, for the sanitizer runs, the fuzz
# targets and the simulator's pty frontend.
include_directories(${CMAKE_SOURCE_DIR})
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
if(EXISTS ${CMAKE_SOURCE_DIR}/sim/CMakeLists.txt)
  add_subdirectory(sim)
endif()
add_subdirectory(tests/rig)
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/native/CMakeLists.txt)
  enable_testing()
  add_subdirectory(tests/native)
endif()
