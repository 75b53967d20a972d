// What the process writes to its standard output and error (file
// descriptors 1 and 2) while an object of CapturedStreams lives: both are
// redirected into temporary files, and release() puts them back and returns
// what was written.  Nothing of the test itself may print in between (a
// failed EXPECT does, and then shows up in the captured text).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

namespace fmitest {

class CapturedStreams {
public:
  CapturedStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int k = 0; k < 2; ++k) {
      files_[k] = std::tmpfile();
      saved_[k] = dup(k + 1);
      if (files_[k] != nullptr && saved_[k] >= 0) dup2(fileno(files_[k]), k + 1);
    }
  }
  ~CapturedStreams() { (void)release(); }
  CapturedStreams(const CapturedStreams &) = delete;
  CapturedStreams &operator=(const CapturedStreams &) = delete;

  // Puts fds 1 and 2 back; the text written to each meanwhile, "fd 1: ..."
  // and "fd 2: ..." lines, empty when nothing was written.  Later calls give
  // "".
  std::string release() {
    if (released_) return {};
    released_ = true;
    std::fflush(stdout);
    std::fflush(stderr);
    std::string text;
    for (int k = 0; k < 2; ++k) {
      if (saved_[k] >= 0) {
        dup2(saved_[k], k + 1);
        close(saved_[k]);
      }
      if (files_[k] == nullptr) {
        text += "fd " + std::to_string(k + 1) + ": not captured\n";
        continue;
      }
      std::rewind(files_[k]);
      std::string written;
      char buffer[4096];
      for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, files_[k])) > 0;) {
        written.append(buffer, n);
      }
      std::fclose(files_[k]);
      if (!written.empty()) text += "fd " + std::to_string(k + 1) + ": " + written + "\n";
    }
    return text;
  }

private:
  std::FILE *files_[2] = {nullptr, nullptr};
  int saved_[2] = {-1, -1};
  bool released_ = false;
};

} // namespace fmitest
