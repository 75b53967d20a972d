# The matrix-file tests: one executable over tests/matfile/*.cpp.  The SciPy
# interoperability tests run scipy_check.py with Debian's python3, where
# python3-scipy installs (scripts/setup.sh).
find_program(UNIT_SCIPY_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT UNIT_SCIPY_PYTHON)
  find_program(UNIT_SCIPY_PYTHON python3 REQUIRED)
endif()
unit_test_glob(matfile_tests matfile LIBS unit::matfile)
target_compile_definitions(matfile_tests PRIVATE
  MATFILE_PYTHON="${UNIT_SCIPY_PYTHON}"
  MATFILE_SCIPY_SCRIPT="${PROJECT_SOURCE_DIR}/tests/matfile/scipy_check.py")
