# The external functions.  Every test runs in a temporary folder of its own;
# the whole suite runs twice: as it is, and with the process under a locale
# with a decimal comma (the "comma." tests; the locale is compiled into a
# temporary folder, see comma_locale.cpp).
file(GLOB modelica_test_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/modelica/*.cpp)
unit_test(modelica_tests
  SOURCES ${modelica_test_srcs} ${PROJECT_SOURCE_DIR}/tests/runtime/support.cpp
  LIBS unit::modelica)
if(TARGET modelica_tests)
  unit_discover_tests(modelica_tests TEST_PREFIX "comma." SET UNIT_TEST_COMMA_LOCALE=1)
endif()
