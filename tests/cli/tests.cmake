# Tests of the command-line program: they run the built tavpdf.
tav_test(cli DEPS tv_platform tv_kernel)
if(TARGET test_cli AND TARGET tavpdf_cli)
  add_dependencies(test_cli tavpdf_cli)
endif()
