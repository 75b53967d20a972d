#include "tests/events/sampled_model.h"

#include <cstddef>
#include <type_traits>

#include "model/model.h"
#include "source/dsblock5/dsblock.h"
#include "source/matrixop.h"

static_assert(std::is_standard_layout_v<SampledInstance>);
static_assert(offsetof(SampledInstance, data) == 0);

namespace {

// The driver hands the equations the record's first member.
SampledInstance &sampledInstanceOf(ModelInstanceData *d) {
  return *reinterpret_cast<SampledInstance *>(d);
}

} // namespace

std::unique_ptr<SampledInstance> makeSampledInstance(double start, double interval,
                                                     double quarter) {
  std::unique_ptr<SampledInstance> m(new SampledInstance());
  initInstanceData(&m->data);
  m->data.duser = m->DUSER;
  m->data.iuser = m->IUSER;
  m->DUSER[kDuserStepScale] = 1.0;
  m->start = start;
  m->interval = interval;
  m->quarter = quarter;
  m->slope = 2.0;
  m->computedLevel = -1;
  return m;
}

int32_t evaluateSampled(SampledInstance &m, int32_t request, double t) {
  m.time = t;
  int32_t req = request;
  int32_t QiErr = 0;
  dsblockInstance_(&req, &m.computedLevel, &m.time, m.X, nullptr, nullptr, nullptr, nullptr,
                   nullptr, m.F, m.Y, m.W, m.Z, m.DUSER, m.IUSER, nullptr, &m.data, &QiErr);
  return QiErr;
}

std::vector<double> continueSampledEvents(SampledInstance &m, double tEnd) {
  std::vector<double> times;
  for (int k = 0; k < 10000; ++k) {
    const double next = m.DUSER[kDuserNextTimeEvent];
    if (!(next <= tEnd)) break;
    if (evaluateSampled(m, kRequestEvent, next) != 0) break;
    times.push_back(next);
  }
  return times;
}

std::vector<double> runSampledEvents(SampledInstance &m, double t0, double tEnd) {
  if (evaluateSampled(m, kRequestInitial, t0) != 0) return {};
  std::vector<double> times{t0};
  for (double t : continueSampledEvents(m, tEnd)) times.push_back(t);
  return times;
}

// ---------------------------------------------------------------------------
// The model's entry points.
// ---------------------------------------------------------------------------

void dsequations_(int32_t *, int32_t *, double *time, double *, void *, double *, double *,
                  int32_t *, int32_t *, double *F, double *Y, double *, double *, double *,
                  int32_t *, char **, ModelInstanceData *d, int32_t *QiErr) {
  SampledInstance &m = sampledInstanceOf(d);
  const SampleTable table{m.samples, 2};
  if (d->initial == 1) d->needPass = 1;
  const int32_t tick = sampleIn(table, d, *time, m.start, m.interval, 0, 0, 1);
  int32_t changed = 0;
  const double part = integerTimeEventIn(table, 1, m.quarter, d, *time, &changed, nullptr, 1, 0);
  if (changed != 0) {
    d->relationChanged = 1;
    if (d->eventFlag != 0) ++m.integerChanges;
  }
  if (tick != 0 && d->eventFlag != 0) {
    if (m.ticks < kSampledModelTicks) m.tickTimes[m.ticks] = *time;
    ++m.ticks;
  }
  m.integerPart = part;
  F[0] = m.slope;
  Y[0] = m.ticks;
  Y[1] = part;
  endEvaluation();
  if (d->status != 0) *QiErr = d->status;
}

void dsrestarthook_(double *, double *, void *, double *, double *, int32_t *, int32_t *, double *,
                    double *, double *, double *, double *, int32_t *, char **, ModelInstanceData *,
                    int32_t) {}

void dskernelsizes_(int32_t *nx, int32_t *dim2, int32_t *nu, int32_t *ny, int32_t *nw, int32_t *np,
                    int32_t *nstr, int32_t *nzpairs, int32_t *nrel, int32_t *dim10,
                    int32_t *dim11) {
  int32_t *const counts[] = {nx, dim2, nu, ny, nw, np, nstr, nzpairs, nrel, dim10, dim11};
  const int32_t values[] = {1, 0, 0, 2, 2, 0, 0, 0, 0, 0, 0};
  for (int k = 0; k < 11; ++k)
    if (counts[k] != nullptr) *counts[k] = values[k];
}
