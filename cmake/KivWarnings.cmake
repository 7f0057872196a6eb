# Warnings for every target of the project (not for third-party code built in-tree).
# KIV_WERROR=ON (scripts/test-all.sh, so CI) makes them errors.
option(KIV_WERROR "Treat the project's warnings as errors" OFF)

function(kiv_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor)
    if(KIV_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

# kiv_com_sources(target files...): sources of target that declare or
# implement COM interfaces, or include headers that do.
# A COM object is freed by its own Release, never deleted through an interface
# pointer, and the system's interfaces (IUnknown and all below it) have no
# virtual destructor by design, so these files do without -Wnon-virtual-dtor.
function(kiv_com_sources target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set_property(SOURCE ${ARGN} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS -Wno-non-virtual-dtor)
  endif()
endfunction()
