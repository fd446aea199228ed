# Cross-builds Windows x86-64 programs with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix) and runs them under Wine.
#   cmake --preset windows
# Qt, libcurl and libsodium come from the cache that tools/windows-sdk
# builds; AVENDRO_WINDOWS_SDK names its sdk.cmake when it is not in the
# usual place.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(AVENDRO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${AVENDRO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${AVENDRO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${AVENDRO_MINGW}-windres)

# The compiler's own runtime DLLs, shipped beside the programs and found by
# Wine through WINEPATH.
set(AVENDRO_MINGW_RUNTIME_DIRS /usr/lib/gcc/${AVENDRO_MINGW}/12-posix /usr/${AVENDRO_MINGW}/lib)

set(AVENDRO_SDK_PREFIXES "")
if(DEFINED ENV{AVENDRO_WINDOWS_SDK})
  set(AVENDRO_WINDOWS_SDK_FILE "$ENV{AVENDRO_WINDOWS_SDK}")
else()
  set(AVENDRO_WINDOWS_SDK_FILE "$ENV{HOME}/.cache/avendro/sdk.cmake")
endif()
if(EXISTS "${AVENDRO_WINDOWS_SDK_FILE}")
  include("${AVENDRO_WINDOWS_SDK_FILE}")
  set(QT_HOST_PATH ${AVENDRO_QT_HOST_PATH} CACHE PATH "Qt of the build machine")
  set(QT_HOST_PATH_CMAKE_DIR ${AVENDRO_QT_HOST_PATH_CMAKE_DIR} CACHE PATH "Its CMake files")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${AVENDRO_MINGW} ${AVENDRO_SDK_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest and test discovery run the programs through Wine.
find_program(AVENDRO_WINE NAMES wine wine64)
if(NOT AVENDRO_WINE)
  message(FATAL_ERROR "Wine is missing: the Windows programs are tested under Wine. "
                      "Install Debian's wine and wine64 (tools/test-windows does).")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${AVENDRO_WINE})
