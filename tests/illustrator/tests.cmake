tav_test(illustrator DEPS tv_illustrator tv_pagewriter tv_kernel tv_platform)
# The jobs are built with the walker tests' job builder.
if(TARGET test_illustrator)
  target_sources(test_illustrator PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/pagewriter/walker_support.cpp)
endif()
