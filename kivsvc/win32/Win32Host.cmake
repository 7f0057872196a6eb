# kivsvc.exe: the Win32 host of the service logic. Included from
# kivsvc/CMakeLists.txt for Windows builds only.

# The interface definition is compiled with widl; the system .idl files it
# imports are the ones Wine's development package installs.
find_program(KIV_WIDL NAMES ${KIV_MINGW_TRIPLE}-widl widl widl-stable REQUIRED)
find_path(KIV_WINE_IDL_DIR oaidl.idl
  PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)
# importlib("stdole2.tlb") is resolved against the type library Wine ships;
# only its 64-bit build is installed, and it serves the 32-bit library too.
find_path(KIV_WINE_STDOLE_DIR stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
        /usr/lib/x86_64-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(kiv_widl_arch --win64)
else()
  set(kiv_widl_arch --win32)
endif()

set(kiv_idl ${CMAKE_CURRENT_SOURCE_DIR}/win32/kivsvc.idl)
set(kiv_idl_out ${CMAKE_CURRENT_BINARY_DIR}/idl)
file(MAKE_DIRECTORY ${kiv_idl_out})
add_custom_command(
  OUTPUT ${kiv_idl_out}/kivsvc_idl.h ${kiv_idl_out}/kivsvc_idl_i.c ${kiv_idl_out}/kivsvc.tlb
  COMMAND ${KIV_WIDL} ${kiv_widl_arch} -I ${KIV_WINE_IDL_DIR} -h -H ${kiv_idl_out}/kivsvc_idl.h ${kiv_idl}
  COMMAND ${KIV_WIDL} ${kiv_widl_arch} -I ${KIV_WINE_IDL_DIR} -u -U ${kiv_idl_out}/kivsvc_idl_i.c ${kiv_idl}
  COMMAND ${KIV_WIDL} ${kiv_widl_arch} -I ${KIV_WINE_IDL_DIR} -L ${KIV_WINE_STDOLE_DIR} -t -T ${kiv_idl_out}/kivsvc.tlb ${kiv_idl}
  DEPENDS ${kiv_idl}
  COMMENT "widl kivsvc.idl"
  VERBATIM)

# Interface, class and library identifiers plus the generated header, for the
# server and for clients (the Wine integration tests).
add_library(kivsvc_idl STATIC ${kiv_idl_out}/kivsvc_idl_i.c ${kiv_idl_out}/kivsvc_idl.h)
target_include_directories(kivsvc_idl PUBLIC ${kiv_idl_out})

# Everything of the host but the entry point, so tests can link it.
add_library(kivsvc_host STATIC
  win32/AccessObject.cpp
  win32/EventLog.cpp
  win32/ServiceInstaller.cpp
  win32/ServiceModule.cpp
  win32/Text.cpp
  win32/Win32Registry.cpp
)
kiv_com_sources(kivsvc_host win32/AccessObject.cpp win32/EventLog.cpp win32/ServiceInstaller.cpp win32/ServiceModule.cpp
                win32/Text.cpp win32/Win32Registry.cpp)
target_compile_definitions(kivsvc_host PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_libraries(kivsvc_host PUBLIC kivsvc_core kivsvc_idl ole32 oleaut32 advapi32 uuid)
kiv_warnings(kivsvc_host)

# The resources (string 100, TYPELIB 1) for any executable that hosts the class.
set(KIVSVC_RC ${CMAKE_CURRENT_SOURCE_DIR}/win32/kivsvc.rc CACHE INTERNAL "")
set(KIVSVC_IDL_DIR ${kiv_idl_out} CACHE INTERNAL "")

add_executable(kivsvc WIN32 win32/Main.cpp ${KIVSVC_RC})
kiv_com_sources(kivsvc win32/Main.cpp)
set_source_files_properties(${KIVSVC_RC} PROPERTIES OBJECT_DEPENDS ${kiv_idl_out}/kivsvc.tlb)
target_include_directories(kivsvc PRIVATE ${kiv_idl_out})
target_link_libraries(kivsvc PRIVATE kivsvc_host)
target_link_options(kivsvc PRIVATE -static -municode)
kiv_warnings(kivsvc)

if(KIVDS_BUILD_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/tests/wine/kivsvc/CMakeLists.txt)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/wine/kivsvc ${CMAKE_CURRENT_BINARY_DIR}/wine-tests)
endif()
