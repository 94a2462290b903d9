# The skin package: every file of skin/ (except the drawing script) zipped with deflate into skin.zip,
# embedded as resource "ZIPRES" 141, language Chinese (Simplified). The generated skin.rc names the zip and
# carries its SHA-256, so any change of the skin changes the .rc and the program's resources are rebuilt.
set(VORLANE_SKIN_DIR ${CMAKE_CURRENT_SOURCE_DIR}/skin)
set(VORLANE_SKIN_ZIP ${CMAKE_BINARY_DIR}/resources/skin.zip)
set(VORLANE_SKIN_RC ${CMAKE_BINARY_DIR}/resources/skin.rc)

file(GLOB_RECURSE _skin_files CONFIGURE_DEPENDS ${VORLANE_SKIN_DIR}/*)
list(FILTER _skin_files EXCLUDE REGEX "\\.(sh|py)$")

add_custom_command(
  OUTPUT ${VORLANE_SKIN_ZIP} ${VORLANE_SKIN_RC}
  COMMAND ${CMAKE_COMMAND} -DSKIN_DIR=${VORLANE_SKIN_DIR} -DOUT_ZIP=${VORLANE_SKIN_ZIP}
          -DOUT_RC=${VORLANE_SKIN_RC} -P ${CMAKE_CURRENT_SOURCE_DIR}/skin_pack.cmake
  DEPENDS ${_skin_files} ${CMAKE_CURRENT_SOURCE_DIR}/skin_pack.cmake
  COMMENT "Packing the skin into skin.zip"
  VERBATIM)
add_custom_target(vorlane_skin ALL DEPENDS ${VORLANE_SKIN_ZIP} ${VORLANE_SKIN_RC})

# Targets in other folders (the program, the sandbox, toolkit tests) list skin.rc as a source; the file
# dependency on the generated .rc recompiles their resources whenever the skin changes.
set_property(GLOBAL APPEND PROPERTY VORLANE_RC_FILES ${VORLANE_SKIN_RC})
set_property(GLOBAL PROPERTY VORLANE_SKIN_ZIP ${VORLANE_SKIN_ZIP})
