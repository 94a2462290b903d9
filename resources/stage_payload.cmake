# Copies one payload file from the boot environment's build into the build tree. A missing file stops the
# build, unless ALLOW_STANDIN is on (VORLANE_ALLOW_STANDIN_PAYLOADS, a development switch): then a small
# stand-in that says what it stands for is written instead. The target is rewritten only when its content
# changes, so the program is re-linked only then.
# Usage: cmake -DSRC=file -DDST=file -DWHAT=description [-DALLOW_STANDIN=ON] -P stage_payload.cmake
if(EXISTS "${SRC}" AND NOT IS_DIRECTORY "${SRC}")
  file(COPY_FILE "${SRC}" "${DST}" ONLY_IF_DIFFERENT)
elseif(NOT ALLOW_STANDIN)
  message(FATAL_ERROR "Missing ${WHAT}: ${SRC} is not there. Build the boot environment first "
    "(bootenv/build.sh; scripts/build runs it), point VORLANE_PAYLOAD_DIR at its payload folder, or configure "
    "with -DVORLANE_ALLOW_STANDIN_PAYLOADS=ON for a development build that embeds labelled stand-ins.")
else()
  set(_text "Vorlane build stand-in for ${WHAT}.\nThe boot environment's build provides the real file as ${SRC}.\n")
  file(WRITE "${DST}.standin" "${_text}")
  file(COPY_FILE "${DST}.standin" "${DST}" ONLY_IF_DIFFERENT)
  file(REMOVE "${DST}.standin")
endif()
