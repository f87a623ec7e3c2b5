# Cross toolchain for the 64-bit build of the same sources, the one that runs under wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OSTREL_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
