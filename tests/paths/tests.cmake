# Module path, resources folder and library loader.  Small modules are built
# for the tests, which copy them into an FMU tree <tmp>/unit/binaries/linux64/:
# probes that carry the module-path code (and the runtime) as the unit's
# library would, and external function libraries.
if(UNIT_BUILD_TESTS)
  add_library(paths_probe MODULE
    ${PROJECT_SOURCE_DIR}/tests/paths/lib/probe_module.cpp
    ${PROJECT_SOURCE_DIR}/source/dsblock5/modulepath.cpp
    ${PROJECT_SOURCE_DIR}/platform/module.cpp
    ${PROJECT_SOURCE_DIR}/platform/module_scope.cpp)
  target_include_directories(paths_probe PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(paths_probe PRIVATE ${CMAKE_DL_LIBS})

  add_library(paths_ext MODULE ${PROJECT_SOURCE_DIR}/tests/paths/lib/ext_library.cpp)

  # The utility functions seen from a model's external C library: a probe
  # that exports them as the unit does (it carries the runtime and the whole
  # external-function library), and a C library that calls them and leaves
  # them undefined.
  add_library(paths_utility_probe MODULE
    ${PROJECT_SOURCE_DIR}/tests/paths/lib/utility_probe.cpp)
  target_include_directories(paths_utility_probe PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(paths_utility_probe PRIVATE
    "$<LINK_LIBRARY:WHOLE_ARCHIVE,unit::modelica>" unit::runtime unit::platform ${CMAKE_DL_LIBS})
  target_link_options(paths_utility_probe PRIVATE -Wl,--no-undefined)
  add_library(paths_utility_ext MODULE ${PROJECT_SOURCE_DIR}/tests/paths/lib/utility_ext.c)

  unit_test(paths_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/paths/modulepath_test.cpp
            ${PROJECT_SOURCE_DIR}/tests/paths/loader_test.cpp
            ${PROJECT_SOURCE_DIR}/tests/paths/utility_names_test.cpp
    LIBS unit::runtime unit::platform ${CMAKE_DL_LIBS})
  add_dependencies(paths_tests paths_probe paths_ext paths_utility_probe paths_utility_ext)
  target_compile_definitions(paths_tests PRIVATE
    PATHS_PROBE_MODULE="$<TARGET_FILE:paths_probe>"
    PATHS_EXT_LIBRARY="$<TARGET_FILE:paths_ext>"
    PATHS_UTILITY_PROBE="$<TARGET_FILE:paths_utility_probe>"
    PATHS_UTILITY_EXT="$<TARGET_FILE:paths_utility_ext>")
endif()
