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

unit_test(host_unit_tests
  SOURCES ${PROJECT_SOURCE_DIR}/tests/host/exports_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/fmu_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/fmuhost_test.cpp
  LIBS unit_test_support unit::fmuhost)
if(TARGET host_unit_tests)
  target_compile_definitions(host_unit_tests PRIVATE
    UNIT_SO_PATH="$<TARGET_FILE:vornwin3264>"
    UNIT_FMU_PATH="${PROJECT_BINARY_DIR}/vornwin3264.fmu"
    FMUHOST_PATH="$<TARGET_FILE:fmuhost>"
    UNIT_SANITIZED=$<BOOL:${UNIT_SANITIZE}>)
  add_dependencies(host_unit_tests vornwin3264 vornwin3264_fmu fmuhost)
endif()
