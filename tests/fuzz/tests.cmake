# Fuzz targets: tests/fuzz/<name>_fuzz.cpp defines LLVMFuzzerTestOneInput and
# names the targets it links in a first-line comment "// deps: tv_a tv_b".
# In the fuzz build (-DTAV_FUZZ=ON, clang) each becomes a libFuzzer program
# fuzz_<name>, and ctest runs each for TAV_FUZZ_SECONDS from its seed corpus
# (what it finds goes to the build folder, never into the sources).
# Otherwise each is built with a replay driver that runs its seed corpus
# tests/fuzz/corpus/<name>/ plus generated mutations, as a test.
set(TAV_FUZZ_SECONDS 5 CACHE STRING "Seconds each fuzz target runs under ctest in the fuzz build")
file(GLOB TAV_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*_fuzz.cpp)
foreach(src IN LISTS TAV_FUZZ_SOURCES)
  get_filename_component(stem ${src} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" name ${stem})
  file(STRINGS ${src} first LIMIT_COUNT 1)
  string(REGEX REPLACE "^// deps: *" "" deps "${first}")
  separate_arguments(deps)
  set(seeds ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
  if(TAV_FUZZ)
    add_executable(fuzz_${name} ${src})
    target_compile_options(fuzz_${name} PRIVATE ${TAV_WARNINGS})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_${name} PRIVATE ${deps})
    set(found ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus/${name})
    file(MAKE_DIRECTORY ${found})
    add_test(NAME fuzz.${name}
      COMMAND fuzz_${name} -max_total_time=${TAV_FUZZ_SECONDS} -timeout=60 -rss_limit_mb=4096
              -print_final_stats=1 ${found} ${seeds})
  else()
    add_executable(fuzzreplay_${name} ${src} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_compile_options(fuzzreplay_${name} PRIVATE ${TAV_WARNINGS})
    target_link_libraries(fuzzreplay_${name} PRIVATE ${deps})
    add_test(NAME fuzzreplay.${name} COMMAND fuzzreplay_${name} ${seeds})
  endif()
endforeach()
