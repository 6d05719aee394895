# What every mingw-w64 toolchain file shares: a Windows target whose
# headers and libraries are Debian's mingw-w64 ones for VULMO_MINGW_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_RC_COMPILER ${VULMO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VULMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
