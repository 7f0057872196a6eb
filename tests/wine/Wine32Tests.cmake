# The 32-bit build (KIV_MINGW32_BUILD_DIR) under Wine, as wine32-* tests: the
# protocol records, an acquisition with transfers through DsHost, the
# DirectShow backend on the Wine test camera, the Win32 dialogs (English) and
# the shipped kivsvc.exe. They run in the 64-bit build's prefix when there is
# one (WoW64), and are skipped (exit 77) where 32-bit programs cannot run.
set(kiv_b32 ${KIV_MINGW32_BUILD_DIR})
if(KIV_MINGW_BUILD_DIR)
  set(kiv_wine32_prefix ${KIV_MINGW_BUILD_DIR}/wineprefix)
else()
  set(kiv_wine32_prefix ${kiv_b32}/wineprefix)
endif()
set(kiv_wine32 ${PROJECT_SOURCE_DIR}/scripts/run-wine32.sh)

# DS_Entry alone, under its plain name (no DS_Entry@20 beside it).
add_test(NAME exports-mingw32
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-exports.sh mingw ${kiv_b32}/kivds/kivds.ds)

# Of the longer programs the cases where 32 bits differ: the records with
# pointers, the memory functions (stdcall), global memory, the file writers;
# the backend's contract, one whole session through DS_Entry and the COM
# client of the 32-bit service. (The 64-bit runs have every case.)
set(kiv_xfer_cases "Xfer.ImageInfoAndLayout*:Xfer.NativeDib*:Xfer.MemoryStrips*:Xfer.MemoryTransferIntoAHandle*")
string(APPEND kiv_xfer_cases ":Xfer.BmpFile*:Xfer.TiffFormat*")
set(kiv_dshow_cases "DShowBackend.*:DShowChoice.*:DShowResults.*:DShowService.*:DShowServiceClient.Calls*")
string(APPEND kiv_dshow_cases ":Session.OpensTheMakersCamera*-DShowBackend.StopReturnsAlso*")
foreach(run "tests/unit/protocol/unit_protocol|*" "tests/protocol/protocol_xfer|${kiv_xfer_cases}"
            "tests/wine/camera/wine_dshow|${kiv_dshow_cases}")
  string(REPLACE "|" ";" parts "${run}")
  list(GET parts 0 exe)
  list(GET parts 1 cases)
  get_filename_component(name ${exe} NAME)
  add_test(NAME wine32-${name}
    COMMAND ${kiv_wine32} ${PROJECT_SOURCE_DIR}/scripts/run-wine-test.sh ${kiv_b32}/${exe}.exe --gtest_filter=${cases})
endforeach()

add_test(NAME wine32-dialog-en
  COMMAND ${kiv_wine32} ${CMAKE_CURRENT_SOURCE_DIR}/dialog/run-dialog-test.sh ${kiv_b32}/tests/wine/dialog/wine_dialog.exe
          en en_US.UTF-8 ${CMAKE_BINARY_DIR}/gui-artifacts/win32-i686)
set_tests_properties(wine32-dialog-en PROPERTIES TIMEOUT 240)

add_test(NAME wine32-kivsvc-integration COMMAND ${kiv_wine32} ${PROJECT_SOURCE_DIR}/scripts/test-kivsvc-wine.sh ${kiv_b32})

foreach(t wine32-unit_protocol wine32-protocol_xfer wine32-wine_dshow wine32-dialog-en wine32-kivsvc-integration)
  set_tests_properties(${t} PROPERTIES RESOURCE_LOCK wine SKIP_RETURN_CODE 77
    ENVIRONMENT "KIV_WINEPREFIX=${kiv_wine32_prefix}")
endforeach()

# The setup program of both builds, installed, used, upgraded and removed in a
# prefix of its own (tests/wine/installer).
if(KIV_MINGW_BUILD_DIR)
  add_test(NAME wine-installer
    COMMAND ${kiv_wine32} ${CMAKE_CURRENT_SOURCE_DIR}/installer/run-installer-test.sh ${KIV_MINGW_BUILD_DIR} ${kiv_b32})
  set_tests_properties(wine-installer PROPERTIES RESOURCE_LOCK wine SKIP_RETURN_CODE 77 TIMEOUT 600
    ENVIRONMENT "KIV_WINEPREFIX=${kiv_wine32_prefix}")
endif()
