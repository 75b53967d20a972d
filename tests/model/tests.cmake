# The generated model and its instance data, driven through dsblockInstance_.
# The driver (in the runtime) and the model call each other, so the two
# archives are searched as a group.
file(GLOB model_test_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/model/*.cpp)
unit_test(model_tests
  SOURCES ${model_test_srcs}
  LIBS "$<LINK_GROUP:RESCAN,unit_model,unit_runtime>")
