# What both mingw-w64 cross builds share; the toolchain files set CMAKE_SYSTEM_PROCESSOR,
# QL_MINGW_TRIPLE and QL_WINE (the wine loader that runs the target's programs), then include this.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
# Headers may come from the build machine too: the build copies the header-only ones it needs
# (stb) out of /usr/include; libraries are found for the target only.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config looks at the target's folder only, never at the build machine's libraries.
set(ENV{PKG_CONFIG_LIBDIR} ${CMAKE_FIND_ROOT_PATH}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Nothing to ship beside a program or the plug-in: the C and C++ runtimes and winpthreads are
# linked in, so only system DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

if(QL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QL_WINE})
endif()
