// The .fmu archive: a zip file unpacked into a temporary folder that lives as
// long as the ExtractedArchive object.
#pragma once

#include <filesystem>
#include <string>

namespace fmuhost {

class ExtractedArchive {
public:
  // Unpacks `fmuPath` into a new folder under the system's temporary folder.
  // Throws std::runtime_error naming the archive and the reason: not a zip
  // file, an entry whose name is absolute or climbs out of the folder
  // (".."), or a failed read or write.  Nothing is left behind on failure.
  explicit ExtractedArchive(const std::string &fmuPath);
  ~ExtractedArchive();
  ExtractedArchive(const ExtractedArchive &) = delete;
  ExtractedArchive &operator=(const ExtractedArchive &) = delete;

  const std::filesystem::path &root() const { return root_; }
  // "file:///.../resources" with every byte outside [A-Za-z0-9/._~-] as %XX.
  std::string resourceLocation() const;

private:
  std::filesystem::path root_;
};

// True when a zip entry name may be unpacked below a folder: relative, and no
// component is "..".
bool isSafeEntryName(const std::string &name);

} // namespace fmuhost
