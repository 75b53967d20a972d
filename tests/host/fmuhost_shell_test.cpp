// fmuhost and the project's scripts under the mistakes people make at a
// shell: a pipe closed early, an output that cannot be written, a TMPDIR
// that cannot be used, a signal in the middle of a run, a mode the archive
// does not declare, run.sh started from another folder, and the scripts'
// own options.
#include "tests/host/fmuhost_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using namespace fmuhost_test;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

const std::string projectSource = PROJECT_SOURCE_PATH;

// `script` run by bash with stdout and stderr captured, the environment
// `environment` ("NAME=value ..." put before bash); a hang is ended after two
// minutes (exit status 124).
Result runShell(const std::string &script, const std::string &environment = "") {
  ScratchFolder dir("shell");
  const fs::path file = dir.path / "script.sh";
  std::ofstream(file) << script << "\n";
  return runCaptured("bash " + file.string(), environment);
}

// The environment that names fmuhost, the vessel's archive and an empty
// TMPDIR of the test's own to a script.
std::string hostEnvironment(const fs::path &tmp) {
  return std::string("FMUHOST=") + FMUHOST_PATH + " FMU=" + UNIT_FMU_PATH +
         " TMPDIR=" + tmp.string();
}

// A run long enough to fill any pipe buffer: 100001 rows.
const char longRun[] = "--stop 1000 --interval 0.01 --input 1";

// A reader that takes the header and goes: the run ends as a command-line
// tool ends on a broken pipe, by SIGPIPE and without a word (unless its
// parent ignores SIGPIPE: then a failed write like any other), and the
// unpacked archive is gone first.
TEST(FmuhostShell, PipeClosedEarlyLeavesNothingBehind) {
  struct Case {
    const char *prelude;
    int exitStatus;
    const char *err;
  } cases[] = {
      {"", 128 + SIGPIPE, ""},
      {"trap '' PIPE", 1, "fmuhost: cannot write to stdout: Broken pipe\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.prelude);
    ScratchFolder tmp("tmp");
    Result r = runShell(std::string(c.prelude) + "\n\"$FMUHOST\" " + longRun +
                            " \"$FMU\" | head -1\nexit \"${PIPESTATUS[0]}\"",
                        hostEnvironment(tmp.path));
    EXPECT_EQ(r.exitStatus, c.exitStatus) << r.out;
    EXPECT_EQ(r.out, "time,level,outflow\n");
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(fs::is_empty(tmp.path));
  }
}

// A write to stdout that fails, at once or after many rows, ends the run
// with a message that names stdout and the reason, and exit status 1; the
// unpacked archive is gone.
TEST(FmuhostShell, FailedWriteToStdoutIsAFailure) {
  struct Case {
    const char *arguments, *redirection, *reason;
  } cases[] = {
      {"\"$FMU\"", ">&-", "Bad file descriptor"},
      {"\"$FMU\"", "> /dev/full", "No space left on device"},
      {"--mode me \"$FMU\"", "> /dev/full", "No space left on device"},
      {"--interval 0.01 --input 1 --stop 1000 \"$FMU\"", "> /dev/full", "No space left on device"},
      {"--help", ">&-", "Bad file descriptor"},
      {"--help", "> /dev/full", "No space left on device"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.arguments) + " " + c.redirection);
    ScratchFolder tmp("tmp");
    Result r = runShell(std::string("\"$FMUHOST\" ") + c.arguments + " " + c.redirection,
                        hostEnvironment(tmp.path));
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, std::string("fmuhost: cannot write to stdout: ") + c.reason + "\n");
    EXPECT_TRUE(fs::is_empty(tmp.path));
  }
}

// A TMPDIR in which no folder can be made is named with its value and the
// system's reason.
TEST(FmuhostShell, TmpdirThatCannotBeUsedIsNamed) {
  ScratchFolder dir;
  const fs::path file = dir.path / "a-file";
  std::ofstream(file) << "not a folder\n";
  struct Case {
    std::string tmpdir;
    const char *reason; // nullptr: whatever the system says
  } cases[] = {
      {"/nonexistent", "No such file or directory"},
      {file.string(), "Not a directory"},
      {"/proc", nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.tmpdir);
    Result r = runFmuhost(UNIT_FMU_PATH, "TMPDIR=" + c.tmpdir);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    const std::string head = "fmuhost: TMPDIR=" + c.tmpdir +
                             ": cannot create the temporary folder " + c.tmpdir +
                             "/fmuhost.XXXXXX: ";
    EXPECT_THAT(r.err, StartsWith(head));
    if (c.reason) {
      EXPECT_EQ(r.err, head + c.reason + "\n");
    } else {
      EXPECT_GT(r.err.size(), head.size() + 2) << r.err;
    }
  }
}

// fmuhost started on a long run of the vessel, with TMPDIR=`tmp` and
// `actions` giving it its stdout; its process id.
pid_t spawnLongRun(const fs::path &tmp, const posix_spawn_file_actions_t &actions) {
  const pid_t pid = spawnFmuhost(
      {"--stop", "9000", "--step", "0.001", "--interval", "0.001", "--input", "1", UNIT_FMU_PATH},
      tmp, actions);
  EXPECT_NE(pid, 0);
  return pid;
}

// SIGINT, SIGTERM or SIGHUP while rows pour out into a file, or into a pipe
// whose reader does not read until the process has ended (the last write
// waits for it when the signal comes): the process ends by the signal, the
// unpacked archive is removed, and the output holds whole rows only, the
// last one ending with its line break.
TEST(FmuhostShell, SignalMidRunLeavesOnlyWholeRows) {
  struct Case {
    int sig;
    bool pipe;
  } cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGTERM, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.sig)) + (c.pipe ? " (pipe)" : " (file)"));
    ScratchFolder dir("signal");
    const fs::path tmp = dir.path / "tmp", out = dir.path / "out.csv";
    fs::create_directories(tmp);
    int ends[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (c.pipe) {
      ASSERT_EQ(::pipe(ends), 0);
      posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
      posix_spawn_file_actions_addclose(&actions, ends[0]);
      posix_spawn_file_actions_addclose(&actions, ends[1]);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    }
    const pid_t pid = spawnLongRun(tmp, actions);
    posix_spawn_file_actions_destroy(&actions);
    if (c.pipe) ::close(ends[1]);
    ASSERT_GT(pid, 0);

    // Rows are being written: the file has grown and grows on, or the pipe
    // has filled up.
    auto written = [&]() -> std::size_t {
      int n = 0;
      if (c.pipe) return ::ioctl(ends[0], FIONREAD, &n) == 0 ? static_cast<std::size_t>(n) : 0;
      return fs::file_size(out);
    };
    for (int i = 0; i < 3000 && written() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(c.pipe ? 300 : 100));
    ASSERT_EQ(::kill(pid, c.sig), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), c.sig);
    EXPECT_TRUE(fs::is_empty(tmp));

    std::string text;
    if (c.pipe) {
      char buffer[65536];
      for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
      ::close(ends[0]);
    } else {
      text = slurp(out);
    }
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << text.substr(text.size() > 80 ? text.size() - 80 : 0);
    Csv t = parseCsv(text); // every row has the header's fields
    ASSERT_EQ(t.header, (std::vector<std::string>{"time", "level", "outflow"}));
    ASSERT_GT(t.rows.size(), 1u);
    const std::vector<std::string> &last = t.rows.back();
    ASSERT_EQ(last.size(), 3u);
    EXPECT_NEAR(std::strtod(last[0].c_str(), nullptr),
                0.001 * static_cast<double>(t.rows.size() - 1), 1e-6);
    EXPECT_NE(last[2].find('.'), std::string::npos) << last[2]; // not cut after its digits
  }
}

// The entry `name` of the zip archive `path`.
std::string zipEntry(const std::string &path, const char *name) {
  int error = 0;
  zip_t *z = zip_open(path.c_str(), ZIP_RDONLY, &error);
  EXPECT_NE(z, nullptr);
  if (!z) return "";
  std::string text;
  zip_stat_t st;
  zip_file_t *f = nullptr;
  if (zip_stat(z, name, 0, &st) == 0 && (f = zip_fopen(z, name, 0))) {
    text.resize(st.size);
    EXPECT_EQ(zip_fread(f, text.data(), st.size), static_cast<zip_int64_t>(st.size));
    zip_fclose(f);
  }
  zip_discard(z);
  return text;
}

// A mode the archive does not declare is an option that does not fit the
// model: exit status 2, as for the other misfits, and no unit is loaded.
TEST(FmuhostShell, ModeTheArchiveDoesNotDeclareIsAMisfitOfTheOptions) {
  ScratchFolder dir;
  std::string description = zipEntry(UNIT_FMU_PATH, "modelDescription.xml");
  const std::size_t begin = description.find("<ModelExchange");
  ASSERT_NE(begin, std::string::npos);
  description.erase(begin, description.find("/>", begin) + 2 - begin);
  const fs::path csOnly = dir.path / "cs-only.fmu";
  writeArchive(csOnly, {{"modelDescription.xml", description},
                        {"binaries/linux64/vornwin3264.so", slurp(UNIT_SO_PATH)}});
  struct Case {
    std::string arguments;
    const char *message;
  } cases[] = {
      {"--mode me " + csOnly.string(), ": the unit does not declare Model Exchange\n"},
      {"--mode cs " + std::string(FAKE_UNIT_FMU_PATH),
       ": the unit does not declare Co-Simulation\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.arguments);
    Result r = runFmuhost(c.arguments);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_EQ(r.out, "");
  }
  // The archive itself runs in the mode it declares.
  Result r = runFmuhost("--mode cs --stop 1 " + csOnly.string());
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(parseCsv(r.out).rows.size(), 101u);
}

// run.sh in a copy of the project's layout whose build is done: fmuhost and
// the vessel's archive in build/, a set-up that finds nothing missing and a
// cmake that has nothing to build, so that only the script's own work is
// tested.  It is started from a folder of its own, with archives named
// relative to that folder.
TEST(FmuhostShell, RunScriptReadsPathsFromTheFolderItIsStartedIn) {
  ScratchFolder dir("project");
  const fs::path repo = dir.path / "repo", bin = dir.path / "bin", models = dir.path / "models",
                 tmp = dir.path / "tmp";
  for (const fs::path &p : {repo / "scripts", repo / "build" / "tools", bin, models, tmp})
    fs::create_directories(p);
  fs::copy_file(projectSource + "/scripts/run.sh", repo / "scripts" / "run.sh");
  std::ofstream(repo / "scripts" / "setup.sh") << "exit 0\n";
  std::ofstream(repo / "build" / "CMakeCache.txt") << "";
  fs::create_symlink(FMUHOST_PATH, repo / "build" / "tools" / "fmuhost");
  fs::copy_file(UNIT_FMU_PATH, repo / "build" / "vornwin3264.fmu");
  std::ofstream(bin / "cmake") << "#!/bin/sh\nexit 0\n";
  fs::permissions(bin / "cmake", fs::perms::owner_all);
  fs::copy_file(BALL_UNIT_FMU_PATH, models / "mine.fmu");

  const std::string defaults = "--mode cs --stop 10 --step 0.01 --interval 0.5 ";
  const Result ball = runFmuhost(defaults + "--mode me --stop 1 " + BALL_UNIT_FMU_PATH);
  const Result vessel = runFmuhost(defaults + "--stop 1 " + UNIT_FMU_PATH);
  ASSERT_EQ(ball.exitStatus, 0) << ball.err;
  ASSERT_EQ(vessel.exitStatus, 0) << vessel.err;
  struct Case {
    const char *arguments;
    int exitStatus;
    std::string out;
    const char *err; // on the last line of stderr
  } cases[] = {
      {"mine.fmu --mode me --stop 1", 0, ball.out, "building"},
      {"--mode me ./mine.fmu --stop 1", 0, ball.out, "building"},
      {"--mode me --stop 1 ../models/mine.fmu", 0, ball.out, "building"},
      {"--stop 1", 0, vessel.out, "building"}, // the vessel's archive of the project's build
      {"--stop 1 > /dev/full", 1, "", "fmuhost: cannot write to stdout: No space left on device"},
      {"--mode me mine.fmu > /dev/full", 1, "",
       "fmuhost: cannot write to stdout: No space left on device"},
      {"--stop 1000 --interval 0.01 --input 1 | head -1", 128 + SIGPIPE, "time,level,outflow\n",
       "building"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.arguments);
    Result r =
        runShell("cd \"$MODELS\" && PATH=\"$BIN:$PATH\" bash ../repo/scripts/run.sh " +
                     std::string(c.arguments) + "\nexit \"${PIPESTATUS[0]}\"",
                 "MODELS=" + models.string() + " BIN=" + bin.string() + " TMPDIR=" + tmp.string());
    EXPECT_EQ(r.exitStatus, c.exitStatus) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_THAT(r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1), HasSubstr(c.err)) << r.err;
    EXPECT_TRUE(fs::is_empty(tmp));
  }
  EXPECT_TRUE(fs::exists(repo / "build" / "run.log"));
  EXPECT_FALSE(fs::exists(models / "build"));
}

// The options of every script the README names: --help says what the script
// does and exits 0; an unknown option, or one without its value, is refused
// with its name and exit status 2.  Neither builds nor installs anything: a
// cmake, ctest or apt-get that is called leaves a mark.
TEST(FmuhostShell, ScriptsAnswerHelpAndRefuseUnknownOptionsWithoutBuilding) {
  ScratchFolder dir("scripts");
  const fs::path bin = dir.path / "bin", mark = dir.path / "called";
  fs::create_directories(bin);
  for (const char *tool : {"cmake", "ctest", "apt-get", "sudo", "valgrind", "clang-format-14"}) {
    std::ofstream(bin / tool) << "#!/bin/sh\necho \"$0 $*\" >> \"" << mark.string()
                              << "\"\nexit 97\n";
    fs::permissions(bin / tool, fs::perms::owner_all);
  }
  struct Case {
    const char *command;
    int exitStatus;
    const char *text; // the start of stdout (exit status 0) or the first line of stderr
  } cases[] = {
      {"bash scripts/run.sh --help", 0, "usage: bash scripts/run.sh"},
      {"bash scripts/run.sh --foo", 2, "run.sh: unknown option --foo\n"},
      {"bash scripts/run.sh --stop 1 --step", 2, "run.sh: --step needs a value\n"},
      {"bash scripts/test.sh --help", 0, "usage: bash scripts/test.sh"},
      {"bash scripts/test.sh --foo", 2, "test.sh: unknown option --foo\n"},
      {"bash scripts/test.sh --tsan -R", 2, "test.sh: -R needs a value"},
      {"bash scripts/bench.sh --help", 0, "usage: bash scripts/bench.sh"},
      {"bash scripts/bench.sh --foo", 2, "bench.sh: unknown option --foo\n"},
      {"bash scripts/bench.sh cosim", 2, "bench.sh: takes no arguments, not cosim\n"},
      {"bash scripts/bench-callgrind.sh --help", 0, "usage: bash scripts/bench-callgrind.sh"},
      {"bash scripts/bench-callgrind.sh --foo", 2, "bench-callgrind.sh: unknown option --foo\n"},
      {"bash scripts/fuzz.sh --help", 0, "usage: bash scripts/fuzz.sh"},
      {"bash scripts/fuzz.sh 10 --foo", 2, "fuzz.sh: unknown option --foo\n"},
      {"bash scripts/fuzz.sh ten", 2, "fuzz.sh: SECONDS is a whole number, not \"ten\"\n"},
      {"bash scripts/format.sh --help", 0, "usage: bash scripts/format.sh"},
      {"bash scripts/format.sh --foo", 2, "format.sh: unknown option --foo\n"},
      {"bash scripts/setup.sh --help", 0, "usage: bash scripts/setup.sh"},
      {"bash scripts/setup.sh --foo", 2, "setup.sh: unknown option --foo\n"},
      {"python3 scripts/check-source.py --help", 0, "usage: scripts/check-source.py"},
      {"python3 scripts/check-source.py --foo", 2, "usage: scripts/check-source.py"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.command);
    Result r = runShell(std::string("cd \"$SOURCE\" && PATH=\"$BIN:$PATH\" ") + c.command,
                        "SOURCE=" + projectSource + " BIN=" + bin.string());
    EXPECT_EQ(r.exitStatus, c.exitStatus) << r.err;
    if (c.exitStatus == 0) {
      EXPECT_THAT(r.out, StartsWith(c.text));
      EXPECT_GT(occurrences(r.out, "\n"), 5u) << r.out;
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_THAT(r.err, StartsWith(c.text));
      const std::string command = c.command;
      EXPECT_THAT(r.err, HasSubstr(command.substr(command.rfind(' ') + 1))); // the word at fault
      EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(mark)) << slurp(mark);
    fs::remove(mark);
  }
}

} // namespace
