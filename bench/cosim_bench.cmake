# Co-Simulation benchmark: drives the built vornwin3264.so through dlopen.
if(benchmark_FOUND)
  add_executable(cosim_bench ${CMAKE_CURRENT_SOURCE_DIR}/cosim_bench.cpp)
  target_include_directories(cosim_bench PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(cosim_bench PRIVATE benchmark::benchmark ${CMAKE_DL_LIBS})
  target_compile_definitions(cosim_bench PRIVATE UNIT_SO_PATH="$<TARGET_FILE:vornwin3264>")
  add_dependencies(cosim_bench vornwin3264)
endif()
