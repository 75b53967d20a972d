# Time and sample events, the fixed-step event approach and the small model
# operators.  A small sampled test model stands in for the generated model,
# so that the driver evaluates instances that use sample events; the
# instance-data record and its accessors are real.
file(GLOB events_test_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/events/*.cpp)
unit_test(events_tests
  SOURCES
    ${events_test_srcs}
  LIBS unit::driver unit::model_data unit::runtime)
