# Cross-compiles lvlsnd.exe, a 64-bit Windows console program, with Debian's mingw-w64.
#   cmake -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake && cmake --build build-win
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The POSIX thread model gives std::thread, which lvlsnd-replace encodes with; its winpthread is
# linked statically as the rest, so no DLL goes beside the programs.
find_program(LVLSND_MINGW_CXX NAMES x86_64-w64-mingw32-g++-posix REQUIRED)
set(CMAKE_CXX_COMPILER ${LVLSND_MINGW_CXX})
# The C compiler builds libsoxr for the programs (cmake/build-soxr-mingw.sh).
find_program(LVLSND_MINGW_CC NAMES x86_64-w64-mingw32-gcc-posix)
set(CMAKE_C_COMPILER ${LVLSND_MINGW_CC})
find_program(CMAKE_STRIP NAMES x86_64-w64-mingw32-strip)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Linked statically: lvlsnd.exe needs no libstdc++, libgcc or winpthread DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
