# Cross build for 64-bit Windows with MinGW-w64 (posix-thread compilers, for std::thread), tests
# run under Wine:
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELVIK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELVIK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELVIK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELVIK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELVIK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 keeps its loader off the PATH.
find_program(ZELVIK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT ZELVIK_WINE)
  find_program(ZELVIK_WINE NAMES wine64 wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELVIK_WINE})

# The runtime (libstdc++, libgcc, winpthread) goes into each executable: only DLLs that
# Windows ships itself are needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# CMake links a library found as a file (libodbc32.a) between -Bstatic and -Bdynamic; the
# runtime libraries that follow must stay static.
set(CMAKE_LINK_SEARCH_END_STATIC ON)

# The benchmarks measure the Linux build; the Windows one is timed by bench/windows-export, and
# its own share of the time by bench_export_rows under Wine (-DZELVIK_BENCH=ON).
set(ZELVIK_BENCH OFF CACHE BOOL "")
