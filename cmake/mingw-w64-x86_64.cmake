# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 GCC. The POSIX-threads
# variant is the one whose C++ library has std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QK750_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QK750_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QK750_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QK750_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot only, never from the Linux host;
# programs (moc, uic, rcc) are the host's.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QK750_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
