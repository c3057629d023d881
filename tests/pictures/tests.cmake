# Image XObjects and the pixel path; pages are written with the page writer's
# test support.
tav_test(pictures DEPS tv_pictures tv_pagewriter tv_colour tv_pdfwriter tv_settings tv_kernel tv_platform)
if(TARGET test_pictures)
  target_sources(test_pictures PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/pagewriter/pdfproof_support.cpp)
  target_include_directories(test_pictures PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/pagewriter)
  if(TARGET tavpdf_cli)
    add_dependencies(test_pictures tavpdf_cli)
  endif()
endif()
