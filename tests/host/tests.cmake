# Tests of the host side: the test-support library, the exports of the shared
# library, the .fmu archive and the host program.
unit_test(host_tests
  SOURCES ${PROJECT_SOURCE_DIR}/tests/host/support_test.cpp
  LIBS unit_test_support)
