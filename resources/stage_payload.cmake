# Copies one payload file from the boot environment's build into the build tree, or writes a small
# stand-in that says what it stands for when that file is not there. The target is rewritten only when its
# content changes, so the program is re-linked only then.
# Usage: cmake -DSRC=file -DDST=file -DWHAT=description -P stage_payload.cmake
if(EXISTS "${SRC}" AND NOT IS_DIRECTORY "${SRC}")
  file(COPY_FILE "${SRC}" "${DST}" ONLY_IF_DIFFERENT)
else()
  set(_text "Vorlane build stand-in for ${WHAT}.\nThe boot environment's build provides the real file as ${SRC}.\n")
  file(WRITE "${DST}.standin" "${_text}")
  file(COPY_FILE "${DST}.standin" "${DST}" ONLY_IF_DIFFERENT)
  file(REMOVE "${DST}.standin")
endif()
