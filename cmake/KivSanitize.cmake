if(KIVDS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(KIVDS_BUILD_FUZZ)
  # Coverage instrumentation for every library the fuzz targets link.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_definitions(KIVDS_FUZZ_BUILD=1)
  add_link_options(-fsanitize=address,undefined)
endif()
