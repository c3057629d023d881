# The separations renderer and what draws with it: planes against
# Ghostscript's plates of the same export, the page previews, thumbnails,
# ink coverage and the standard preview.
tav_test(preview DEPS tv_driver tv_pdfwriter tv_pagewriter tv_colour tv_settings tv_kernel tv_platform)
if(TARGET test_preview)
  target_sources(test_preview PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/driver/driver_support.cpp)
  target_include_directories(test_preview PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/driver)
  target_link_libraries(test_preview PRIVATE PNG::PNG)
  if(TARGET tavpdf_cli)
    add_dependencies(test_preview tavpdf_cli)
  endif()
endif()
