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
