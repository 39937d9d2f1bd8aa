# Settings shared by every Windows target.
option(VX_BUILD_TESTS "Build the test programs" ON)
add_compile_options(-Wall -Wextra -Wno-unused-parameter)
# A section per function and object, so that the linker can drop what no
# export reaches (the DLL links with --gc-sections).
add_compile_options(-ffunction-sections -fdata-sections)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# Static runtime: every binary imports system DLLs only.
add_link_options(-static -static-libgcc -static-libstdc++)
include_directories(${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include)
# Where the native (Linux) build put the simulator's pty frontend, which the
# COM-port tests start beside Wine.
set(VX_NATIVE_BIN_DIR "" CACHE PATH "bin folder of the native build")
