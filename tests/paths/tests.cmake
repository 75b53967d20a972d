# Module path, resources folder and library loader.  Two small modules are
# built for the tests, which copy them into an FMU tree
# <tmp>/unit/binaries/linux64/: a probe that carries the module-path code
# as the unit's library would, and an external function library.
if(UNIT_BUILD_TESTS)
  add_library(paths_probe MODULE
    ${PROJECT_SOURCE_DIR}/tests/paths/lib/probe_module.cpp
    ${PROJECT_SOURCE_DIR}/source/dsblock5/modulepath.cpp
    ${PROJECT_SOURCE_DIR}/platform/module.cpp)
  target_include_directories(paths_probe PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(paths_probe PRIVATE ${CMAKE_DL_LIBS})

  add_library(paths_ext MODULE ${PROJECT_SOURCE_DIR}/tests/paths/lib/ext_library.cpp)

  unit_test(paths_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/paths/modulepath_test.cpp
            ${PROJECT_SOURCE_DIR}/tests/paths/loader_test.cpp
    LIBS unit::runtime unit::platform ${CMAKE_DL_LIBS})
  add_dependencies(paths_tests paths_probe paths_ext)
  target_compile_definitions(paths_tests PRIVATE
    PATHS_PROBE_MODULE="$<TARGET_FILE:paths_probe>"
    PATHS_EXT_LIBRARY="$<TARGET_FILE:paths_ext>")
endif()
