# The array library's tests, in three executables:
#   arrays_tests         tests/arrays/*.cpp against the capturing message hook
#                        of the runtime tests; heap calls are counted through
#                        a replaced operator new and the malloc family wrapped
#                        at link time (heap_count.h).
#   arrays_c_tests       tests/arrays/c/: C11 code (-fexceptions) calling the C
#                        names, variadic forms included, from the scripted fake
#                        model under dsblockInstance_, so that a model error
#                        unwinds through C frames to the driver.
#   arrays_native_tests  tests/arrays/native/: the library built again with
#                        -march=native; Real reductions and products compared
#                        bit for bit with plain loops.
file(GLOB arrays_test_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/arrays/*.cpp)
unit_test(arrays_tests
  SOURCES ${arrays_test_srcs} ${PROJECT_SOURCE_DIR}/tests/runtime/support.cpp
  LIBS unit::arrays)
target_link_options(arrays_tests PRIVATE
  LINKER:--wrap=malloc,--wrap=calloc,--wrap=realloc,--wrap=aligned_alloc,--wrap=posix_memalign)

file(GLOB arrays_c_test_srcs CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/tests/arrays/c/*.c ${PROJECT_SOURCE_DIR}/tests/arrays/c/*.cpp)
unit_test(arrays_c_tests
  SOURCES ${arrays_c_test_srcs}
    ${PROJECT_SOURCE_DIR}/tests/driver/fake_model.cpp
  LIBS unit::arrays unit::driver unit::model_data)
set_target_properties(arrays_c_tests PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON
  C_EXTENSIONS OFF)
target_compile_options(arrays_c_tests PRIVATE $<$<COMPILE_LANGUAGE:C>:-fexceptions -Wpedantic>)

get_target_property(arrays_lib_srcs unit_arrays SOURCES)
add_library(unit_arrays_native STATIC ${arrays_lib_srcs})
target_include_directories(unit_arrays_native PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(unit_arrays_native PUBLIC unit::runtime)
target_compile_options(unit_arrays_native PRIVATE -march=native -ffp-contract=off -fno-fast-math)
file(GLOB arrays_native_test_srcs CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/tests/arrays/native/*.cpp)
unit_test(arrays_native_tests
  SOURCES ${arrays_native_test_srcs} ${PROJECT_SOURCE_DIR}/tests/arrays/support.cpp
    ${PROJECT_SOURCE_DIR}/tests/runtime/support.cpp
  LIBS unit_arrays_native)
target_compile_options(arrays_native_tests PRIVATE -march=native)
