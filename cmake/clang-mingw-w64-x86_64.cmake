# Cross-compiles for 64-bit Windows with Debian's clang, against the
# mingw-w64 headers and libraries and GCC's libstdc++ (posix threads), linked
# by lld. A second compiler keeps the code free of one compiler's extensions.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VULMO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${VULMO_MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${VULMO_MINGW_PREFIX})
include(${CMAKE_CURRENT_LIST_DIR}/MingwTarget.cmake)

# clang 14 does not find Debian's GCC installation (its version folder is
# "12-posix"), so libstdc++ and the GCC runtime are named here; GCC's driver
# adds winpthreads by itself, clang's does not. lld resolves archives in any
# order, so that library may come first.
file(GLOB VULMO_GCC_DIR /usr/lib/gcc/${VULMO_MINGW_PREFIX}/*-posix)
list(GET VULMO_GCC_DIR -1 VULMO_GCC_DIR)
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${VULMO_GCC_DIR}/include/c++ -isystem ${VULMO_GCC_DIR}/include/c++/${VULMO_MINGW_PREFIX} -isystem ${VULMO_GCC_DIR}/include/c++/backward")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${VULMO_GCC_DIR} -lpthread")
