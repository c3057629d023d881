# The Makefile behind the quick start: configuring a build folder works in any
# order and again. Configuring is the same in every build, so it runs once.
if(NOT TAV_SANITIZE)
  add_test(NAME scripts.make_configure
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/make_configure_test.sh ${PROJECT_SOURCE_DIR})
endif()
