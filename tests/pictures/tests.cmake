# Image XObjects, the pixel path, fonts and text: pages are written with the
# page writer's and the document tests' support.
tav_test(pictures DEPS tv_pictures tv_pagewriter tv_colour tv_pdfwriter tv_settings tv_fonts tv_kernel tv_platform qpdf::libqpdf)
if(TARGET test_pictures)
  target_sources(test_pictures PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/pagewriter/pdfproof_support.cpp
                                       ${CMAKE_CURRENT_SOURCE_DIR}/document/document_support.cpp)
  target_include_directories(test_pictures PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/pagewriter)
  if(TARGET tavpdf_cli)
    add_dependencies(test_pictures tavpdf_cli)
  endif()
endif()
