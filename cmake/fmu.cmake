# Host side of the unit: the test-support library that end-to-end tests use to
# drive the shared library through dlopen, and the .fmu archive.
# Included at the end of the top-level CMakeLists.txt, after every target.

# ---- unit_test_support -------------------------------------------------------
# tests/support/fmi_host.*: dlopen + the 44 fmi2 functions, a recording
# logger, a counting allocator with failure injection.
if(UNIT_BUILD_TESTS)
  add_library(unit_test_support STATIC ${PROJECT_SOURCE_DIR}/tests/support/fmi_host.cpp)
  target_include_directories(unit_test_support PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(unit_test_support PUBLIC ${CMAKE_DL_LIBS} Threads::Threads)
  add_library(unit::test_support ALIAS unit_test_support)
endif()

# ---- vornwin3264.fmu -----------------------------------------------------------
# The archive a host loads: modelDescription.xml, binaries/linux64/<id>.so and
# an empty resources/ folder.  The model description takes the GUID from the
# FMI layer's header, so the two cannot drift apart.
set(UNIT_MODEL_GUID "{5a3e9b7c-2f41-4d8e-9c06-7b1d2e4f8a93}")
set(unit_guid_header ${PROJECT_SOURCE_DIR}/model/model_data.h)
if(EXISTS ${unit_guid_header})
  file(STRINGS ${unit_guid_header} unit_guid_line REGEX "#define[ \t]+FMI_MODEL_GUID")
  if(unit_guid_line MATCHES "\"({[0-9a-f-]+})\"")
    set(UNIT_MODEL_GUID "${CMAKE_MATCH_1}")
  else()
    message(FATAL_ERROR "model/model_data.h: no FMI_MODEL_GUID \"{...}\" found")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${unit_guid_header})
endif()

set(UNIT_FMU_STAGE ${PROJECT_BINARY_DIR}/fmu/vornwin3264)
set(UNIT_FMU ${PROJECT_BINARY_DIR}/vornwin3264.fmu)
set(UNIT_MODEL_DESCRIPTION ${PROJECT_BINARY_DIR}/fmu/modelDescription.xml)
configure_file(${PROJECT_SOURCE_DIR}/fmi/modelDescription.xml.in ${UNIT_MODEL_DESCRIPTION} @ONLY)

add_custom_command(
  OUTPUT ${UNIT_FMU}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${UNIT_FMU_STAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${UNIT_FMU_STAGE}/binaries/linux64
          ${UNIT_FMU_STAGE}/resources
  COMMAND ${CMAKE_COMMAND} -E copy ${UNIT_MODEL_DESCRIPTION} ${UNIT_FMU_STAGE}/modelDescription.xml
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vornwin3264>
          ${UNIT_FMU_STAGE}/binaries/linux64/vornwin3264.so
  COMMAND ${CMAKE_COMMAND} -E rm -f ${UNIT_FMU}
  COMMAND ${CMAKE_COMMAND} -E chdir ${UNIT_FMU_STAGE}
          ${CMAKE_COMMAND} -E tar cf ${UNIT_FMU} --format=zip
          modelDescription.xml binaries resources
  DEPENDS vornwin3264 ${UNIT_MODEL_DESCRIPTION}
  COMMENT "Packing vornwin3264.fmu"
  VERBATIM)
add_custom_target(vornwin3264_fmu ALL DEPENDS ${UNIT_FMU})
