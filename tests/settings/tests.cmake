tav_test(settings DEPS tv_settings tv_platform)
# The command-line cases run the built program.
if(TARGET test_settings AND TARGET tavpdf_cli)
  add_dependencies(test_settings tavpdf_cli)
endif()
