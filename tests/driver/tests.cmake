# The driver runs against a scripted fake of the equation function instead of
# the generated model; the instance-data record and its accessors are real.
unit_test(driver_tests
  SOURCES
    ${PROJECT_SOURCE_DIR}/tests/driver/fake_model.cpp
    ${PROJECT_SOURCE_DIR}/tests/driver/driver_test.cpp
  LIBS unit::driver unit::model_data unit::runtime)
