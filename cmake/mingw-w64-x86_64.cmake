# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VULMO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VULMO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VULMO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VULMO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VULMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test executables run under Wine through a wrapper that uses the build
# tree's own prefix and a time limit.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
