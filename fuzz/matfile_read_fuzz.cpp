// libFuzzer target: any bytes as a matrix file (binary or text), opened with
// or without class check and read matrix by matrix with varied requests,
// row matrices also refreshed in place.  Built with -DUNIT_FUZZ_SEEDS it is
// instead a program that writes a seed corpus of valid files (argument: the
// corpus folder).
//
// Input: byte 0 selects the request: bits 0-2 the requested type (0 .. 6,
// 7 as 0), bit 3 stripBlanks, bits 4-5 the type hint (0, 2, 3, 0), bit 6 the
// class check ("Atrajectory" instead of "NoClass"), bit 7 size requirements
// (at most 4 rows and 4 columns).  The rest is the file.
#include "matfile/amat.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The file the input is written to (one per process).
std::string inputPath() { return "/tmp/matfile_read_fuzz_" + std::to_string(::getpid()); }

bool writeFile(const std::string &path, const uint8_t *data, size_t size) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

} // namespace

#ifndef UNIT_FUZZ_SEEDS

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t select = data[0];
  const std::string path = inputPath();
  if (!writeFile(path, data + 1, size - 1)) std::abort();

  const int type = select & 7 ? (select & 7) % 7 : 0;
  const int strip = (select >> 3) & 1;
  const int hints[4] = {0, 2, 3, 0};
  const int hint = hints[(select >> 4) & 3];
  const char *className = select & 0x40 ? "Atrajectory" : "NoClass";
  const bool bounded = (select & 0x80) != 0;

  AmatGetFile file{};
  if (amatGetOpen(path.c_str(), className, nullptr, &file) == 0) {
    for (int k = 0; k < 64; ++k) {
      std::fpos_t before{}, after{};
      if (std::fgetpos(file.fp, &before) != 0) break;
      AmatMatrix m{};
      m.type = type;
      if (bounded) m.nrow = m.ncol = -4;
      if (amatGetMatrix(&file, &m, hint, nullptr, strip) != 0) break;
      // A row matrix read again from its header continues where it ended.
      if ((m.type == realRowMatrix || m.type == doubleRowMatrix) &&
          std::fgetpos(file.fp, &after) == 0 && std::fsetpos(file.fp, &before) == 0) {
        int32_t r = amatGetMatrix(&file, &m, hint, &after, strip);
        if (r != 0 && r != 2 && r != 3 && r != 4) std::abort();
        if (r != 0) {
          amatFreeMatrix(&m);
          break;
        }
      }
      amatFreeMatrix(&m);
    }
    amatGetClose(&file);
  }
  if (file.fp != nullptr || file.fileName != nullptr) std::abort();
  std::remove(path.c_str());
  return 0;
}

#else

namespace {

int written = 0;

// Writes one seed: the selector byte and the bytes of the file at path.
bool seed(const std::string &folder, uint8_t select, const std::string &path) {
  std::FILE *in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return false;
  std::string bytes(1, static_cast<char>(select));
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, n);
  std::fclose(in);
  const std::string out = folder + "/seed-" + std::to_string(written++);
  return writeFile(out, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

// A trajectory file of two signals with data_2 written row by row.
bool trajectory(const std::string &path, int format) {
  AtrajTrajectory traj{};
  if (atrajInit(&traj, 2, 0) != 0) return false;
  static char t[] = "Time", x[] = "x", dt[] = "Time in seconds", dx[] = "a\\b\nc";
  static char *names[2] = {t, x}, *descriptions[2] = {dt, dx};
  static int32_t info[8] = {0, 2, 1, 2, 0, 0, -1, -1};
  static float first[4] = {0, 1, 0.5F, 0.5F};
  traj.name.nrow = traj.description.nrow = traj.info.nrow = 2;
  traj.name.data = names;
  traj.description.data = descriptions;
  traj.info.data = info;
  traj.data[0].nrow = traj.data[0].ncol = 2;
  traj.data[0].data = first;
  traj.data[1].ncol = 2;
  AmatPutFile f{};
  bool ok = atrajPutOpen(path.c_str(), &traj, 1, format, &f) == 0;
  for (int i = 0; ok && i < 3; ++i) {
    const float row[2] = {0.1F * i, 1.5F * i};
    ok = atrajPutRow(&f, row) == 0;
  }
  ok = ok && amatPutRend(&f) == 0 && amatPutClose(&f) == 0;
  // The matrices refer to static storage: only the names are released.
  traj.name.data = traj.description.data = traj.info.data = nullptr;
  for (int k = 0; k < traj.nData; ++k) traj.data[k].data = nullptr;
  atrajFree(&traj);
  return ok;
}

// One file with a matrix of every type.
bool everyType(const std::string &path, int format, int bstruct) {
  static double d[6] = {1, 4, 0.5, -5, 1e300, 6};
  static float f[2] = {1.5F, -0.25F};
  static int32_t n[3] = {-7, 0, 123456};
  static char a[] = "ab", b[] = "abcd";
  static char *text[3] = {a, b, nullptr};
  static double r0[2] = {1, 2}, r1[2] = {3, 4};
  static double *rows[2] = {r0, r1};
  AmatMatrix ms[5];
  amatSetMatrix("D", 2, 3, doubleMatrix, d, &ms[0]);
  amatSetMatrix("F", 1, 2, realMatrix, f, &ms[1]);
  amatSetMatrix("I", 3, 1, integerMatrix, n, &ms[2]);
  amatSetMatrix("S", 3, 4, charMatrix, text, &ms[3]);
  amatSetMatrix("R", 2, 2, doubleRowMatrix, rows, &ms[4]);
  AmatPutFile file{};
  if (amatPutOpen(path.c_str(), format, bstruct, "Atrajectory", "1.1", "seed", &file) != 0) {
    return false;
  }
  bool ok = true;
  for (const AmatMatrix &m : ms) ok = ok && amatPutMatrix(&file, m) == 0;
  return amatPutClose(&file) == 0 && ok;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1], path = inputPath();
  const uint8_t selects[] = {0x00, 0x45, 0x16, 0x2B, 0x83, 0x44};
  for (int format : {0, 1}) {
    if (!trajectory(path, format)) return 1;
    for (uint8_t s : selects) {
      if (!seed(folder, s, path)) return 1;
    }
    for (int bstruct : {binNormal, binTrans}) {
      if (!everyType(path, format, bstruct)) return 1;
      for (uint8_t s : {uint8_t{0x00}, uint8_t{0x43}, uint8_t{0x08}}) {
        if (!seed(folder, s, path)) return 1;
      }
    }
  }
  std::remove(path.c_str());
  std::printf("%d seed files written\n", written);
  return 0;
}

#endif
