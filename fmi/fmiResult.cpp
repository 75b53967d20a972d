// Internal result generation: the ring of sample points, the sampling rule,
// the discarding of points that a restored FMU state made invalid, and the
// trajectory writer behind it.
//
// The ring grows 64 points at a time up to 384; when it is full the 64
// oldest points go to the file.  Points are written in time order only:
// before a point is buffered, buffered points later than it (left over from
// before a jump back in time) are discarded, and a point at or before the
// last written one is dropped.
#include "fmi/fmiResult.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiResultWriter.h"
#include "model/ModelInstanceData.h"
#include "model/model.h"
#include "source/clocale/clocale_io.h"

std::atomic<int32_t> fmiResultSetupCounter{0};

namespace {

constexpr double kNone = -std::numeric_limits<double>::infinity();
constexpr double kNoOutputGrid = 1e100; // nextOutputTime while there is no output grid
constexpr double kSecondTime = 1e-9;    // the second time of data_1 (every caller's)
constexpr double kLargestCounter = 9007199254740992.0; // 2^53
constexpr const char *kDefaultFileName = "dsres.mat";
constexpr const char *kPrefix = "Result generation:";
// The mode a generated declaration runs in when it registers its variables.
constexpr int32_t kDeclarationRegisters = 1;

// ---- host memory ------------------------------------------------------------------------

void *hostAllocate(const fmiInstance *c, size_t count, size_t size) {
  return c->functions->allocateMemory(count, size);
}

void hostFree(const fmiInstance *c, void *block) {
  if (block != nullptr) c->functions->freeMemory(block);
}

// Doubles of one point's value arrays (at least 1, so that every point has a block).
size_t pointLength(const fmiInstance *c) {
  const size_t n = size_t{c->np} + 2 * size_t{c->nx} + c->ny + c->nu + c->nw;
  return n > 0 ? n : 1;
}

// ---- the writer ---------------------------------------------------------------------------

template <class T> T *heapArray(int64_t count) {
  return static_cast<T *>(std::calloc(static_cast<size_t>(count > 0 ? count : 1), sizeof(T)));
}

char *heapText(const char *text) {
  if (text == nullptr) text = "";
  const size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(std::malloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

void releaseWriter(fmiResultWriter *w) {
  std::free(w->registeredCategory);
  std::free(w->registeredIndex);
  std::free(w->registeredColumn);
  for (uint8_t *&bytes : w->selection) {
    std::free(bytes);
    bytes = nullptr;
  }
  w->registeredCategory = w->registeredIndex = w->registeredColumn = nullptr;
}

bool isConstant(int32_t category) { return category == fmiResultParameter; }

// Entry (i, j) of a column-major matrix of nrow rows.
template <class T> T &at(const AmatMatrix &m, int32_t i, int32_t j) {
  return static_cast<T *>(m.data)[i + static_cast<int64_t>(j) * m.nrow];
}

// Fills the row of data_1 (row 0) or data_2 from the value arrays.
void fillRow(fmiResultWriter *w, bool constants, float *row, int32_t stride) {
  for (int32_t r = 1; r < w->registered; ++r) {
    const int32_t category = w->registeredCategory[r];
    if (isConstant(category) != constants || w->values[category] == nullptr) continue;
    row[static_cast<int64_t>(w->registeredColumn[r]) * stride] =
        static_cast<float>(w->values[category][w->registeredIndex[r]]);
  }
}

void rememberArrays(fmiResultWriter *w, const double *p, const double *x, const double *xdot,
                    const double *y, const double *u, const double *wv) {
  const double *arrays[fmiResultCategories] = {p, x, xdot, y, u, wv};
  std::copy(arrays, arrays + fmiResultCategories, w->values);
}

int32_t clearWriter(fmiResultWriter *w) {
  releaseWriter(w);
  *w = fmiResultWriter{};
  int32_t nx = 0, dim2 = 0, nu = 0, ny = 0, nw = 0, np = 0, nstr = 0, nz = 0, nrel = 0;
  dsvarsizes_(&nx, &dim2, &nu, &ny, &nw, &np, &nstr, &nz, &nrel);
  const int32_t counts[fmiResultCategories] = {np, nx, nx, ny, nu, nw};
  for (int32_t k = 0; k < fmiResultCategories; ++k) {
    w->counts[k] = std::max(counts[k], 0);
    w->selection[k] = heapArray<uint8_t>(w->counts[k]);
    if (w->selection[k] == nullptr) return fmiResultOutOfMemory;
  }
  return fmiResultDone;
}

int32_t prepareWriter(fmiResultWriter *w) {
  w->fileName = kDefaultFileName;
  w->fileOpen = w->setUp = w->failed = 0;
  w->registered = w->constantCount = w->varyingCount = 0;
  int64_t total = 1;
  for (int32_t count : w->counts) total += count;
  w->registeredCategory = heapArray<int32_t>(total);
  w->registeredIndex = heapArray<int32_t>(total);
  w->registeredColumn = heapArray<int32_t>(total);
  const bool ok = w->registeredCategory != nullptr && w->registeredIndex != nullptr &&
                  w->registeredColumn != nullptr;
  return ok ? fmiResultDone : fmiResultOutOfMemory;
}

int32_t layOut(fmiResultWriter *w) {
  for (int32_t k = 0; k < fmiResultCategories; ++k) {
    for (int32_t i = 0; i < w->counts[k]; ++i) {
      if (w->selection[k][i] == 0) continue;
      ++(isConstant(k) ? w->constantCount : w->varyingCount);
    }
  }
  AtrajTrajectory *t = &w->trajectory;
  if (atrajInit(t, 2, 0) != 0) return fmiResultOutOfMemory;
  w->setUp = 1;
  w->variables = w->constantCount + w->varyingCount + 1;
  t->name.nrow = t->description.nrow = t->info.nrow = w->variables;
  t->name.data = heapArray<char *>(w->variables);
  t->description.data = heapArray<char *>(w->variables);
  t->info.data = heapArray<int32_t>(int64_t{w->variables} * 4);
  t->data[0].nrow = 2;
  t->data[0].ncol = w->constantCount + 1;
  t->data[0].data = heapArray<float>(2 * int64_t{t->data[0].ncol});
  t->data[1].nrow = 1;
  t->data[1].ncol = w->varyingCount + 1;
  t->data[1].data = heapArray<float>(t->data[1].ncol);
  const bool ok = t->name.data != nullptr && t->description.data != nullptr &&
                  t->info.data != nullptr && t->data[0].data != nullptr &&
                  t->data[1].data != nullptr;
  return ok ? fmiResultDone : fmiResultOutOfMemory;
}

// Row r of name, description and dataInfo.
int32_t describe(fmiResultWriter *w, int32_t r, const char *name, const char *description,
                 const int32_t (&info)[4]) {
  AtrajTrajectory *t = &w->trajectory;
  auto **names = static_cast<char **>(t->name.data);
  auto **descriptions = static_cast<char **>(t->description.data);
  names[r] = heapText(name);
  descriptions[r] = heapText(description);
  for (int32_t j = 0; j < 4; ++j) at<int32_t>(t->info, r, j) = info[j];
  return names[r] != nullptr && descriptions[r] != nullptr ? fmiResultDone : fmiResultOutOfMemory;
}

int32_t closeWriter(fmiResultWriter *w) {
  int32_t status = fmiResultDone;
  if (w->fileOpen != 0 && atrajPutClose(&w->file, &w->trajectory, 1) != 0) {
    status = fmiResultWriteFailed;
  }
  if (w->setUp != 0) atrajFree(&w->trajectory);
  releaseWriter(w);
  w->fileOpen = w->setUp = 0;
  return status;
}

// ---- the record -----------------------------------------------------------------------------

void logWarning(fmiInstance *c, const char *text) {
  fmiLog(c, c->instanceName, fmi2Warning, "", "%s", text);
}

// The warning of a writer failure.
void reportWriter(fmiInstance *c, int32_t status, const char *fileName) {
  switch (status) {
  case fmiResultOutOfMemory:
    logWarning(c, "Out of memory");
    break;
  case fmiResultCountMismatch:
    logWarning(c, "Internal error");
    break;
  case fmiResultNoFile:
    logWarning(c, "Result file path is NULL");
    break;
  case fmiResultOpenFailed:
    fmiLog(c, c->instanceName, fmi2Warning, "", "Failed to open result %s", fileName);
    logWarning(c, amatMessage);
    break;
  case fmiResultWriteFailed:
    fmiLog(c, c->instanceName, fmi2Warning, "", "%s writing the result file failed: %s", kPrefix,
           amatMessage);
    break;
  default:
    break;
  }
}

// Value arrays for 64 more points; false (nothing kept) when they cannot be
// allocated.
bool extendRing(fmiInstance *c, fmiResultGeneration *r) {
  const int32_t first = r->allocatedPoints;
  if (first + kFmiResultBlock > kFmiResultRingSize) return false;
  for (int32_t k = first; k < first + kFmiResultBlock; ++k) {
    r->points[k].values = static_cast<double *>(hostAllocate(c, pointLength(c), sizeof(double)));
    if (r->points[k].values == nullptr) {
      for (int32_t j = first; j <= k; ++j) {
        hostFree(c, r->points[j].values);
        r->points[j].values = nullptr;
      }
      return false;
    }
  }
  r->allocatedPoints += kFmiResultBlock;
  return true;
}

int32_t slot(const fmiResultGeneration *r, int32_t k) { return k % r->ringSize; }

const fmiResultPoint &oldest(const fmiResultGeneration *r, int32_t k = 0) {
  return r->points[slot(r, r->readIndex + k)];
}

const fmiResultPoint &newest(const fmiResultGeneration *r) {
  return r->points[slot(r, r->writeIndex + r->ringSize - 1)];
}

void writePoint(fmiInstance *c, fmiResultGeneration *r, const fmiResultPoint &point) {
  fmiResultWriter *w = &r->writer;
  if (w->fileOpen == 0 || w->failed != 0) return;
  const double *p = point.values;
  const double *x = p + c->np;
  const double *xdot = x + c->nx;
  const double *y = xdot + c->nx;
  const double *u = y + c->ny;
  const double *wv = u + c->nu;
  (void)fmiResultWrite(fmiResultStartRow, w, point.time, 0.0, p, x, xdot, y, u, wv);
  const int32_t status = fmiResultWrite(fmiResultPutRow, w, 0.0, 0.0, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  if (status != fmiResultDone) reportWriter(c, status, w->fileName);
}

// Writes the 64 oldest points.
void fmiResultFlush64(fmiInstance *c, fmiResultGeneration *r) {
  for (int32_t k = 0; k < kFmiResultBlock; ++k) writePoint(c, r, oldest(r, k));
  r->lastFlushedTime = oldest(r, kFmiResultBlock - 1).time;
  r->bufferedPoints -= kFmiResultBlock;
  r->readIndex = slot(r, r->readIndex + kFmiResultBlock);
}

void flushAll(fmiInstance *c, fmiResultGeneration *r) {
  if (r->bufferedPoints == 0) return;
  for (int32_t k = 0; k < r->bufferedPoints; ++k) writePoint(c, r, oldest(r, k));
  r->lastFlushedTime = newest(r).time;
  r->readIndex = r->writeIndex = r->bufferedPoints = 0;
}

// Drops the buffered points later than t, newest first.
void discardLaterThan(fmiResultGeneration *r, double t) {
  while (r->bufferedPoints > 0 && newest(r).time > t) {
    r->writeIndex = slot(r, r->writeIndex + r->ringSize - 1);
    --r->bufferedPoints;
  }
  r->lastStoredTime = r->bufferedPoints > 0 ? newest(r).time : kNone;
}

bool validInterval(double interval) { return interval > 0.0 && std::isfinite(interval); }

// The next point of the output grid gridCounter * interval after t (and
// after the grid point passed last).
void advanceGrid(fmiInstance *c, fmiResultGeneration *r, double t) {
  const double interval = c->duser[kDuserOutputInterval];
  const double q = std::floor(t / interval);
  if (!validInterval(interval) || !(q < kLargestCounter)) {
    c->nextOutputTime = kNoOutputGrid;
    return;
  }
  uint64_t n = r->gridCounter + 1;
  if (q >= 0.0) n = std::max<uint64_t>(n, static_cast<uint64_t>(q) + 1);
  if (static_cast<double>(n) * interval <= t) ++n;
  r->gridCounter = n;
  c->nextOutputTime = static_cast<double>(n) * interval;
}

// The sampling rule: whether a point of this kind is taken at t.
bool sampled(fmiInstance *c, fmiResultGeneration *r, double t, int32_t kind) {
  if (c->fmuType == fmi2CoSimulation) {
    if (t >= c->nextOutputTime) {
      advanceGrid(c, r, t);
      return true;
    }
    return kind == 1;
  }
  return kind == 1 || 10.0 * (t - r->lastStoredTime) >= c->duser[kDuserOutputInterval];
}

// Makes room for one point in a ring whose allocated points are all in use.
void makeRoom(fmiInstance *c, fmiResultGeneration *r, double t) {
  if (r->allocatedPoints < r->ringSize) {
    if (extendRing(c, r)) return;
    fmiLog(c, c->instanceName, fmi2Warning, "",
           "%s: buffer extension failed at t = %.4f, forcing file output for interval t = %.4f "
           "... %.4f",
           kPrefix, t, oldest(r).time, newest(r).time);
    // The points allocated so far are the ring from now on.
    r->ringSize = r->allocatedPoints;
    r->writeIndex = slot(r, r->writeIndex);
    fmiResultFlush64(c, r);
    return;
  }
  if (c->fmuType == fmi2CoSimulation && r->bufferFullWarned == 0) {
    fmiLog(c, c->instanceName, fmi2Warning, "",
           "%s: buffer full at t = %.4f, forcing file output for interval t = %.4f ... %.4f. To "
           "avoid this for FMI 2, set SetFMUStatePriorToCurrentPoint = fmiTrue in fmiDoStep. "
           "Will not warn about this again.",
           kPrefix, t, oldest(r).time, oldest(r, kFmiResultBlock - 1).time);
    r->bufferFullWarned = 1;
  }
  fmiResultFlush64(c, r);
}

void storePoint(fmiInstance *c, fmiResultGeneration *r, int32_t kind) {
  const double t = c->time;
  if (t < r->lastStoredTime) discardLaterThan(r, t);
  if (t < r->lastFlushedTime || (t == r->lastFlushedTime && kind == 0)) {
    if (r->lastFlushedTime > r->lastWarnedTime) {
      fmiLog(c, c->instanceName, fmi2Warning, "",
             "%s: duplicate sample point at t = %.4f (and others at t < %f) neglected.", kPrefix, t,
             r->lastFlushedTime);
      r->lastWarnedTime = r->lastFlushedTime;
    }
    return;
  }
  if (!sampled(c, r, t, kind)) return;
  if (r->bufferedPoints == r->allocatedPoints) makeRoom(c, r, t);
  fmiResultPoint &point = r->points[r->writeIndex];
  point.time = t;
  double *v = point.values;
  const std::pair<const double *, uint32_t> arrays[fmiResultCategories] = {
      {c->p, c->np}, {c->x, c->nx}, {c->xdot, c->nx}, {c->y, c->ny}, {c->u, c->nu}, {c->w, c->nw}};
  for (const auto &[values, count] : arrays) {
    if (count > 0) std::memcpy(v, values, count * sizeof(double));
    v += count;
  }
  r->writeIndex = slot(r, r->writeIndex + 1);
  r->lastStoredTime = t;
  ++r->bufferedPoints;
}

bool generating(const fmiInstance *c) {
  return c->resultGenerationOn == 1 && c->resultGeneration != nullptr;
}

// Set-up steps 2 to 7; false at the first failure (the record, as far as it
// got, stays with the instance for fmiResultFinish).
bool setUp(fmiInstance *c, int32_t counter) {
  auto *r = static_cast<fmiResultGeneration *>(hostAllocate(c, 1, sizeof(fmiResultGeneration)));
  if (r == nullptr) return false;
  c->resultGeneration = r;
  r->lastStoredTime = r->lastFlushedTime = r->lastWarnedTime = kNone;
  r->ringSize = kFmiResultRingSize;
  r->points =
      static_cast<fmiResultPoint *>(hostAllocate(c, kFmiResultRingSize, sizeof(fmiResultPoint)));
  if (r->points == nullptr || !extendRing(c, r)) return false;

  fmiResultWriter *w = &r->writer;
  const auto run = [&](int32_t mode, double time, double time2, bool arrays) {
    const int32_t status =
        arrays ? fmiResultWrite(mode, w, time, time2, c->p, c->x, c->xdot, c->y, c->u, c->w)
               : fmiResultWrite(mode, w, time, time2, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr);
    if (status != fmiResultDone) reportWriter(c, status, w->fileName);
    return status == fmiResultDone;
  };
  if (!run(fmiResultClear, 0, 0, false) || !run(fmiResultPrepare, 0, 0, false) ||
      !run(fmiResultLayout, 0, 0, false)) {
    return false;
  }

  char name[kFmiResultNameSize];
  if (!fmiResultFileName(c->instanceName, counter, c->runtime != nullptr, name)) return false;
  r->fileName = static_cast<char *>(hostAllocate(c, std::strlen(name) + 1, 1));
  if (r->fileName == nullptr) return false;
  std::memcpy(r->fileName, name, std::strlen(name) + 1);
  w->fileName = r->fileName;

  if (!run(fmiResultRegisterTime, 0, 0, false)) return false;
  // The model names its variables; it gets no value arrays, so that it
  // cannot write its start values over the instance's values.
  int32_t qiErr = 0;
  declareVariables_(nullptr, nullptr, nullptr, nullptr, &qiErr, kDeclarationRegisters, w);
  if (qiErr != 0 || !run(fmiResultCheckCount, 0, 0, false) ||
      !run(fmiResultFirstRow, c->time, kSecondTime, true) ||
      !run(fmiResultOpen, c->time, kSecondTime, false)) {
    return false;
  }

  r->gridCounter = 0;
  c->nextOutputTime = c->time;
  storePoint(c, r, 0);
  return true;
}

} // namespace

// ---- file names ---------------------------------------------------------------------------------

bool fmiResultFileName(const char *instanceName, int32_t counter, bool hasModelData,
                       char out[kFmiResultNameSize]) {
  static constexpr const char kReplaced[] = " \"()*,./:;<=>?[\\]|";
  std::string base;
  for (const char *s = instanceName != nullptr ? instanceName : ""; *s != '\0'; ++s) {
    const auto ch = static_cast<unsigned char>(*s);
    const bool replaced = ch < 0x20 || ch == 0x7F || std::strchr(kReplaced, ch) != nullptr;
    base += replaced ? '_' : static_cast<char>(ch);
  }
  base += base.empty() ? "dres_internal" : "_internal";
  const int n = hasModelData && counter != 1
                    ? snprintfC(out, kFmiResultNameSize, "%s%d.mat", base.c_str(), counter)
                    : snprintfC(out, kFmiResultNameSize, "%s.mat", base.c_str());
  if (n < 0 || n >= kFmiResultNameSize) return false;
  for (char *p = out; *p != '\0'; ++p) {
    if (*p == '/') *p = '_';
  }
  return true;
}

// ---- the writer -----------------------------------------------------------------------------

int32_t fmiResultWrite(int32_t mode, fmiResultWriter *w, double time, double time2, const double *p,
                       const double *x, const double *xdot, const double *y, const double *u,
                       const double *wv) {
  if (w == nullptr) return fmiResultNoFile;
  w->lastMode = mode;
  AtrajTrajectory *t = &w->trajectory;
  switch (mode) {
  case fmiResultClear:
    return clearWriter(w);
  case fmiResultPrepare:
    return prepareWriter(w);
  case fmiResultLayout:
    return layOut(w);
  case fmiResultRegisterTime: {
    if (w->setUp == 0) return fmiResultCountMismatch;
    w->registered = 1;
    w->nextConstant = w->nextVarying = 1;
    return describe(w, 0, "Time", "Time in seconds", {0, 1, 0, -1});
  }
  case fmiResultCheckCount:
    return w->registered == w->variables ? fmiResultDone : fmiResultCountMismatch;
  case fmiResultFirstRow: {
    if (w->setUp == 0) return fmiResultCountMismatch;
    rememberArrays(w, p, x, xdot, y, u, wv);
    at<float>(t->data[0], 0, 0) = static_cast<float>(time);
    fillRow(w, true, &at<float>(t->data[0], 0, 0), t->data[0].nrow);
    return fmiResultDone;
  }
  case fmiResultOpen: {
    if (w->setUp == 0) return fmiResultCountMismatch;
    rememberArrays(w, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    // Row 2 holds the second time and the constants once more.
    at<float>(t->data[0], 1, 0) = static_cast<float>(time2);
    for (int32_t j = 1; j < t->data[0].ncol; ++j) {
      at<float>(t->data[0], 1, j) = at<float>(t->data[0], 0, j);
    }
    if (w->fileName == nullptr) return fmiResultNoFile;
    if (atrajPutOpen(w->fileName, t, 1, 1, &w->file) != 0) return fmiResultOpenFailed;
    w->fileOpen = 1;
    w->openTime = time;
    w->rowCounter = 0;
    return fmiResultDone;
  }
  case fmiResultStartRow: {
    if (w->fileOpen == 0) return fmiResultDone;
    rememberArrays(w, p, x, xdot, y, u, wv);
    auto *row = static_cast<float *>(t->data[1].data);
    row[0] = static_cast<float>(time);
    fillRow(w, false, row, 1);
    return fmiResultDone;
  }
  case fmiResultPutRow: {
    rememberArrays(w, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (w->fileOpen == 0 || w->failed != 0) return fmiResultDone;
    w->rowCounter = w->rowCounter == 10 ? 0 : w->rowCounter + 1;
    if (atrajPutRow(&w->file, static_cast<const float *>(t->data[1].data)) != 0) {
      w->failed = 1;
      return fmiResultWriteFailed;
    }
    return fmiResultDone;
  }
  case fmiResultClose:
    return closeWriter(w);
  default:
    return fmiResultDone;
  }
}

int32_t fmiResultRegister(fmiResultWriter *w, int32_t category, int32_t index, const char *name,
                          const char *description) {
  if (w == nullptr || w->setUp == 0 || category < 0 || category >= fmiResultCategories ||
      index < 0 || index >= w->counts[category]) {
    return fmiResultCountMismatch;
  }
  if (w->selection[category][index] == 0) return fmiResultDone;
  if (w->registered <= 0 || w->registered >= w->variables) return fmiResultCountMismatch;
  const int32_t r = w->registered;
  const bool constant = isConstant(category);
  const int32_t column = constant ? w->nextConstant++ : w->nextVarying++;
  const int32_t info[4] = {constant ? 1 : 2, column + 1, 0, constant ? 0 : -1};
  w->registeredCategory[r] = category;
  w->registeredIndex[r] = index;
  w->registeredColumn[r] = column;
  w->registered = r + 1;
  return describe(w, r, name, description, info);
}

// ---- entries ------------------------------------------------------------------------------

void fmiResultSetup(fmiInstance *c) {
  // A record left from an earlier run (no terminate since) completes its file first.
  if (c->resultGeneration != nullptr) fmiResultFinish(c);
  const int32_t counter = fmiResultSetupCounter.fetch_add(1) + 1;
  fmiLog(c, c->instanceName, fmi2OK, "", "Setting up result generation");
  if (setUp(c, counter)) return;
  logWarning(c, "Failed to setup result generation, skipping it");
  fmiResultFinish(c);
  c->resultGenerationOn = 0;
}

void fmiResultStore(fmiInstance *c, int32_t kind) {
  if (generating(c)) storePoint(c, c->resultGeneration, kind);
}

void fmiResultFlush(fmiInstance *c) {
  if (generating(c)) flushAll(c, c->resultGeneration);
}

void fmiResultFinish(fmiInstance *c) {
  fmiResultGeneration *r = c->resultGeneration;
  if (r == nullptr) return;
  if (r->points != nullptr) {
    // The final point, whatever the sampling rule says.
    if (r->writer.fileOpen != 0 && c->time > r->lastStoredTime) storePoint(c, r, 1);
    flushAll(c, r);
  }
  const int32_t closed = fmiResultWrite(fmiResultClose, &r->writer, 0, 0, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  if (closed != fmiResultDone) reportWriter(c, closed, r->fileName);
  if (r->points != nullptr) {
    for (int32_t k = 0; k < r->allocatedPoints; ++k) hostFree(c, r->points[k].values);
    hostFree(c, r->points);
  }
  hostFree(c, r->fileName);
  hostFree(c, r);
  c->resultGeneration = nullptr;
  c->nextOutputTime = kNoOutputGrid;
}

void fmiResultBeginStep(fmiInstance *c, fmi2Boolean noSetFMUStatePriorToCurrentPoint) {
  if (c->resultGeneration != nullptr) {
    c->resultGeneration->noPrior = noSetFMUStatePriorToCurrentPoint != fmi2False ? 1 : 0;
  }
}

void fmiResultSample(fmiInstance *c, int32_t kind) {
  if (!generating(c)) return;
  storePoint(c, c->resultGeneration, kind);
  if (c->resultGeneration->noPrior != 0) flushAll(c, c->resultGeneration);
}

void fmiResultOutputPoint(fmiInstance *c, double target) {
  if (!generating(c) || c->iuser[kIuserStepEvent] != 0) return;
  if (target == c->nextOutputTime && target != c->duser[kDuserNextTimeEvent]) {
    fmiResultSample(c, 0);
  }
}

void fmiResultCompletedStep(fmiInstance *c, fmi2Boolean noSetFMUStatePriorToCurrentPoint) {
  if (!generating(c)) return;
  storePoint(c, c->resultGeneration, 0);
  if (noSetFMUStatePriorToCurrentPoint != fmi2False) flushAll(c, c->resultGeneration);
}

void fmiResultRestored(fmiInstance *c) {
  fmiResultGeneration *r = c->resultGeneration;
  if (r == nullptr) return;
  if (c->time < r->lastStoredTime) discardLaterThan(r, c->time);
  if (c->fmuType != fmi2CoSimulation) return;
  // The grid goes on from the restored next output time; a state without
  // one goes on from its own time.
  const double interval = c->duser[kDuserOutputInterval];
  const double next = c->nextOutputTime;
  if (!validInterval(interval)) {
    c->nextOutputTime = kNoOutputGrid;
  } else if (next >= 0.0 && next < kNoOutputGrid && next / interval < kLargestCounter) {
    r->gridCounter = static_cast<uint64_t>(std::llround(next / interval));
  } else {
    r->gridCounter = 0;
    advanceGrid(c, r, c->time);
  }
}
