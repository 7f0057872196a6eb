# GoogleTest: Debian's packaged build natively; for the cross build, compiled
# from the sources Debian ships in /usr/src/googletest.
if(CMAKE_CROSSCOMPILING)
  set(KIV_GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KIV_GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()

# kiv_test(NAME sources... LIBS libs...): one GoogleTest executable, registered
# with ctest as one test (the Wine runner runs the same executables). Its main
# (tests/support/TestMain.cpp) ends a test case that hangs, naming it.
function(kiv_test name)
  cmake_parse_arguments(KT "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TARGET kivtest_main)
    add_library(kivtest_main STATIC ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
    target_link_libraries(kivtest_main PUBLIC GTest::gtest)
    kiv_warnings(kivtest_main)
  endif()
  add_executable(${name} ${KT_SOURCES})
  target_link_libraries(${name} PRIVATE ${KT_LIBS} kivtest_main GTest::gtest)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  kiv_warnings(${name})
  if(CMAKE_CROSSCOMPILING)
    target_link_options(${name} PRIVATE -static)
    set_property(GLOBAL APPEND PROPERTY KIV_WINE_TESTS ${name})
  else()
    add_test(NAME ${name} COMMAND ${name})
    # The virtual camera unless a test names its own backend (the default on
    # Linux is the real one, V4L2).
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "KIVDS_CAMERA=sim")
  endif()
endfunction()
