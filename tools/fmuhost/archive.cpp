#include "tools/fmuhost/archive.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <zip.h>

#include "tools/fmuhost/output.h"

namespace fmuhost {

namespace fs = std::filesystem;

bool isSafeEntryName(const std::string &name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos) return false;
  std::size_t begin = 0;
  while (begin <= name.size()) {
    std::size_t end = name.find('/', begin);
    if (end == std::string::npos) end = name.size();
    if (name.compare(begin, end - begin, "..") == 0 && end - begin == 2) return false;
    begin = end + 1;
  }
  return true;
}

namespace {

// ---- Folders to remove on a signal --------------------------------------------
// The folders of the archives unpacked right now.  The lock is held while a
// folder is made and filled, while it is removed, and by the signal thread
// from the moment it starts removing until the process ends, so that no
// folder is half made or made again behind its back.  Both objects are never
// destroyed: the signal thread may use them while the process exits.
std::mutex &foldersLock() {
  static std::mutex *lock = new std::mutex;
  return *lock;
}
std::vector<std::string> &liveFolders() {
  static std::vector<std::string> *folders = new std::vector<std::string>;
  return *folders;
}

struct ZipCloser {
  void operator()(zip_t *z) const { zip_discard(z); }
};
struct ZipFileCloser {
  void operator()(zip_file_t *f) const { zip_fclose(f); }
};

void extractAll(const std::string &fmuPath, const fs::path &root) {
  int error = 0;
  std::unique_ptr<zip_t, ZipCloser> archive(zip_open(fmuPath.c_str(), ZIP_RDONLY, &error));
  if (!archive) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, error);
    std::string why = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    throw std::runtime_error(fmuPath + ": cannot open the archive: " + why);
  }
  zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0 ||
        !(st.valid & ZIP_STAT_NAME))
      throw std::runtime_error(fmuPath + ": cannot read entry " + std::to_string(i));
    std::string name = st.name;
    if (!isSafeEntryName(name))
      throw std::runtime_error(fmuPath + ": refusing entry \"" + name +
                               "\" (absolute or outside the archive folder)");
    fs::path target = root / name;
    const std::string cannotWrite = fmuPath + ": " + name +
                                    ": cannot write it into the temporary folder under " +
                                    root.parent_path().string();
    std::error_code ec;
    if (name.back() == '/') {
      fs::create_directories(target, ec);
      if (ec) throw std::runtime_error(cannotWrite + ": " + ec.message());
      continue;
    }
    fs::create_directories(target.parent_path(), ec);
    if (ec) throw std::runtime_error(cannotWrite + ": " + ec.message());
    std::unique_ptr<zip_file_t, ZipFileCloser> in(
        zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0));
    if (!in) throw std::runtime_error(fmuPath + ": cannot read entry \"" + name + "\"");
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error(cannotWrite);
    std::vector<char> buffer(1 << 16);
    zip_int64_t n;
    while ((n = zip_fread(in.get(), buffer.data(), buffer.size())) > 0)
      out.write(buffer.data(), static_cast<std::streamsize>(n));
    if (n < 0) throw std::runtime_error(fmuPath + ": cannot read entry \"" + name + "\"");
    out.close();
    if (!out) throw std::runtime_error(cannotWrite);
  }
}

} // namespace

ExtractedArchive::ExtractedArchive(const std::string &fmuPath) : name_(fmuPath) {
  // An absolute folder: the resource location is a file URI, which a
  // relative path would turn into a host name.  The folder is made in
  // TMPDIR as the user gave it, else in /tmp; a failure names it.
  const char *tmpdir = std::getenv("TMPDIR");
  const bool fromEnvironment = tmpdir && *tmpdir;
  const std::string given = fromEnvironment ? tmpdir : "/tmp";
  const std::string where = fromEnvironment ? "TMPDIR=" + given : given;
  std::error_code ec;
  fs::path base = fs::absolute(given, ec);
  if (ec) throw std::runtime_error(where + ": cannot make the path absolute: " + ec.message());
  std::string pattern = (base / "fmuhost.XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  std::lock_guard<std::mutex> hold(foldersLock());
  if (!mkdtemp(buffer.data())) {
    const int error = errno;
    throw std::runtime_error(where + ": cannot create the temporary folder " + pattern + ": " +
                             std::strerror(error));
  }
  root_ = buffer.data();
  liveFolders().push_back(root_.string());
  try {
    extractAll(fmuPath, root_);
  } catch (...) {
    fs::remove_all(root_, ec);
    liveFolders().pop_back();
    throw;
  }
}

ExtractedArchive::~ExtractedArchive() {
  std::lock_guard<std::mutex> hold(foldersLock());
  std::error_code ignored;
  fs::remove_all(root_, ignored);
  std::vector<std::string> &folders = liveFolders();
  folders.erase(std::remove(folders.begin(), folders.end(), root_.string()), folders.end());
}

std::string ExtractedArchive::resourceLocation() const {
  std::string path = (root_ / "resources").string();
  std::string uri = "file://";
  static const char hex[] = "0123456789ABCDEF";
  for (unsigned char c : path) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '/' || c == '.' || c == '_' || c == '~' || c == '-';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    }
  }
  return uri;
}

std::string ExtractedArchive::inArchiveTerms(std::string text) const {
  const std::string folder = root_.string() + "/";
  for (std::size_t at; (at = text.find(folder)) != std::string::npos;)
    text.erase(at, folder.size());
  return text;
}

namespace {
// SIGPIPE's disposition before removeExtractedFoldersOnSignals ignored it:
// -1 not yet recorded, 1 it ended the process, 0 the parent had it ignored.
int brokenPipeWasFatal = -1;
} // namespace

bool brokenPipeEndsTheProcess() {
  if (brokenPipeWasFatal >= 0) return brokenPipeWasFatal == 1;
  struct sigaction current;
  return sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler != SIG_IGN;
}

void endByBrokenPipe() {
  if (!brokenPipeEndsTheProcess()) return;
  std::signal(SIGPIPE, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(SIGPIPE);
}

void removeExtractedFoldersOnSignals() {
  // A write to a pipe whose reader has gone fails with EPIPE instead of
  // ending the process in the middle of the run with the folder left behind.
  brokenPipeWasFatal = brokenPipeEndsTheProcess() ? 1 : 0;
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t signals;
  sigemptyset(&signals);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current;
    // A signal the parent set to be ignored (SIGINT of a background job)
    // stays ignored.
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
      sigaddset(&signals, sig);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals] {
    int sig = 0;
    if (sigwait(&signals, &sig) != 0) return;
    foldersLock().lock(); // kept until the process ends
    std::error_code ignored;
    for (const std::string &folder : liveFolders()) fs::remove_all(folder, ignored);
    // The output ends with a whole line: no write is cut off by the end.
    holdOutputUntilExit();
    // End by the signal itself: default action, unblocked in this thread.
    std::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(sig);
    std::_Exit(128 + sig);
  }).detach();
}

} // namespace fmuhost
