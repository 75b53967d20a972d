// Running the fmuhost program as a user does, for its tests: the command line
// in, the exit status, stdout and stderr out; the CSV it prints read back as
// RFC 4180 defines it; archives of the tests' own making.
#pragma once

#include <gtest/gtest.h>
#include <zip.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fmuhost_test {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A folder of this test process, removed with the object.
struct ScratchFolder {
  fs::path path;
  explicit ScratchFolder(const std::string &use = "files")
      : path(fs::temp_directory_path() /
             ("fmuhost_test." + std::to_string(::getpid()) + "." + use)) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~ScratchFolder() { fs::remove_all(path); }
};

struct Result {
  int exitStatus = -1; // -1 when ended by a signal
  std::string out, err;
};

// `command` run by the shell, its stdout and stderr captured; a command that
// hangs is ended after two minutes (exit status 124), so that a hang fails the
// test instead of stalling it.  `environment` ("NAME=value ...") is put before
// it.
inline Result runCaptured(const std::string &command, const std::string &environment = "") {
  ScratchFolder dir("run");
  const std::string line = environment + " timeout 120 " + command + " > " +
                           (dir.path / "out").string() + " 2> " + (dir.path / "err").string();
  Result r;
  int rc = std::system(line.c_str());
  r.exitStatus = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = slurp(dir.path / "out");
  r.err = slurp(dir.path / "err");
  return r;
}

// fmuhost with `arguments` (shell words), in the environment `environment`.
inline Result runFmuhost(const std::string &arguments, const std::string &environment = "") {
  return runCaptured(std::string(FMUHOST_PATH) + " " + arguments, environment);
}

// fmuhost started with the argument list `words` (after the program) and
// TMPDIR=`tmp` in an otherwise inherited environment, `actions` giving it its
// standard streams; its process id, or 0 when it could not be started.
inline pid_t spawnFmuhost(std::vector<std::string> words, const fs::path &tmp,
                          const posix_spawn_file_actions_t &actions) {
  words.insert(words.begin(), FMUHOST_PATH);
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"TMPDIR=" + tmp.string()};
  for (char **e = environ; *e; ++e)
    if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.emplace_back(*e);
  std::vector<char *> envp;
  for (std::string &e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) return 0;
  return pid;
}

// The CSV as RFC 4180 reads it: fields split at commas outside quotes, a
// quoted field's doubled quotes as one.
struct Csv {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  int column(const std::string &name) const {
    for (std::size_t i = 0; i < header.size(); ++i)
      if (header[i] == name) return static_cast<int>(i);
    return -1;
  }
  // The field of column `name` in row `row` ("" when there is none).
  std::string cell(std::size_t row, const std::string &name) const {
    int c = column(name);
    EXPECT_GE(c, 0) << name;
    if (c < 0 || row >= rows.size() || static_cast<std::size_t>(c) >= rows[row].size()) return "";
    return rows[row][static_cast<std::size_t>(c)];
  }
  double number(std::size_t row, const std::string &name) const {
    return std::strtod(cell(row, name).c_str(), nullptr);
  }
};

inline std::vector<std::string> csvRecord(const std::string &line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  EXPECT_FALSE(quoted) << "unterminated quote in " << line;
  return fields;
}

inline Csv parseCsv(const std::string &text) {
  Csv t;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line)) return t;
  t.header = csvRecord(line);
  while (std::getline(in, line)) {
    t.rows.push_back(csvRecord(line));
    EXPECT_EQ(t.rows.back().size(), t.header.size()) << line;
  }
  return t;
}

// A zip archive at `path` with the given entries (name, content).
inline void writeArchive(const fs::path &path,
                         const std::vector<std::pair<std::string, std::string>> &entries) {
  int error = 0;
  zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(z, nullptr) << error;
  for (const auto &[name, content] : entries) {
    zip_source_t *src = zip_source_buffer(z, content.data(), content.size(), 0);
    ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE), 0) << name;
  }
  ASSERT_EQ(zip_close(z), 0);
}

// `text` with every `from` replaced by `to`.
inline std::string replaced(std::string text, const std::string &from, const std::string &to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

inline std::size_t occurrences(const std::string &text, const std::string &what) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

} // namespace fmuhost_test
