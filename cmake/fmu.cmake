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
