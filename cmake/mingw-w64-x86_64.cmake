# Cross-compilation for 64-bit Windows with the POSIX-thread flavour of mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${NV_MINGW_PREFIX}-windres)
set(CMAKE_AR ${NV_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${NV_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${NV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every Windows program of the build runs under Wine through the test harness.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/harness/wine-run)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
