# The steps of the install round trips (cmake -P scripts, with INSTALL_SH,
# BUILD and PREFIX defined): scripts/install.sh into the scratch prefix and
# back out, failing the test on any error.

# kiv_install(): installs from BUILD into PREFIX; install_out holds the log.
function(kiv_install)
  execute_process(COMMAND ${INSTALL_SH} --prefix ${PREFIX} --build-dir ${BUILD} --no-build
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "install failed (${rc}):\n${out}\n${err}")
  endif()
  set(install_out "${out}" PARENT_SCOPE)
endfunction()

# kiv_uninstall_leaves(PATH...): uninstalls, and PREFIX must then hold
# exactly these paths (relative, files and directories).
function(kiv_uninstall_leaves)
  execute_process(COMMAND ${INSTALL_SH} --uninstall --prefix ${PREFIX} RESULT_VARIABLE rc OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "uninstall failed (${rc}):\n${out}\n${err}")
  endif()
  file(GLOB_RECURSE left RELATIVE ${PREFIX} LIST_DIRECTORIES true ${PREFIX}/*)
  list(SORT left)
  set(expected ${ARGN})
  list(SORT expected)
  if(NOT left STREQUAL expected)
    message(FATAL_ERROR "after uninstall: ${left}\nexpected: ${expected}\n${out}")
  endif()
endfunction()
