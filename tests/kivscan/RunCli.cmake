# Runs kivscan as the README does and checks its exit status, its summary
# line and the TIFF it wrote.
file(REMOVE_RECURSE ${OUT})
set(ENV{KIVDS_UI} headless)
execute_process(
  COMMAND ${KIVSCAN} --virtual=caps=mjpeg:320x240 --xfer memory --format tiff --create-dirs -o ${OUT}/page.tif
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kivscan exited with ${status}\n${out}\n${err}")
endif()
if(NOT out MATCHES "Done: 1 picture 320x240, memory transfer, TIFF")
  message(FATAL_ERROR "no summary line:\n${out}")
endif()
file(READ ${OUT}/page.tif head LIMIT 4 HEX)
if(NOT head STREQUAL "49492a00")
  message(FATAL_ERROR "${OUT}/page.tif is not a little-endian TIFF (${head})")
endif()
file(SIZE ${OUT}/page.tif size)
if(size LESS 230400)
  message(FATAL_ERROR "${OUT}/page.tif holds ${size} bytes, less than 320x240 RGB")
endif()

# --version prints the number of the file VERSION, the one the resources,
# the installer and the package take.
file(STRINGS ${VERSION_FILE} version LIMIT_COUNT 1)
execute_process(COMMAND ${KIVSCAN} --version RESULT_VARIABLE status OUTPUT_VARIABLE out TIMEOUT 30)
if(NOT status EQUAL 0 OR NOT out STREQUAL "kivscan ${version}\n")
  message(FATAL_ERROR "kivscan --version exited with ${status} and printed '${out}', not 'kivscan ${version}'")
endif()
