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
