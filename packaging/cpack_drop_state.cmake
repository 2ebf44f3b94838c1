# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) once the package's files are staged:
# takes out what the installation put below the state directory
# /var/opt/ZEPHline/orx.  The package's postinst makes those directories and
# copies the example data files where none of that name is, so that
# installing a newer package never replaces what an operator edited there.
if(NOT CPACK_TEMPORARY_DIRECTORY OR NOT CPACK_OVI_STATE_DIR)
  message(FATAL_ERROR "cpack_drop_state.cmake: run by CPack with CPACK_OVI_STATE_DIR set")
endif()
file(REMOVE_RECURSE "${CPACK_TEMPORARY_DIRECTORY}${CPACK_OVI_STATE_DIR}")
# The parents that held nothing else (/var/opt/ZEPHline, /var/opt, /var).
get_filename_component(dir "${CPACK_OVI_STATE_DIR}" DIRECTORY)
while(NOT dir STREQUAL "/" AND NOT dir STREQUAL "")
  set(staged "${CPACK_TEMPORARY_DIRECTORY}${dir}")
  if(NOT IS_DIRECTORY "${staged}")
    break()
  endif()
  file(GLOB left "${staged}/*")
  if(left)
    break()
  endif()
  file(REMOVE "${staged}")
  file(REMOVE_RECURSE "${staged}")
  get_filename_component(dir "${dir}" DIRECTORY)
endwhile()
