# Fuzz targets: tests/fuzz/<name>_fuzz.cpp defines LLVMFuzzerTestOneInput and
# names its module dependencies in a first-line comment "// deps: tv_a tv_b".
# With -DTAV_FUZZ=ON under clang each becomes a libFuzzer program
# (fuzz_<name>); otherwise each is built with a replay driver that runs its
# seed corpus tests/fuzz/corpus/<name>/ plus generated mutations, as a test.
option(TAV_FUZZ "Build libFuzzer programs (clang only)" OFF)
file(GLOB TAV_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*_fuzz.cpp)
foreach(src IN LISTS TAV_FUZZ_SOURCES)
  get_filename_component(stem ${src} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" name ${stem})
  file(STRINGS ${src} first LIMIT_COUNT 1)
  string(REGEX REPLACE "^// deps: *" "" deps "${first}")
  separate_arguments(deps)
  if(TAV_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(fuzz_${name} ${src})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_${name} PRIVATE ${deps})
  else()
    add_executable(fuzzreplay_${name} ${src} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_compile_options(fuzzreplay_${name} PRIVATE ${TAV_WARNINGS})
    target_link_libraries(fuzzreplay_${name} PRIVATE ${deps})
    add_test(NAME fuzzreplay.${name}
      COMMAND fuzzreplay_${name} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
  endif()
endforeach()
