// Trajectories: signals over an abscissa as the matrices "name",
// "description", "dataInfo" and "data_1" ..., written as a matrix file of
// class "Atrajectory" 1.1 in which one data matrix grows row by row while the
// simulation runs.
#include "matfile/amat_internal.h"

#include "source/clocale/clocale_io.h"

namespace {

constexpr const char *kStorage =
    "Not possible to allocate enough storage for a trajectory:\n%.400s\n";
constexpr const char *kArgument = "Input argument %.400s=%d of function %.400s must be >= 0.\n";

// The comment before "dataInfo" in text files: an empty line and 23 lines
// (the writer ends the last one).
constexpr const char *kDataInfoComment =
    "\n"
    "# Matrix with 4 columns defining the data of the signals:\n"
    "#\n"
    "# dataInfo(i,1)=    j: name i data is stored in matrix \"data_j\".\n"
    "#                      (1,1)=0, means that name(1) is used as abscissa\n"
    "#                      for ALL data matrices!\n"
    "#\n"
    "# dataInfo(i,2)=    k: name i data is stored in column abs(k) of matrix\n"
    "#                      data_j with sign(k) used as sign.\n"
    "#\n"
    "# dataInfo(i,3)=    0: Linear interpolation of the column data\n"
    "#              = 1..4: Piecewise convex hermite spline interpolation\n"
    "#                      of the column data. Curve is differentiable upto\n"
    "#                      order 1..4. The spline is defined by a polygon.\n"
    "#                      It touches the polygon in the middle of every segment\n"
    "#                      and at the beginning and final point. Between such\n"
    "#                      points the spline is convex. The polygon is also the\n"
    "#                      convex envelope of the spline.\n"
    "#\n"
    "# dataInfo(i,4)=   -1: name i is not defined outside of the defined time range\n"
    "#              =    0: Keep first/last value outside of time range\n"
    "#              =    1: Linear interpolation through first/last two points outside\n"
    "#                      of time range.\n"
    "#";

constexpr int32_t kPrecisionType[4] = {realMatrix, doubleMatrix, realRowMatrix, doubleRowMatrix};

} // namespace

int32_t atrajInit(AtrajTrajectory *traj, int nData, int precision) {
  if (traj == nullptr) return 0;
  traj->classDescription = nullptr;
  traj->nData = 0;
  traj->data = nullptr;
  amatInitMatrix(&traj->name);
  amatInitMatrix(&traj->description);
  amatInitMatrix(&traj->info);
  if (nData < 0) return amatFail(1, kArgument, "nData", nData, "atrajInit");
  traj->name.name = amatCopyText("name");
  traj->name.type = charMatrix;
  traj->description.name = amatCopyText("description");
  traj->description.type = charMatrix;
  traj->info.name = amatCopyText("dataInfo");
  traj->info.ncol = 4;
  traj->info.type = integerMatrix;
  if (traj->name.name == nullptr || traj->description.name == nullptr ||
      traj->info.name == nullptr) {
    amatFail(1, kStorage, amatErrorText());
    atrajFree(traj);
    return 1;
  }
  if (atrajResize(traj, nData, precision) != 0) {
    atrajFree(traj);
    return 1;
  }
  return 0;
}

int32_t atrajResize(AtrajTrajectory *traj, int nDataNew, int precision) {
  if (traj == nullptr) return amatNullPointer(1);
  if (nDataNew == 0) return 0;
  if (nDataNew < 0) return amatFail(1, kArgument, "nDataNew", nDataNew, "atrajResize");
  if (traj->nData != 0) {
    return amatFail(1, "traj->nData (=%d) of function %.400s must be zero.\n", traj->nData,
                    "atrajResize");
  }
  if (precision < 0 || precision > 3) {
    return amatFail(1, "Input argument %.400s=%d of function %.400s must be 0, 1, 2 or 3.\n",
                    "precision", precision, "atrajResize");
  }
  auto *data = static_cast<AmatMatrix *>(amatAlloc(nDataNew, sizeof(AmatMatrix)));
  if (data == nullptr) return amatFail(1, kStorage, amatErrorText());
  traj->data = data;
  traj->nData = nDataNew;
  for (int k = 0; k < nDataNew; ++k) {
    amatInitMatrix(&data[k]);
    data[k].type = kPrecisionType[precision];
  }
  for (int k = 0; k < nDataNew; ++k) {
    char name[32];
    (void)snprintfC(name, sizeof name, "data_%d", k + 1);
    data[k].name = amatCopyText(name);
    if (data[k].name == nullptr) return amatFail(1, kStorage, amatErrorText());
  }
  return 0;
}

void atrajFree(AtrajTrajectory *traj) {
  if (traj == nullptr) return;
  amatRelease(traj->classDescription);
  traj->classDescription = nullptr;
  amatFreeMatrix(&traj->name);
  amatFreeMatrix(&traj->description);
  amatFreeMatrix(&traj->info);
  for (int k = 0; traj->data != nullptr && k < traj->nData; ++k) amatFreeMatrix(&traj->data[k]);
  amatRelease(traj->data);
  traj->data = nullptr;
  traj->nData = 0;
}

int32_t atrajPutOpen(const char *fileName, AtrajTrajectory *traj, int rowIndex, int format,
                     AmatPutFile *file) {
  if (traj == nullptr) return amatNullPointer(1);
  if (amatPutOpen(fileName, format, rowIndex >= 0 ? binTrans : binNormal, "Atrajectory", "1.1",
                  traj->classDescription, file) != 0) {
    return 1;
  }
  if (amatPutMatrix(file, traj->name) != 0 || amatPutMatrix(file, traj->description) != 0) {
    return amatCloseAfterFailure(file);
  }
  // Each dataInfo row is followed by its signal's name, when there is one
  // for every row.
  char **rowComments = traj->name.nrow >= traj->info.nrow && traj->name.data != nullptr
                           ? static_cast<char **>(traj->name.data)
                           : nullptr;
  if (amatPutMatrixComment(file, traj->info, kDataInfoComment, rowComments, 4) != 0) {
    return amatCloseAfterFailure(file);
  }
  const int nData = traj->nData;
  const int whole = rowIndex < 0 ? nData : rowIndex < nData ? rowIndex : nData;
  for (int k = 0; k < whole; ++k) {
    if (amatPutMatrix(file, traj->data[k]) != 0) return amatCloseAfterFailure(file);
  }
  if (rowIndex < 0 || rowIndex >= nData) return amatPutClose(file) == 0 ? 0 : 1;
  const AmatMatrix &rows = traj->data[rowIndex];
  if (amatPutRinit(file, rows.name, rows.ncol, rows.type) != 0) return amatCloseAfterFailure(file);
  return 0;
}

int32_t atrajPutRow(AmatPutFile *file, const float *row) { return amatPutRrow(file, row); }

int32_t atrajPutRowDouble(AmatPutFile *file, const double *row) {
  return amatPutRrowDouble(file, row);
}

int32_t atrajPutClose(AmatPutFile *file, AtrajTrajectory *traj, int rowIndex) {
  if (traj == nullptr) {
    amatNullPointer(1);
    return amatCloseAfterFailure(file);
  }
  if (rowIndex < 0 || rowIndex >= traj->nData) {
    amatFail(1,
             "Input argument %.400s=%d of function %.400s must be >= 0 and < traj->nData (=%d).\n",
             "rowIndex", rowIndex, "atrajPutClose", traj->nData);
    return amatCloseAfterFailure(file);
  }
  if (amatPutRend(file) != 0) return amatCloseAfterFailure(file);
  for (int k = rowIndex + 1; k < traj->nData; ++k) {
    if (amatPutMatrix(file, traj->data[k]) != 0) return amatCloseAfterFailure(file);
  }
  // The data written so far is released; each record keeps its name.
  for (int k = 0; k <= rowIndex; ++k) {
    char *name = traj->data[k].name;
    traj->data[k].name = nullptr;
    amatFreeMatrix(&traj->data[k]);
    traj->data[k].name = name;
  }
  return amatPutClose(file) == 0 ? 0 : 1;
}
