# Cross-compiles for 32-bit (x86) Windows with Debian's mingw-w64 GCC (posix
# threads): the build a maker ships, as it runs on every Windows.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VULMO_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VULMO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VULMO_MINGW_PREFIX}-g++-posix)
include(${CMAKE_CURRENT_LIST_DIR}/MingwTarget.cmake)
