# Cross build for 32-bit Windows with mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VX_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VX_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VX_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VX_TRIPLET}-windres)
set(CMAKE_NM ${VX_TRIPLET}-nm)
set(CMAKE_OBJDUMP ${VX_TRIPLET}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${VX_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run in the 32-bit runner (scripts/setup-x86): Wine 10 in a
# chroot, its 32-bit loader under qemu-i386.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-x86)
