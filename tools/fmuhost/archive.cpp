#include "tools/fmuhost/archive.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include <zip.h>

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
    if (name.back() == '/') {
      fs::create_directories(target);
      continue;
    }
    fs::create_directories(target.parent_path());
    std::unique_ptr<zip_file_t, ZipFileCloser> in(
        zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0));
    if (!in) throw std::runtime_error(fmuPath + ": cannot read entry \"" + name + "\"");
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + target.string());
    std::vector<char> buffer(1 << 16);
    zip_int64_t n;
    while ((n = zip_fread(in.get(), buffer.data(), buffer.size())) > 0)
      out.write(buffer.data(), static_cast<std::streamsize>(n));
    if (n < 0) throw std::runtime_error(fmuPath + ": cannot read entry \"" + name + "\"");
    out.close();
    if (!out) throw std::runtime_error("cannot write " + target.string());
  }
}

} // namespace

ExtractedArchive::ExtractedArchive(const std::string &fmuPath) {
  std::string pattern = (fs::temp_directory_path() / "fmuhost.XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data()))
    throw std::runtime_error("cannot create a temporary folder from " + pattern);
  root_ = buffer.data();
  try {
    extractAll(fmuPath, root_);
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    throw;
  }
}

ExtractedArchive::~ExtractedArchive() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
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

} // namespace fmuhost
