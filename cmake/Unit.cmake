include(${PROJECT_SOURCE_DIR}/tests/threads.cmake)

# unit_discover_tests(<program> [TEST_PREFIX <prefix>] [SET <VAR=value>])
#   Registers the tests of a GoogleTest program with CTest test by test (their
#   names prefixed), each run with UNIT_BINARY_DIR and the variable SET names
#   in its environment.  The tests that tests/threads.cmake names for the
#   program carry the label "threads".  (gtest_discover_tests hands each
#   element of a property's value on as an argument of its own, so each
#   property here takes one value: the variable goes by
#   ENVIRONMENT_MODIFICATION, not as a second element of ENVIRONMENT.)
function(unit_discover_tests program)
  cmake_parse_arguments(D "" "TEST_PREFIX;SET" "" ${ARGN})
  set(properties ENVIRONMENT "UNIT_BINARY_DIR=${PROJECT_BINARY_DIR}")
  if(D_SET MATCHES "^([^=]+)=(.*)$")
    list(APPEND properties ENVIRONMENT_MODIFICATION "${CMAKE_MATCH_1}=set:${CMAKE_MATCH_2}")
  endif()
  set(common DISCOVERY_MODE PRE_TEST TEST_PREFIX "${D_TEST_PREFIX}"
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(NOT DEFINED unit_thread_tests_${program})
    gtest_discover_tests(${program} ${common} PROPERTIES ${properties})
    return()
  endif()
  list(JOIN unit_thread_tests_${program} ":" threads)
  gtest_discover_tests(${program} ${common} TEST_FILTER "${threads}"
    PROPERTIES ${properties} LABELS threads)
  gtest_discover_tests(${program} ${common} TEST_FILTER "-${threads}" PROPERTIES ${properties})
endfunction()

# unit_test(<name> SOURCES <files...> LIBS <targets...>)
#   One GoogleTest executable of a subsystem, registered with CTest test by
#   test (unit_discover_tests).  Declared right after the library it tests.
function(unit_test name)
  if(NOT UNIT_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  unit_discover_tests(${name})
endfunction()

# unit_library(<name> [SOURCES <files...>] [DIRS <subdirs...>] [LIBS <targets...>])
#   The static library of one subsystem: the named SOURCES, or else every .cpp
#   of the current folder (and of the named sub-folders), with the project
#   root on the include path so that headers are included as
#   "source/matrixop.h" and the like.  An alias unit::<name> is created.
function(unit_library name)
  cmake_parse_arguments(L "" "" "SOURCES;DIRS;LIBS" ${ARGN})
  if(L_SOURCES)
    set(srcs ${L_SOURCES})
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  foreach(d ${L_DIRS})
    file(GLOB more CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${d}/*.cpp)
    list(APPEND srcs ${more})
  endforeach()
  if(srcs)
    add_library(unit_${name} STATIC ${srcs})
    target_include_directories(unit_${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(unit_${name} PUBLIC ${L_LIBS})
  else()
    add_library(unit_${name} INTERFACE)
    target_include_directories(unit_${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(unit_${name} INTERFACE ${L_LIBS})
  endif()
  add_library(unit::${name} ALIAS unit_${name})
endfunction()

# unit_test_glob(<name> <folder under tests/> LIBS <targets...>)
#   unit_test over every .cpp of tests/<folder>; nothing while it has none.
function(unit_test_glob name folder)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(srcs)
    unit_test(${name} SOURCES ${srcs} LIBS ${T_LIBS})
  endif()
endfunction()

# unit_tests_from(<folder> [LIBS <targets...>])
#   The tests of tests/<folder>: its own tests.cmake when it has one (for
#   suites that need fakes, helper libraries or data), else one GoogleTest
#   executable <folder>_tests over its .cpp files linked with LIBS.
macro(unit_tests_from folder)
  cmake_parse_arguments(UTF "" "" "LIBS" ${ARGN})
  if(UNIT_BUILD_TESTS)
    if(EXISTS ${PROJECT_SOURCE_DIR}/tests/${folder}/tests.cmake)
      include(${PROJECT_SOURCE_DIR}/tests/${folder}/tests.cmake)
    else()
      unit_test_glob(${folder}_tests ${folder} LIBS ${UTF_LIBS})
    endif()
  endif()
endmacro()

# unit_fuzz(<name> SOURCES <files...> [LIBS <targets...>] [DICT <file>])
#   A libFuzzer target <name> (only with UNIT_BUILD_FUZZ, which needs clang).
#   The same sources compiled with -DUNIT_FUZZ_SEEDS give <name>_seeds, a
#   program that writes a seed corpus into the folder named by its argument.
#   scripts/fuzz.sh runs every target registered here for a fixed time.
function(unit_fuzz name)
  if(NOT UNIT_BUILD_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "DICT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_executable(${name}_seeds ${F_SOURCES})
  target_link_libraries(${name}_seeds PRIVATE ${F_LIBS})
  target_include_directories(${name}_seeds PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name}_seeds PRIVATE UNIT_FUZZ_SEEDS)
  set_target_properties(${name} ${name}_seeds PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz-bin)
  add_dependencies(unit_fuzz_all ${name} ${name}_seeds)
  # One line per target: its name and its dictionary (may be empty).
  file(APPEND ${PROJECT_BINARY_DIR}/fuzz_targets.txt "${name} ${F_DICT}\n")
endfunction()
