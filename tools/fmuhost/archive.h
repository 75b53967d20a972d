// The .fmu archive: a zip file unpacked into a temporary folder that lives as
// long as the ExtractedArchive object (and no longer when the process is
// interrupted, see removeExtractedFoldersOnSignals).
#pragma once

#include <filesystem>
#include <string>

namespace fmuhost {

class ExtractedArchive {
public:
  // Unpacks `fmuPath` into a new folder under the system's temporary folder
  // (TMPDIR, made absolute).  Throws std::runtime_error naming the archive
  // (and the entry, where one is at fault) and the reason: not a zip file, an
  // entry whose name is absolute or climbs out of the folder (".."), or a
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
// Call once, from main, before any other thread is started: the signals are
// blocked in every thread and taken by one thread of their own.
void removeExtractedFoldersOnSignals();

} // namespace fmuhost
