# Cross build for Windows (i686) with Debian's mingw-w64 (the -posix runtime, which has
# std::thread). Tests run under wine: ctest starts each Windows program through it.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QL_MINGW_TRIPLE i686-w64-mingw32)
find_program(QL_WINE NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
