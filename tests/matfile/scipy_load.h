#pragma once
// A matrix file as SciPy loads it (scipy.io.loadmat through scipy_check.py
// "dump"), for tests outside the matrix-file executable.  The including test
// target defines MATFILE_PYTHON and MATFILE_SCIPY_SCRIPT.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace scipyload {

// One matrix: its kind (dtype name or "text"), shape and cells row after row
// (numbers as float.hex or decimal integers, text rows as hex bytes).
struct SciMatrix {
  std::string kind;
  int rows = -1, cols = -1;
  std::vector<std::string> cells;
  double number(std::size_t k) const { return std::strtod(cells.at(k).c_str(), nullptr); }
  // Text row k up to its first NUL.
  std::string text(std::size_t k) const {
    const std::string &hex = cells.at(k);
    std::string out;
    for (std::size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2) {
      const char c = static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
      if (c == '\0') break;
      out += c;
    }
    return out;
  }
};

// Runs the script in the given mode on file; its output and exit status.
inline std::string runScript(const std::string &mode, const std::string &file, int *status) {
  const std::string command = std::string("'") + MATFILE_PYTHON + "' '" + MATFILE_SCIPY_SCRIPT +
                              "' " + mode + " '" + file + "' 2>&1";
  std::FILE *pipe = ::popen(command.c_str(), "r");
  std::string out;
  if (pipe == nullptr) {
    *status = -1;
    return out;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = ::pclose(pipe);
  return out;
}

// The matrices of file by name, and their names in file order.
struct SciFile {
  std::map<std::string, SciMatrix> matrices;
  std::vector<std::string> order;
};

inline SciFile scipyLoad(const std::string &file) {
  int status = 0;
  const std::string out = runScript("dump", file, &status);
  EXPECT_EQ(status, 0) << out;
  SciFile result;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    std::string name;
    SciMatrix m;
    cells >> name >> m.kind >> m.rows >> m.cols;
    for (std::string c; cells >> c;) m.cells.push_back(c);
    result.order.push_back(name);
    result.matrices[name] = m;
  }
  return result;
}

} // namespace scipyload
