# The LZMA SDK's 7z decoder, from the C sources that scripts/setup.sh unpacks
# out of Debian's 7zip source package into third_party/lzma/C.
set(LZMA_SDK_DIR ${VULMO_THIRD_PARTY}/lzma/C)
if(NOT EXISTS ${LZMA_SDK_DIR}/7zArcIn.c)
  message(FATAL_ERROR "LZMA SDK sources missing in ${LZMA_SDK_DIR}: run scripts/setup.sh")
endif()
add_library(lzma_sdk STATIC
  ${LZMA_SDK_DIR}/7zAlloc.c
  ${LZMA_SDK_DIR}/7zArcIn.c
  ${LZMA_SDK_DIR}/7zBuf.c
  ${LZMA_SDK_DIR}/7zCrc.c
  ${LZMA_SDK_DIR}/7zCrcOpt.c
  ${LZMA_SDK_DIR}/7zDec.c
  ${LZMA_SDK_DIR}/7zStream.c
  ${LZMA_SDK_DIR}/Bcj2.c
  ${LZMA_SDK_DIR}/Bra.c
  ${LZMA_SDK_DIR}/Bra86.c
  ${LZMA_SDK_DIR}/BraIA64.c
  ${LZMA_SDK_DIR}/CpuArch.c
  ${LZMA_SDK_DIR}/Delta.c
  ${LZMA_SDK_DIR}/Lzma2Dec.c
  ${LZMA_SDK_DIR}/LzmaDec.c
  ${LZMA_SDK_DIR}/Ppmd7.c
  ${LZMA_SDK_DIR}/Ppmd7Dec.c)
target_include_directories(lzma_sdk SYSTEM PUBLIC ${LZMA_SDK_DIR})
# PPMd is one of the methods 7-Zip offers for text-heavy packages; the 7z
# decoder only handles it when built with its PPMd model.
target_compile_definitions(lzma_sdk PRIVATE _7ZIP_ST Z7_ST Z7_PPMD_SUPPORT)
# The decoder and the CRC are the program's hot loops: they are built for
# speed even in the size-optimised release (they cost about 9 KB more than at
# -Os and decode about 10% faster).
if(MSVC)
  target_compile_options(lzma_sdk PRIVATE $<$<CONFIG:MinSizeRel>:/O2>)
else()
  # Third-party code, compiled as it is shipped: its warnings are not ours
  # to fix.
  target_compile_options(lzma_sdk PRIVATE -w $<$<CONFIG:MinSizeRel>:-O2>)
endif()

# The SDK's file streams, for tools that read archives outside the installer.
add_library(lzma_sdk_files STATIC ${LZMA_SDK_DIR}/7zFile.c)
target_link_libraries(lzma_sdk_files PUBLIC lzma_sdk)
