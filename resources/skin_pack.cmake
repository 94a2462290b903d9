# cmake -DSKIN_DIR=... -DOUT_ZIP=... -DOUT_RC=... -P skin_pack.cmake
cmake_minimum_required(VERSION 3.25)
# Zips the skin folder (deflate, entry names relative to the folder such as "res/Img_15.png", fixed time
# stamps so that an unchanged skin gives the same bytes) and writes the resource script that embeds it.
foreach(var SKIN_DIR OUT_ZIP OUT_RC)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "skin_pack.cmake: ${var} is not set")
  endif()
endforeach()

file(GLOB_RECURSE files RELATIVE ${SKIN_DIR} ${SKIN_DIR}/*)
list(FILTER files EXCLUDE REGEX "\\.(sh|py)$")
list(SORT files)
if(NOT "MainFrame1.xml" IN_LIST files)
  message(FATAL_ERROR "skin_pack.cmake: ${SKIN_DIR} has no MainFrame1.xml")
endif()

get_filename_component(out_dir ${OUT_ZIP} DIRECTORY)
file(MAKE_DIRECTORY ${out_dir})
file(REMOVE ${OUT_ZIP})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${OUT_ZIP} --format=zip "--mtime=2000-01-01 00:00:00 UTC" -- ${files}
  WORKING_DIRECTORY ${SKIN_DIR}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "skin_pack.cmake: zipping the skin failed (${rc})")
endif()

file(SHA256 ${OUT_ZIP} digest)
file(WRITE ${OUT_RC}
  "// Skin package of the main window (generated). Archive SHA-256: ${digest}\n"
  "LANGUAGE 4, 2\n"
  "141 ZIPRES \"${OUT_ZIP}\"\n")
