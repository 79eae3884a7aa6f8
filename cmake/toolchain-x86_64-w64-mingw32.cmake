# Cross build for Windows (x86_64) with Debian's mingw-w64 (the -posix runtime, which has
# std::thread). Tests run under wine: ctest starts each Windows program through it.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QL_MINGW_TRIPLE x86_64-w64-mingw32)
# Debian's /usr/bin/wine starts the 32-bit loader first, which needs a kernel that runs 32-bit
# programs: the 64-bit loader is asked for by its own name.
find_program(QL_WINE NAMES wine64 PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
