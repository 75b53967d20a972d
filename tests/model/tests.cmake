# The generated model and its instance data, driven through dsblockInstance_.
file(GLOB model_test_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/model/*.cpp)
unit_test(model_tests SOURCES ${model_test_srcs} LIBS unit::driver unit::model unit::runtime)
