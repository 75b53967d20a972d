# Tests of the host side.
#   host_tests      the test-support library, the host program's archive and
#                   model-description reading and its message log (no unit needed)
#   host_unit_tests the built unit as a host sees it: the exports and run-time
#                   needs of vornwin3264.so, the .fmu archive and its model
#                   description, and fmuhost running it
unit_test(host_tests
  SOURCES ${PROJECT_SOURCE_DIR}/tests/host/support_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/archive_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/messages_test.cpp
  LIBS unit_test_support unit::fmuhost)

unit_test(host_unit_tests
  SOURCES ${PROJECT_SOURCE_DIR}/tests/host/exports_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/fmu_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/fmuhost_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/fmuhost_events_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/fmuhost_shell_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/fmuhost_probe_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/host/unload_test.cpp
  LIBS unit_test_support unit::fmuhost)
if(TARGET host_unit_tests)
  target_compile_definitions(host_unit_tests PRIVATE
    UNIT_SO_PATH="$<TARGET_FILE:vornwin3264>"
    UNIT_FMU_PATH="${PROJECT_BINARY_DIR}/vornwin3264.fmu"
    FMUHOST_PATH="$<TARGET_FILE:fmuhost>"
    PROJECT_SOURCE_PATH="${PROJECT_SOURCE_DIR}"
    UNIT_SANITIZED=$<BOOL:${UNIT_SANITIZE}>)
  add_dependencies(host_unit_tests vornwin3264 vornwin3264_fmu fmuhost)
endif()

# host_test_fmu(<name> <source> <modelIdentifier>)
#   A small Model Exchange unit of the tests, built from one source file as
#   <modelIdentifier>.so and packed with tests/host/<name>/modelDescription.xml
#   as <name>.fmu in this build folder; host_unit_tests get its path as
#   <NAME>_FMU_PATH, the library's path as <NAME>_SO_PATH and the description's
#   as <NAME>_DESCRIPTION.
function(host_test_fmu name source id)
  set(dir ${PROJECT_SOURCE_DIR}/tests/host/${name})
  add_library(host_${name} MODULE ${dir}/${source})
  set_target_properties(host_${name} PROPERTIES PREFIX "" OUTPUT_NAME ${id})
  target_include_directories(host_${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(host_${name} PRIVATE FMI2_BUILDING_UNIT)
  if(source MATCHES "\\.c$")
    target_link_libraries(host_${name} PRIVATE m)
  endif()
  set(stage ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(fmu ${CMAKE_CURRENT_BINARY_DIR}/${name}.fmu)
  add_custom_command(
    OUTPUT ${fmu}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/binaries/linux64
    COMMAND ${CMAKE_COMMAND} -E copy ${dir}/modelDescription.xml ${stage}/modelDescription.xml
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:host_${name}> ${stage}/binaries/linux64/
    COMMAND ${CMAKE_COMMAND} -E rm -f ${fmu}
    COMMAND ${CMAKE_COMMAND} -E chdir ${stage}
            ${CMAKE_COMMAND} -E tar cf ${fmu} --format=zip modelDescription.xml binaries
    DEPENDS host_${name} ${dir}/modelDescription.xml
    VERBATIM)
  add_custom_target(host_${name}_fmu DEPENDS ${fmu})
  if(TARGET host_unit_tests)
    string(TOUPPER ${name} upper)
    target_compile_definitions(host_unit_tests PRIVATE ${upper}_FMU_PATH="${fmu}"
      ${upper}_SO_PATH="$<TARGET_FILE:host_${name}>"
      ${upper}_DESCRIPTION="${dir}/modelDescription.xml")
    add_dependencies(host_unit_tests host_${name}_fmu)
  endif()
endfunction()

# A unit with state, time and step events and a model that ends the
# simulation (fake_unit.fmu), and a falling ball with state events, time
# events of several passes, a discrete input and a closed-form trajectory
# (ball_unit.fmu, written in C), for fmuhost's event handling.
host_test_fmu(fake_unit fake_unit.cpp fake_unit)
host_test_fmu(ball_unit ball.c ball_unit)

# A unit of both kinds with one probe per run (probe_unit.fmu): a value that
# changes on every row, chattering state events, an event just before an
# output point, a long message, a step size it counts bit for bit, names with
# a comma and an '='.
host_test_fmu(probe_unit probe_unit.cpp probe_unit)
