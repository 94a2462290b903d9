# zlib from Debian's mingw-w64 package; minizip and pugixml built from Debian's source packages, which
# scripts/setup unpacks into VORLANE_CACHE (never into the repository).
find_library(VORLANE_ZLIB NAMES libz.a REQUIRED)
add_library(zlib_static STATIC IMPORTED GLOBAL)
set_target_properties(zlib_static PROPERTIES IMPORTED_LOCATION ${VORLANE_ZLIB})

file(GLOB _minizip_dir LIST_DIRECTORIES true "${VORLANE_CACHE}/src/zlib-*/contrib/minizip")
if(NOT _minizip_dir)
  message(FATAL_ERROR "minizip sources not found under ${VORLANE_CACHE}/src: run scripts/setup")
endif()
list(GET _minizip_dir 0 MINIZIP_DIR)
add_library(minizip STATIC ${MINIZIP_DIR}/unzip.c ${MINIZIP_DIR}/ioapi.c)
target_include_directories(minizip SYSTEM PUBLIC ${MINIZIP_DIR})
target_compile_options(minizip PRIVATE -w)
target_link_libraries(minizip PUBLIC zlib_static)

file(GLOB _pugi_dir LIST_DIRECTORIES true "${VORLANE_CACHE}/src/pugixml-*/src")
if(NOT _pugi_dir)
  message(FATAL_ERROR "pugixml sources not found under ${VORLANE_CACHE}/src: run scripts/setup")
endif()
list(GET _pugi_dir 0 PUGIXML_DIR)
add_library(pugixml STATIC ${PUGIXML_DIR}/pugixml.cpp)
target_include_directories(pugixml SYSTEM PUBLIC ${PUGIXML_DIR})
target_compile_definitions(pugixml PUBLIC PUGIXML_WCHAR_MODE)
target_compile_options(pugixml PRIVATE -w)

# stb_image, compiled in one translation unit by the UI toolkit.
find_path(STB_INCLUDE_DIR stb/stb_image.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(stb_headers INTERFACE)
target_include_directories(stb_headers SYSTEM INTERFACE ${STB_INCLUDE_DIR}/stb)

# Ed25519 signature verification from Debian's libsodium source package: only the files the check needs
# (no random source, no sodium_init), so the program imports nothing new. cloud/sodium_glue.c supplies
# the three small helpers those files call.
file(GLOB _sodium_dir LIST_DIRECTORIES true "${VORLANE_CACHE}/src/libsodium-*/src/libsodium")
if(NOT _sodium_dir)
  message(FATAL_ERROR "libsodium sources not found under ${VORLANE_CACHE}/src: run scripts/setup")
endif()
list(GET _sodium_dir 0 SODIUM_DIR)
set(VERSION 1.0.18)
set(SODIUM_LIBRARY_VERSION_MAJOR 10)
set(SODIUM_LIBRARY_VERSION_MINOR 3)
set(SODIUM_LIBRARY_MINIMAL_DEF "")
configure_file(${SODIUM_DIR}/include/sodium/version.h.in ${CMAKE_BINARY_DIR}/sodium_gen/sodium/version.h @ONLY)
add_library(sodium_verify STATIC
  ${SODIUM_DIR}/crypto_sign/ed25519/ref10/open.c
  ${SODIUM_DIR}/crypto_sign/ed25519/ref10/sign.c
  ${SODIUM_DIR}/crypto_core/ed25519/ref10/ed25519_ref10.c
  ${SODIUM_DIR}/crypto_hash/sha512/cp/hash_sha512_cp.c
  ${SODIUM_DIR}/crypto_verify/sodium/verify.c
  ${CMAKE_SOURCE_DIR}/cloud/sodium_glue.c)
target_include_directories(sodium_verify SYSTEM PUBLIC ${SODIUM_DIR}/include ${CMAKE_BINARY_DIR}/sodium_gen)
target_include_directories(sodium_verify PRIVATE ${SODIUM_DIR}/include/sodium)
target_compile_definitions(sodium_verify PUBLIC SODIUM_STATIC)
target_compile_options(sodium_verify PRIVATE -w)
