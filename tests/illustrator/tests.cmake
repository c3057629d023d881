tav_test(illustrator DEPS tv_illustrator tv_driver tv_pdfwriter tv_pagewriter tv_colour tv_settings tv_kernel
         tv_platform)
# The jobs are built with the walker tests' job builder, or as job files with
# the driver tests' helpers (the plates are compared with a PDF export).
if(TARGET test_illustrator)
  target_sources(test_illustrator PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/pagewriter/walker_support.cpp
                 ${CMAKE_CURRENT_SOURCE_DIR}/driver/driver_support.cpp)
  if(TARGET tavpdf_cli)
    add_dependencies(test_illustrator tavpdf_cli)
  endif()
endif()
