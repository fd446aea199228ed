# Cross-builds Windows x86-64 programs with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix) and runs them under Wine.
#   cmake --preset windows
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(AVENDRO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${AVENDRO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${AVENDRO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${AVENDRO_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${AVENDRO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: no libstdc++, libgcc or winpthread DLLs to
# copy next to them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# CTest and test discovery run the programs through Wine.
find_program(AVENDRO_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${AVENDRO_WINE})
