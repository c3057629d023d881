# The JDF export: tickets, marks grouping and placed objects, the folder
# output, and the per-object files composed again by their ticket.
tav_test(jdf DEPS tv_jdf tv_driver tv_pdfwriter tv_pagewriter tv_colour tv_settings tv_kernel tv_platform
  qpdf::libqpdf)
# The jobs are built with the driver tests' job builder.
if(TARGET test_jdf)
  target_sources(test_jdf PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/driver/driver_support.cpp)
  target_include_directories(test_jdf PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/driver)
  if(TARGET tavpdf_cli)
    add_dependencies(test_jdf tavpdf_cli)
  endif()
endif()
