# Picture maps: the picture cache, the images of cached pictures, the
# thumbnail and previews, whole exports of jobs with maps.
tav_test(maps DEPS tv_driver tv_pictures tv_pdfwriter tv_pagewriter tv_colour tv_settings tv_fonts tv_kernel tv_platform qpdf::libqpdf)
if(TARGET test_maps)
  target_sources(test_maps PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/driver/driver_support.cpp
                                   ${CMAKE_CURRENT_SOURCE_DIR}/pagewriter/pdfproof_support.cpp)
  target_include_directories(test_maps PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/driver ${CMAKE_CURRENT_SOURCE_DIR}/pagewriter)
  if(TARGET tavpdf_cli)
    add_dependencies(test_maps tavpdf_cli)
  endif()
endif()
