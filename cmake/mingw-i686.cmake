# Cross-builds 32-bit Windows programs with MinGW-w64 on Linux, linked by lld.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_OBJDUMP i686-w64-mingw32-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every program is linked by lld, which delay-loads DLLs by itself (cmake/delay_load.cmake).
# Debian's cross GCC ignores -fuse-ld=lld and quietly keeps GNU ld; a specs file that names
# the linker makes GCC run lld, and fail when it is not there.
find_program(QUORV_LLD NAMES ld.lld ld.lld-19 ld.lld-14 REQUIRED)
file(WRITE ${CMAKE_BINARY_DIR}/lld.specs "*linker:\n${QUORV_LLD}\n")
set(CMAKE_EXE_LINKER_FLAGS_INIT -specs=${CMAKE_BINARY_DIR}/lld.specs)
