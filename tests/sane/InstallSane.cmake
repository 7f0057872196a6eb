# scripts/install.sh with a scratch prefix puts the SANE backend where that
# prefix's SANE loader would look, scanimage finds the camera through the
# installed files, and --uninstall removes exactly them.
file(REMOVE_RECURSE ${PREFIX})
file(MAKE_DIRECTORY ${PREFIX}/lib)
execute_process(COMMAND ${INSTALL_SH} --prefix ${PREFIX} --build-dir ${BUILD} --no-build
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed (${rc}):\n${out}\n${err}")
endif()
foreach(f lib/sane/libsane-kiv.so.1 etc/sane.d/dll.d/kiv etc/sane.d/kiv.conf)
  if(NOT EXISTS ${PREFIX}/${f} OR IS_SYMLINK ${PREFIX}/${f})
    message(FATAL_ERROR "no regular ${PREFIX}/${f}:\n${out}")
  endif()
endforeach()
file(READ ${PREFIX}/etc/sane.d/dll.d/kiv entry)
if(NOT entry STREQUAL "kiv\n")
  message(FATAL_ERROR "dll.d/kiv names '${entry}'")
endif()
# The installed configuration directory has a dll.d: the loader reads it.
execute_process(COMMAND env SANE_CONFIG_DIR=${PREFIX}/etc/sane.d LD_LIBRARY_PATH=${PREFIX}/lib/sane
                        LD_PRELOAD=${PRELOAD} ASAN_OPTIONS=detect_leaks=0 KIVDS_CAMERA=sim scanimage -L
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "is a Orvan KIVCAMA video camera")
  message(FATAL_ERROR "scanimage -L with the installed backend (${rc}):\n${out}\n${err}")
endif()
execute_process(COMMAND ${INSTALL_SH} --uninstall --prefix ${PREFIX} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "uninstall failed (${rc}):\n${out}\n${err}")
endif()
file(GLOB_RECURSE left RELATIVE ${PREFIX} LIST_DIRECTORIES true ${PREFIX}/*)
if(NOT left STREQUAL "lib")
  message(FATAL_ERROR "after uninstall: ${left}\n${out}")
endif()
file(REMOVE_RECURSE ${PREFIX})
