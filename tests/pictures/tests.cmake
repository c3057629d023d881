# Fonts and text in written documents; the document tests' helpers write them.
tav_test(pictures DEPS tv_pictures tv_pdfwriter tv_pagewriter tv_colour tv_settings tv_fonts tv_kernel tv_platform qpdf::libqpdf)
if(TARGET test_pictures)
  target_sources(test_pictures PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/document/document_support.cpp)
endif()
