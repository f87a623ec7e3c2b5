# Cross toolchain for the core, the ostrel tool and the unit tests as 32-bit
# Linux programs (Debian's g++-i686-linux-gnu), run under qemu-i386-static.
# The shipped product is 32-bit: size_t and pointers are 32 bits wide there,
# so an offset or size check that only holds because a 64-bit sum cannot
# wrap shows up here and in no native run.
#
# Libraries: the C and C++ runtime come with the cross compiler under
# /usr/i686-linux-gnu; zlib and libdeflate come from Debian's i386 multiarch
# packages (zlib1g-dev:i386, libdeflate-dev:i386), whose folder /usr/lib/i386-linux-gnu the cross compiler
# searches too; GoogleTest is built from its packaged sources
# (cmake/googletest-from-source.cmake).
#
# Everything is linked statically: the emulator then needs no i386 loader or
# shared libraries, and this kernel (which cannot start 32-bit programs by
# itself) runs each one as "qemu-i386-static program". ctest and the test
# discovery add that prefix through CMAKE_CROSSCOMPILING_EMULATOR; tests that
# start ostrel themselves take it from OSTREL_EMULATOR (tests/CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# 64-bit file offsets and times, as a 32-bit Linux program needs them:
# - offsets: the host kernel hands the emulated program 64-bit directory
#   positions (ext4 hashes), which a 32-bit readdir() refuses with EOVERFLOW;
# - times: DOS dates reach 2107, and with a 32-bit time_t mktime() fails
#   after January 2038, so entries dated later would keep the time of
#   extraction, where Windows (64-bit FILETIME) stamps them.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# find_library must then pick static archives; the platform files reset
# the suffix list after a toolchain file, so it is set after project().
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/static-libraries.cmake)
set(ZLIB_USE_STATIC_LIBS ON)  # also what builder/CMakeLists.txt asks to pick libdeflate.a
find_program(OSTREL_QEMU_I386 qemu-i386-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTREL_QEMU_I386})
