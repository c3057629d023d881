tav_test(support_selftest DEPS tv_platform)
if(TARGET test_support_selftest AND TARGET tavpdf_cli)
  add_dependencies(test_support_selftest tavpdf_cli)
endif()
