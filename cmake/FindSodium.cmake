# libsodium as the imported target avendro::sodium.
#   find_package(Sodium REQUIRED)
# Linux: Debian's libsodium-dev through pkg-config. Windows (cross build):
# the static library that tools/windows-sdk puts in one of
# AVENDRO_SDK_PREFIXES; its header then needs SODIUM_STATIC, or it declares
# every function as imported from a DLL. The target is global: the tests
# use the library too.
if(TARGET avendro::sodium)
  set(Sodium_FOUND TRUE)
  return()
endif()

if(WIN32)
  find_path(SODIUM_INCLUDE_DIR sodium.h PATHS ${AVENDRO_SDK_PREFIXES} PATH_SUFFIXES include
            NO_DEFAULT_PATH)
  find_library(SODIUM_LIBRARY NAMES libsodium.a PATHS ${AVENDRO_SDK_PREFIXES} PATH_SUFFIXES lib
               NO_DEFAULT_PATH)
  include(FindPackageHandleStandardArgs)
  find_package_handle_standard_args(Sodium
    REQUIRED_VARS SODIUM_LIBRARY SODIUM_INCLUDE_DIR
    REASON_FAILURE_MESSAGE "looked in AVENDRO_SDK_PREFIXES, which tools/windows-sdk fills")
  if(Sodium_FOUND)
    add_library(avendro::sodium STATIC IMPORTED GLOBAL)
    set_target_properties(avendro::sodium PROPERTIES
      IMPORTED_LOCATION ${SODIUM_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${SODIUM_INCLUDE_DIR}
      INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)
  endif()
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET GLOBAL libsodium)
  set(Sodium_FOUND TRUE)
  add_library(avendro::sodium INTERFACE IMPORTED GLOBAL)
  target_link_libraries(avendro::sodium INTERFACE PkgConfig::SODIUM)
endif()
