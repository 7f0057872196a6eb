# kivscan --ui with the dialog driven by KIVDS_UI_SCRIPT.
#   MODE=fltk      the display of the test run: the FLTK dialog
#   MODE=fallback  a display that cannot be opened: headless, one warning line
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
# The version dialog opens from the window menu and closes again first.
set(ENV{KIVDS_UI_SCRIPT} "frame;version;capture")
if(MODE STREQUAL "fallback")
  set(ENV{DISPLAY} ":4711")
elseif(NOT DEFINED ENV{DISPLAY})
  message(FATAL_ERROR "no DISPLAY: run under xvfb-run")
endif()
execute_process(COMMAND ${KIVSCAN} --virtual --ui --xfer native -o ${OUT}/page.bmp
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kivscan --ui failed (${rc}):\n${out}\n${err}")
endif()
if(NOT EXISTS ${OUT}/page.bmp)
  message(FATAL_ERROR "no picture written:\n${out}")
endif()
string(REGEX MATCHALL "cannot open display" warnings "${err}")
list(LENGTH warnings count)
if(MODE STREQUAL "fallback" AND NOT count EQUAL 1)
  message(FATAL_ERROR "expected one line about the display, got ${count}:\n${err}")
endif()
if(MODE STREQUAL "fltk" AND NOT count EQUAL 0)
  message(FATAL_ERROR "the display was not used:\n${err}")
endif()
