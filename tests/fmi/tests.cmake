# fmi_tests: end-to-end tests that load the built vornwin3264.so with dlopen
# and drive it as a host does (every .cpp here except unit_*.cpp and cs_unit_*.cpp).
# fmi_unit_tests: the layer's internals that no fmi2 call shows (unit_*.cpp, cs_unit_*.cpp),
# linked with the layer itself.
file(GLOB fmi_all_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/fmi/*.cpp)
set(fmi_e2e_srcs)

# vornwin3264_injected: a test build of the unit, the same joined object as
# the unit with the vessel's equations behind one piece of injected model
# code (tests/fmi/injected/), which a test selects with injectModelCode.
# The objects given here define every name of the model's equations, so no
# member of the model library is linked in.
add_library(vornwin3264_injected SHARED ${vornwin3264_parts}
  ${PROJECT_SOURCE_DIR}/tests/fmi/injected/injected_model.cpp
  ${PROJECT_SOURCE_DIR}/tests/fmi/injected/vessel_equations.cpp)
set_target_properties(vornwin3264_injected PROPERTIES PREFIX "" LINKER_LANGUAGE CXX
  CXX_VISIBILITY_PRESET hidden)
target_include_directories(vornwin3264_injected PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(vornwin3264_injected PRIVATE unit::fmi)
target_link_options(vornwin3264_injected PRIVATE
  -Wl,--version-script=${PROJECT_SOURCE_DIR}/tests/fmi/injected/exports.map
  -Wl,--no-undefined -static-libstdc++ -static-libgcc
  -Wl,--exclude-libs,liblapack_pic.a:libblas.a)
set(fmi_unit_srcs)
foreach(src ${fmi_all_srcs})
  get_filename_component(src_name ${src} NAME)
  if(src_name MATCHES "^unit_" OR src_name MATCHES "^cs_unit_")
    list(APPEND fmi_unit_srcs ${src})
  else()
    list(APPEND fmi_e2e_srcs ${src})
  endif()
endforeach()
if(fmi_e2e_srcs)
  unit_test(fmi_tests SOURCES ${fmi_e2e_srcs} LIBS unit_test_support ${CMAKE_DL_LIBS})
  target_compile_definitions(fmi_tests PRIVATE UNIT_SO_PATH="$<TARGET_FILE:vornwin3264>"
    INJECTED_UNIT_SO_PATH="$<TARGET_FILE:vornwin3264_injected>")
  add_dependencies(fmi_tests vornwin3264 vornwin3264_injected)
endif()
if(fmi_unit_srcs)
  unit_test(fmi_unit_tests SOURCES ${fmi_unit_srcs} LIBS unit::fmi unit_test_support)
  target_compile_definitions(fmi_unit_tests PRIVATE MATFILE_PYTHON="${UNIT_SCIPY_PYTHON}"
    MATFILE_SCIPY_SCRIPT="${PROJECT_SOURCE_DIR}/tests/matfile/scipy_check.py")
endif()
