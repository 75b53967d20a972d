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
          ${PROJECT_SOURCE_DIR}/tests/host/unload_test.cpp
  LIBS unit_test_support unit::fmuhost)
if(TARGET host_unit_tests)
  target_compile_definitions(host_unit_tests PRIVATE
    UNIT_SO_PATH="$<TARGET_FILE:vornwin3264>"
    UNIT_FMU_PATH="${PROJECT_BINARY_DIR}/vornwin3264.fmu"
    FMUHOST_PATH="$<TARGET_FILE:fmuhost>"
    UNIT_SANITIZED=$<BOOL:${UNIT_SANITIZE}>)
  add_dependencies(host_unit_tests vornwin3264 vornwin3264_fmu fmuhost)
endif()

# A small Model Exchange unit with state, time and step events and a model
# that ends the simulation, packed as fake_unit.fmu, for fmuhost's event handling.
add_library(host_fake_unit MODULE ${PROJECT_SOURCE_DIR}/tests/host/fake_unit/fake_unit.cpp)
set_target_properties(host_fake_unit PROPERTIES PREFIX "" OUTPUT_NAME fake_unit)
target_include_directories(host_fake_unit PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(host_fake_unit PRIVATE FMI2_BUILDING_UNIT)
set(host_fake_stage ${CMAKE_CURRENT_BINARY_DIR}/fake_unit)
set(host_fake_fmu ${CMAKE_CURRENT_BINARY_DIR}/fake_unit.fmu)
add_custom_command(
  OUTPUT ${host_fake_fmu}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${host_fake_stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${host_fake_stage}/binaries/linux64
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/tests/host/fake_unit/modelDescription.xml
          ${host_fake_stage}/modelDescription.xml
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:host_fake_unit> ${host_fake_stage}/binaries/linux64/
  COMMAND ${CMAKE_COMMAND} -E rm -f ${host_fake_fmu}
  COMMAND ${CMAKE_COMMAND} -E chdir ${host_fake_stage}
          ${CMAKE_COMMAND} -E tar cf ${host_fake_fmu} --format=zip modelDescription.xml binaries
  DEPENDS host_fake_unit ${PROJECT_SOURCE_DIR}/tests/host/fake_unit/modelDescription.xml
  VERBATIM)
add_custom_target(host_fake_fmu DEPENDS ${host_fake_fmu})
if(TARGET host_unit_tests)
  target_compile_definitions(host_unit_tests PRIVATE FAKE_FMU_PATH="${host_fake_fmu}")
  add_dependencies(host_unit_tests host_fake_fmu)
endif()
