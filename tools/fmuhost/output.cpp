#include "tools/fmuhost/output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <utility>

namespace fmuhost {

namespace {

constexpr std::size_t blockSize = 64 * 1024;

// Held while a block is written and flushed, and by the signal thread from
// the moment it ends the process.  Never destroyed: the signal thread may
// hold it while the process exits.
std::timed_mutex &outputLock() {
  static std::timed_mutex *lock = new std::timed_mutex;
  return *lock;
}

} // namespace

OutputError::OutputError(const std::string &name, int errorNumber)
    : std::runtime_error("cannot write to " + name + ": " + std::strerror(errorNumber)),
      error(errorNumber) {}

LineOutput::LineOutput(FILE *out, std::string name)
    : out_(out), name_(std::move(name)), eachLine_(fileno(out) >= 0 && isatty(fileno(out))) {
  struct stat st;
  pipe_ = !eachLine_ && fileno(out) >= 0 && fstat(fileno(out), &st) == 0 && S_ISFIFO(st.st_mode);
  pending_.reserve(blockSize + 256);
}

void LineOutput::line(std::string_view text) {
  pending_.append(text);
  pending_ += '\n';
  if (eachLine_ || pending_.size() >= blockSize) flush();
}

void LineOutput::flush() {
  std::lock_guard<std::timed_mutex> hold(outputLock());
  errno = 0;
  const bool written =
      pipe_ ? writeToPipe()
            : std::fwrite(pending_.data(), 1, pending_.size(), out_) == pending_.size() &&
                  std::fflush(out_) == 0;
  const int error = errno;
  pending_.clear();
  if (!written || std::ferror(out_)) throw OutputError(name_, error ? error : EIO);
}

bool LineOutput::writeToPipe() {
  if (std::fflush(out_) != 0) return false;
  const int fd = fileno(out_);
  const std::size_t size = pending_.size();
  std::size_t at = 0;
  while (at < size) {
    // Whole lines of at most PIPE_BUF bytes together, or one longer line.
    std::size_t end = at;
    while (end < size) {
      const std::size_t lineBreak = pending_.find('\n', end);
      const std::size_t next = lineBreak == std::string::npos ? size : lineBreak + 1;
      if (next - at > PIPE_BUF && end > at) break;
      end = next;
    }
    while (at < end) {
      const ssize_t n = ::write(fd, pending_.data() + at, end - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      at += static_cast<std::size_t>(n);
    }
  }
  return true;
}

void holdOutputUntilExit() {
  // Kept (when taken) until the process ends.
  (void)outputLock().try_lock_for(std::chrono::seconds(1));
}

} // namespace fmuhost
