# Tests of the host side.
#   host_tests      the test-support library and the host program's archive and
#                   model-description reading (no unit needed)
#   host_unit_tests the built unit as a host sees it: the exports and run-time
#                   needs of vornwin3264.so, the .fmu archive and its model
#                   description, and fmuhost running it
unit_test(host_tests
  SOURCES ${PROJECT_SOURCE_DIR}/tests/host/support_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/archive_test.cpp
  LIBS unit_test_support unit::fmuhost)
