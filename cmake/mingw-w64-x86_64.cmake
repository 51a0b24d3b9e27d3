# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the POSIX thread
# model, for std::thread and std::mutex). Used by scripts/build-windows.sh:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(kp_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${kp_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${kp_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${kp_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${kp_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program stands alone: no libgcc, libstdc++ or winpthread DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and build steps run the programs under Wine (64-bit), quietly.
find_program(KP_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT KP_WINE64)
  find_program(KP_WINE64 NAMES wine64 wine)
endif()
if(KP_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KP_WINE64})
endif()
