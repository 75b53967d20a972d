// The trajectory's output: whole lines only, and every failed write known.
//
// A run may end at any moment: by a failed write, by a call of the unit, or
// by a signal whose thread removes the unpacked archive and ends the process
// (archive.h).  So the lines are collected and handed to the stream in
// blocks of whole lines, each written and flushed while the output lock is
// held; the signal thread takes that lock before it ends the process, so the
// output never ends inside a line.  A pipe takes a write of at most PIPE_BUF
// bytes whole or not at all, so a block goes to a pipe in writes of whole
// lines of that size: a write that waits for a reader who does not read
// (and is not waited for, see holdOutputUntilExit) leaves no line cut in the
// pipe either.  A line longer than PIPE_BUF goes out alone, and only such a
// line can be cut there.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fmuhost {

// A write to the output that failed: `error` is the errno value (EPIPE when
// the reader of a pipe has gone, SIGPIPE being ignored, see archive.h).
struct OutputError : std::runtime_error {
  OutputError(const std::string &name, int errorNumber);
  int error;
};

class LineOutput {
public:
  // `name` names the stream in messages ("stdout").  A terminal gets every
  // line as it comes; anything else blocks of about 64 KiB.
  LineOutput(FILE *out, std::string name);
  LineOutput(const LineOutput &) = delete;
  LineOutput &operator=(const LineOutput &) = delete;

  // `text` and a line break.  Throws OutputError when a write fails.
  void line(std::string_view text);
  // Every line so far to the stream, flushed.  Throws OutputError.
  void flush();

private:
  // pending_ to the pipe out_ is, in writes of whole lines; false with errno
  // set when one fails.
  bool writeToPipe();

  FILE *out_;
  std::string name_, pending_;
  bool eachLine_, pipe_;
};

// For the thread that ends the process on a signal: waits until the write
// under way, if any, is done (at most a second: a write blocked on a pipe
// whose reader does not read is not waited for) and keeps any other from
// starting until the process ends.
void holdOutputUntilExit();

} // namespace fmuhost
