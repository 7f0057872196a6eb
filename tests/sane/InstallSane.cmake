# scripts/install.sh with a scratch prefix puts the SANE backend where that
# prefix's SANE loader would look, scanimage finds the camera through the
# installed files, and --uninstall removes exactly them.
include(${CMAKE_CURRENT_LIST_DIR}/../install/InstallSteps.cmake)
file(REMOVE_RECURSE ${PREFIX})
file(MAKE_DIRECTORY ${PREFIX}/lib)
kiv_install()
foreach(f lib/sane/libsane-kiv.so.1 etc/sane.d/dll.d/kiv etc/sane.d/kiv.conf)
  if(NOT EXISTS ${PREFIX}/${f} OR IS_SYMLINK ${PREFIX}/${f})
    message(FATAL_ERROR "no regular ${PREFIX}/${f}:\n${install_out}")
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
kiv_uninstall_leaves(lib)
file(REMOVE_RECURSE ${PREFIX})
