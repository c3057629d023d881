# The export driver: job analysis, ink checks, size estimation, flattening
# set-up, whole exports checked by real PDF consumers, and the export command.
tav_test(driver DEPS tv_driver tv_pdfwriter tv_pagewriter tv_colour tv_settings tv_kernel tv_platform)
if(TARGET test_driver AND TARGET tavpdf_cli)
  add_dependencies(test_driver tavpdf_cli)
endif()
