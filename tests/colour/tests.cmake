tav_test(colour DEPS tv_colour tv_pagewriter tv_pdfwriter tv_settings tv_kernel tv_platform)
# The rendering checks write their pages with the page writer's test support.
if(TARGET test_colour)
  target_sources(test_colour PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/pagewriter/pdfproof_support.cpp)
  target_include_directories(test_colour PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/pagewriter)
endif()
