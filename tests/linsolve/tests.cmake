# The dense linear solver, linked with the runtime (and through it with the
# same static LAPACK and BLAS archives as the unit), the runtime tests'
# capturing message hook, and a C translation unit that calls the solver as
# generated C model code does.
unit_test(linsolve_tests
  SOURCES ${PROJECT_SOURCE_DIR}/tests/linsolve/linsolve_test.cpp
          ${PROJECT_SOURCE_DIR}/tests/linsolve/c_caller.c
          ${PROJECT_SOURCE_DIR}/tests/runtime/support.cpp
  LIBS ${UTF_LIBS})
