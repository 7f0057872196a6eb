# libtiff for the TIFF writer: Debian's libtiff-dev natively; for the Windows
# cross build a static libtiff without optional codecs, built by
# scripts/build-libtiff-mingw.sh. Provides the imported target KivTiff::tiff.
if(TARGET KivTiff::tiff)
  return()
endif()

if(CMAKE_CROSSCOMPILING)
  set(KIV_TIFF_ROOT "${PROJECT_SOURCE_DIR}/build/deps/tiff-${KIV_MINGW_TRIPLE}"
      CACHE PATH "Prefix of the cross-built static libtiff")
  if(NOT EXISTS "${KIV_TIFF_ROOT}/lib/libtiff.a" OR NOT EXISTS "${KIV_TIFF_ROOT}/include/tiffio.h")
    message(FATAL_ERROR
      "No cross-built libtiff in ${KIV_TIFF_ROOT}.\n"
      "Build it first with:\n"
      "  scripts/build-libtiff-mingw.sh ${KIV_TIFF_ROOT}\n"
      "(or point KIV_TIFF_ROOT at an existing installation).")
  endif()
  add_library(KivTiff::tiff STATIC IMPORTED GLOBAL)
  set_target_properties(KivTiff::tiff PROPERTIES
    IMPORTED_LOCATION "${KIV_TIFF_ROOT}/lib/libtiff.a"
    INTERFACE_INCLUDE_DIRECTORIES "${KIV_TIFF_ROOT}/include")
else()
  find_package(TIFF REQUIRED)
  add_library(KivTiff::tiff INTERFACE IMPORTED GLOBAL)
  target_link_libraries(KivTiff::tiff INTERFACE TIFF::TIFF)
endif()
