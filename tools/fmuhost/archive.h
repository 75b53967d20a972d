// The .fmu archive: a zip file unpacked into a temporary folder that lives as
// long as the ExtractedArchive object (and no longer when the process is
// interrupted, see removeExtractedFoldersOnSignals).
#pragma once

#include <filesystem>
#include <string>

namespace fmuhost {

class ExtractedArchive {
public:
  // Unpacks `fmuPath` into a new folder under the temporary folder (TMPDIR
  // made absolute, else /tmp).  Throws std::runtime_error naming TMPDIR and
  // its value when no folder can be made there, or else naming the archive
  // (and the entry, where one is at fault), with the reason: not a zip file,
  // an entry whose name is absolute or climbs out of the folder (".."), or a
  // failed read or write.  Nothing is left behind on failure.
  explicit ExtractedArchive(const std::string &fmuPath);
  ~ExtractedArchive();
  ExtractedArchive(const ExtractedArchive &) = delete;
  ExtractedArchive &operator=(const ExtractedArchive &) = delete;

  // The archive as the user named it, for messages.
  const std::string &name() const { return name_; }
  // The folder it is unpacked in: an absolute path.
  const std::filesystem::path &root() const { return root_; }
  // "file:///.../resources" with every byte outside [A-Za-z0-9/._~-] as %XX.
  std::string resourceLocation() const;
  // `text` with every mention of the folder replaced by the member's name
  // inside the archive ("/tmp/fmuhost.x/binaries/a.so: ..." becomes
  // "binaries/a.so: ..."), for messages that outlive the folder.
  std::string inArchiveTerms(std::string text) const;

private:
  std::string name_;
  std::filesystem::path root_;
};

// True when a zip entry name may be unpacked below a folder: relative, and no
// component is "..".
bool isSafeEntryName(const std::string &name);

// From now on SIGINT, SIGTERM and SIGHUP (those the process does not ignore)
// remove the folders of the archives unpacked at that moment and then end
// the process by the same signal, so that its parent sees the usual status.
// That thread lets a write to the output end first (holdOutputUntilExit).
// SIGPIPE is ignored from then on: a write to a pipe whose reader has gone
// fails with EPIPE, and the run unwinds and removes its folder before
// endByBrokenPipe ends the process.  Call once, from main, before any other
// thread is started: the signals are blocked in every thread and taken by
// one thread of their own.
void removeExtractedFoldersOnSignals();

// Whether a broken pipe ends the process by SIGPIPE: true unless the parent
// had SIGPIPE ignored (then a broken pipe is a failed write like any other).
bool brokenPipeEndsTheProcess();
// Ends the process by SIGPIPE, as a write to a broken pipe would have ended
// it; returns only when brokenPipeEndsTheProcess() is false.
void endByBrokenPipe();

} // namespace fmuhost
