// The evaluation driver.
//
// dsblockInstance_ is the recovery point of model evaluation: it binds the
// instance to the calling thread, arms an ErrorRecoveryScope and runs the
// generated equations through it.  A model error unwinds back here as a C++
// exception (never a long jump, since C++ frames lie in between) and becomes
// QiErr 1, unless the global homotopy method takes over at initialization.
//
// At events the equations are evaluated in passes until the discrete state
// settles (at most iterationLimit passes).  The instance binding and the
// re-entrance guard of the instance are put back to their values at entry on
// every exit, so a refused nested call cannot rebind the running evaluation
// and nothing stays bound to an instance after the call.
#include "source/dsblock5/dsblock.h"

#include <algorithm>

#include "source/dsblock5/delay.h"
#include "source/dsblock5/fixedstep.h"
#include "source/dsblock5/model_interface.h"
#include "source/dsblock5/runcontrol.h"
#include "source/error_path.h"
#include "source/kernel.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"

ModelDimensions kernelDimensions{};

namespace {

// Passes that generated code forces through relationChanged are not counted
// against iterationLimit; this bound only stops a model that never stops
// reporting changes.
constexpr int32_t kForcedPassBound = 1000;

int32_t increment(int32_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value) + 1u); }

// The arguments of one call: those the hooks take as well, and the request,
// the computed level and QiErr of the equations.
struct Call : ModelHookArgs {
  int32_t *request;
  int32_t *computedLevel;
  int32_t *QiErr;

  void equations() const {
    dsequations_(request, computedLevel, time, X, reserved, U, DP, IP, LP, F, Y, W, Z, DUSER, IUSER,
                 strings, instance, QiErr);
  }
  bool quiet() const { return (IUSER[kIuserOptions] & kOptionQuiet) != 0; }
  bool eventLogging() const {
    const int32_t options = IUSER[kIuserOptions];
    return (*request != 0 && (options & kOptionLogEvents) != 0) ||
           (*request == 0 && (options & kOptionLogInitialEvents) != 0);
  }
  // Relations the record has room for.
  int32_t relations() const { return std::clamp(kernelDimensions.nrel, 0, kModelRelations); }
  void clearRelationFlags() const {
    for (int32_t k = 1; k <= relations(); ++k) instance->relationFlags[k] = 0;
  }
};

// Puts the thread's binding and the instance's guard back on every exit.
class BindingRestore {
public:
  BindingRestore(ThreadContext *context, ModelInstanceData *instance)
      : context_(context), instance_(instance),
        binding_(context != nullptr ? context->currentInstance : nullptr), busy_(instance->busy) {}
  ~BindingRestore() {
    instance_->busy = busy_;
    if (context_ != nullptr) bindInstance(context_, binding_);
  }
  BindingRestore(const BindingRestore &) = delete;
  BindingRestore &operator=(const BindingRestore &) = delete;

private:
  ThreadContext *context_;
  ModelInstanceData *instance_;
  ModelInstanceData *binding_;
  int32_t busy_;
};

// The start of the global homotopy method at a failed initial evaluation:
// one start per initial call.
bool homotopyMayStart(const Call &c) {
  ModelInstanceData *d = c.instance;
  return *c.time <= d->initialTime && d->iteration <= 1 && d->usesHomotopy != 0 &&
         d->inHomotopy == 0 && d->initCount != d->homotopyTriedAt;
}

void startHomotopy(const Call &c) {
  c.instance->homotopyTriedAt = c.instance->initCount;
  if (!c.quiet()) logText("Trying to solve non-linear system using global homotopy-method.");
  c.instance->inHomotopy = 1;
}

// After a failed evaluation during the homotopy method: true with a reduced
// step ready to be announced and evaluated, false (with its message) when
// the method gives up.
bool reduceHomotopyStep(const Call &c) {
  ModelInstanceData *d = c.instance;
  if (d->lambda <= 0.0) {
    logText("Error: could not solve simplified initialization for homotopy "
            "method.");
    return false;
  }
  if (d->lambdaStep <= 1e-4) {
    if (d->lastGoodLambda > 0.0)
      logText("Error: adaptive homotopy method got stuck after starting. Can "
              "set scripting flag Advanced.DebugHomotopy=true; simulate "
              "again, and open continuation.csv to investigate");
    else
      logText("Error: adaptive homotopy method could not start using actual "
              "- check that actual and simplified arguments are similar.");
    return false;
  }
  d->status = 0;
  *c.QiErr = 0;
  d->lambda -= d->lambdaStep;
  d->lambdaStep *= 0.5;
  d->lastGoodLambda = d->lambda;
  d->lambda += d->lambdaStep;
  logText("Error: reducing step size for homotopy.");
  d->homotopyStepReduced = 1;
  return true;
}

// The evaluation memory of the thread at the entry of a call.  A completed
// evaluation releases its temporaries itself (endEvaluation); one that ends
// through the error path gives them back here, so that a failing model can
// never fill the buffers that later evaluations of the thread need.
class EvaluationMemory {
public:
  explicit EvaluationMemory(ThreadContext *context)
      : context_(context), mark_(context != nullptr ? context->currentMark : MemoryMark{}),
        stringmark_(context != nullptr ? context->stringmark : nullptr),
        area_(context != nullptr ? context->simplestring : nullptr) {}
  // Back to the positions at entry; to the buffer starts when the buffers
  // were allocated (or replaced) since.
  void giveBack() const {
    if (context_ == nullptr || context_->EndRealbuffer == nullptr) return;
    if (area_ != nullptr && context_->simplestring == area_) {
      context_->currentMark = mark_;
      context_->stringmark = stringmark_;
    } else {
      context_->currentMark = context_->startMark;
      context_->stringmark = context_->simplestring;
    }
  }

private:
  ThreadContext *context_;
  MemoryMark mark_;
  char *stringmark_;
  char *area_;
};

enum class EvalOutcome { Completed, Failed };

// Evaluates the equations, with the homotopy method's repeated evaluations.
// Failed: the call ends through error recovery with QiErr 1.  A change of
// lambda is announced to the model (dsrestarthook_) right before the next
// evaluation, under the same recovery point, so a model error raised by the
// hook ends in error recovery like one raised by the equations.
EvalOutcome evaluate(const Call &c, ErrorRecoveryScope &scope, const EvaluationMemory &memory) {
  ModelInstanceData *d = c.instance;
  bool announce = false;
  for (;;) {
    const bool completed = scope.run([&] {
      if (announce) c.restartHook(0);
      c.equations();
    });
    announce = false;
    if (!completed) {
      memory.giveBack();
      // Error recovery: the status word is already 1.
      *c.QiErr = 1;
      if (*c.time <= d->initialTime && d->iteration <= 1 && d->usesHomotopy != 0) {
        if (d->inHomotopy == 0 && d->initCount != d->homotopyTriedAt) {
          startHomotopy(c);
          d->lambda = 0.0;
          announce = true;
          d->status = 0;
          *c.QiErr = 0;
          continue;
        }
        if (d->inHomotopy != 0 && reduceHomotopyStep(c)) {
          announce = true;
          continue;
        }
      }
      return EvalOutcome::Failed;
    }
    if (*c.QiErr >= 1 && *c.QiErr <= 4 && homotopyMayStart(c)) {
      startHomotopy(c);
      *c.QiErr = kQiErrHomotopyStart;
    }
    if (*c.QiErr == kQiErrHomotopyStart) {
      if (d->inHomotopy != 0 && d->lambda != 0.0) {
        d->lambda = 0.0;
        announce = true;
        d->status = 0;
        *c.QiErr = 0;
        continue;
      }
      return EvalOutcome::Completed;
    }
    if (*c.QiErr == kQiErrHomotopyStep && d->inHomotopy != 0) {
      d->status = 0;
      *c.QiErr = 0;
      if (d->lambda < 1.0) {
        if (d->lambdaStep < 0.08 && d->lambda > d->lastGoodLambda + 6.0 * d->lambdaStep)
          d->lambdaStep *= 2.0;
        d->lambda += d->lambdaStep;
        if (d->lambda > 0.999999999) d->lambda = 1.0;
        d->homotopyStepReduced = 0;
        announce = true;
        continue;
      }
      d->inHomotopy = 0;
      return EvalOutcome::Completed;
    }
    if (*c.QiErr != 0 && d->inHomotopy != 0) {
      const int32_t failure = *c.QiErr;
      if (reduceHomotopyStep(c)) {
        announce = true;
        continue;
      }
      *c.QiErr = failure;
    }
    return EvalOutcome::Completed;
  }
}

// The settings of an initial call.  False when the delay rings cannot be
// allocated.
bool prepareInitialCall(const Call &c, ErrorRecoveryScope &scope) {
  ModelInstanceData *d = c.instance;
  // Every entry of the profiling table, in use or not, starts unnamed.
  for (ProfileBlock &block : d->profileBlocks) {
    block.callCount = 0;
    block.name = "";
  }
  c.IUSER[kIuserInitialWord] = 0;
  d->timeMarkers[0] = d->timeMarkers[1] = -1e33;
  d->tailMarker = -1e33;
  for (double &marker : d->tailMarkers) marker = -1e33;
  d->initialTime = *c.time;
  d->initialCallPending = 1;
  c.IUSER[kIuserOptions] = 0;
  d->iterationLimit = 25;
  d->initialEpsilon = 1e-10;
  d->initialTolerance = 1e-4;
  d->initialSeen = 1;
  for (int32_t &word : d->tailWords) word = 0;
  d->initialWord = 0;
  if (d->delayBuffers[0].times == nullptr) {
    // The allocation reports its own failure and does not raise; should it
    // reach the error path all the same, the outcome is the same failure.
    int32_t result = 1;
    const bool completed = scope.run(
        [&] { result = allocDelayBuffers(d->delayBuffers, kModelDelaySlots, Buffersize); });
    if (!completed || result != 0) return false;
  }
  // The counts are constants of the generated model: the first initial call
  // in the process copies them, and later ones (of instances on other
  // threads among them) find them there and write nothing.
  static const bool sized = [] {
    dskernelsizes_(&kernelDimensions.nx, &kernelDimensions.dim2, &kernelDimensions.nu,
                   &kernelDimensions.ny, &kernelDimensions.nw, &kernelDimensions.np,
                   &kernelDimensions.nstr, &kernelDimensions.nzpairs, &kernelDimensions.nrel,
                   &kernelDimensions.dim10, &kernelDimensions.dim11);
    return true;
  }();
  (void)sized;
  double *stored = storedIndicators(d);
  for (int32_t k = 1; k <= c.relations(); ++k) {
    stored[2 * k - 2] = stored[2 * k - 1] = 1.0;
    c.Z[2 * k - 2] = c.Z[2 * k - 1] = 1.0;
  }
  for (auto &values : d->delayValues)
    for (double &value : values) value = 0.0;
  return true;
}

// The steps of the pass loop, from the pass preparation to the end of the
// call.  Each step names the one that follows.
enum class Step { Prepare, PassStart, Evaluate, After, Return };

// Pass preparation, the part done once per call: the step event, the pass
// counter and the inline check that turns an event call whose time event
// lies ahead into a plain evaluation.  In event phase 5 the call evaluates at
// once, without preparation or pass bookkeeping.
Step preparePasses(const Call &c) {
  ModelInstanceData *d = c.instance;
  if (d->eventFlag != 0 && d->inlineIntegration == 0) c.IUSER[kIuserStepEvent] = 0;
  if (d->eventPhase < 3) d->iteration = 0;
  if (d->inlineIntegration != 0 && *c.request == kRequestEvent &&
      c.DUSER[kDuserNextTimeEvent] > *c.time && c.IUSER[kIuserStepEvent] == 0) {
    d->eventFlag = 0;
    *c.request = kRequestEverything;
    d->iteration = 1;
  }
  return d->eventPhase == 5 ? Step::Evaluate : Step::Prepare;
}

// The rest of the pass preparation, also where the inline sign check turns
// the call into an event call: an event call forgets the known time event
// (the model's time events register again while it evaluates) and clears
// the samples; the relation flags start cleared.
void prepareEventPasses(const Call &c) {
  ModelInstanceData *d = c.instance;
  if (d->eventFlag != 0) {
    c.DUSER[kDuserNextTimeEvent] = 1e100;
    d->eventThisCall = 1;
  }
  if (*c.request == kRequestEverything ||
      (d->eventFlag != 0 && d->eventPhase != 3 && d->eventPhase != 4))
    c.clearRelationFlags();
  if (d->eventFlag != 0) dsclearsamples_(d);
}

// Pass start, before the first evaluation and every further pass.  The
// relation flags are cleared again at the start of passes 11 and 22.
void startPass(const Call &c) {
  ModelInstanceData *d = c.instance;
  d->homotopyStepReduced = 0;
  if (d->eventFlag != 0) d->eventCount = increment(d->eventCount);
  if (d->iteration % 11 == 10) c.clearRelationFlags();
  d->repeatPass = 0;
  d->iteration += 1;
  d->needPass = 0;
  d->keepParametersChanged = 0;
}

// The inline sign check after the second pass of a plain evaluation: an
// event indicator that changed its sign since the last event needs a pass.
// True when the call then turns into an event call.
bool turnsIntoEventCall(const Call &c) {
  ModelInstanceData *d = c.instance;
  if (d->inlineIntegration == 0 || *c.request != kRequestEverything || d->iteration != 2)
    return false;
  const double *stored = storedIndicators(d);
  for (int32_t m = 0; m < 2 * c.relations(); ++m)
    if (stored[m] * c.Z[m] < 0.0) d->needPass = 1;
  if (d->needPass == 0) return false;
  *c.request = kRequestEvent;
  d->eventFlag = 1;
  d->iteration = 0;
  return true;
}

// Another pass of the event iteration: the call returns when the pass failed;
// otherwise the iteration goes on within the call (event phase 0 or 4) or
// returns unfinished, for the caller to continue it with a later call.
Step iterate(const Call &c) {
  ModelInstanceData *d = c.instance;
  if (d->status != 0 || *c.QiErr != 0) return Step::Return;
  const bool logging = c.eventLogging();
  if (logging && (d->eventPhase == 0 || d->eventPhase == 4)) {
    logText("Iterating to find consistent restart conditions.");
  } else if (!logging && d->iteration == d->iterationLimit && !c.quiet()) {
    logText("");
    logText("On the final iteration for restart conditions we get:");
    c.IUSER[kIuserOptions] |= 2;
  }
  if (d->relationChanged == 1) {
    d->relationChanged = 2;
  } else {
    if (d->initial != 0) d->iteration = 0;
    d->initial = 0;
    d->relationChanged = 0;
  }
  d->parametersChanged = (d->parametersChanged != 0 && d->keepParametersChanged != 0) ? 1 : 0;
  d->eventFlag = 1;
  *c.computedLevel = 0;
  if (d->eventPhase == 4) {
    d->eventPhase = 0;
    return Step::PassStart;
  }
  if (d->eventPhase == 0) return Step::PassStart;
  d->eventPhase = 3;
  return Step::Return;
}

// The event iteration did not settle within iterationLimit passes (or the
// passes that relationChanged forces did not end).
void failIteration(const Call &c) {
  logText("");
  logTextValue("ERROR: Finding consistent restart conditions failed at time: ", *c.time);
  logText("");
  *c.QiErr = 1;
  c.instance->status = 1;
}

// End of the passes: the fixed-step event approach, the indicators of the
// relations that this event did not flag, and the level now computed.
void endPasses(const Call &c) {
  ModelInstanceData *d = c.instance;
  d->eventPhase = 0;
  d->initial = d->initialCallPending;
  d->initialCallPending = 0;
  if (((d->initial != 0 && c.relations() > 0) || d->needPass != 0 || d->iteration > 1) &&
      c.eventLogging())
    logTextValue("      during event at Time : ", *c.time);
  if (c.IUSER[kIuserFixedStepMode] != 0)
    fixedStepEvents(d, *c.time, d->initial, d->eventFlag, c.Z, kernelDimensions.nzpairs, c.F,
                    c.IUSER[kIuserFixedStepMode] == 1 ? kernelDimensions.nx : 0, c.DUSER, c.IUSER);
  if (d->eventFlag != 0) {
    double *stored = storedIndicators(d);
    for (int32_t k = 1; k <= c.relations(); ++k) {
      if (d->relationFlags[k] == 0) {
        if ((d->relationState[k] & 2) != 0 || c.Z[2 * k - 1] == 0.0)
          c.Z[2 * k - 2] = c.Z[2 * k - 1] = 0.1;
        d->relationState[k] &= 1;
      } else {
        d->relationState[k] &= 3;
      }
    }
    if (d->inlineIntegration != 0)
      for (int32_t m = 0; m < 2 * c.relations(); ++m) stored[m] = c.Z[m];
  }
  *c.computedLevel = *c.request;
}

// After the evaluation: another pass when generated code asked for one, when
// a relation changed, or while the initial call or needPass wants one within
// iterationLimit; else the failure of an iteration that needed too many
// passes, or the end of the passes.
Step afterEvaluation(const Call &c) {
  ModelInstanceData *d = c.instance;
  if (d->repeatPass != 0) return Step::PassStart;
  if (d->eventPhase == -1) d->eventPhase = 0;
  if (turnsIntoEventCall(c)) return Step::Prepare;
  if (d->needPass != 0) d->eventThisCall = 1;
  const bool withinLimit = d->iteration <= d->iterationLimit;
  const bool forced = d->relationChanged != 0 && d->iteration < kForcedPassBound;
  if (forced || (((d->initial != 0 && c.relations() > 0) || d->needPass != 0) && withinLimit))
    return iterate(c);
  if (!withinLimit || d->relationChanged != 0) {
    failIteration(c);
    return Step::Return;
  }
  endPasses(c);
  return Step::Return;
}

// The pass loop from the pass preparation to the end of the call.
void runPasses(const Call &c, ErrorRecoveryScope &scope, const EvaluationMemory &memory) {
  ModelInstanceData *d = c.instance;
  for (Step step = preparePasses(c);;) {
    switch (step) {
    case Step::Prepare:
      prepareEventPasses(c);
      step = Step::PassStart;
      break;
    case Step::PassStart:
      startPass(c);
      step = Step::Evaluate;
      break;
    case Step::Evaluate:
      if (evaluate(c, scope, memory) == EvalOutcome::Failed) return;
      step = Step::After;
      break;
    case Step::After:
      step = afterEvaluation(c);
      break;
    case Step::Return:
      // A status the equations or the operators set is the call's outcome.
      if (d->status != 0 && *c.QiErr == 0) *c.QiErr = d->status;
      return;
    }
  }
}

} // namespace

int dsblockInstance_(int32_t *request, int32_t *computedLevel, double *time, double *X,
                     void *reserved, double *U, double *DP, int32_t *IP, int32_t *LP, double *F,
                     double *Y, double *W, double *Z, double *DUSER, int32_t *IUSER, char **strings,
                     ModelInstanceData *instance, int32_t *QiErr) {
  return dsblockInstanceIn(getThreadContext(), request, computedLevel, time, X, reserved, U, DP, IP,
                           LP, F, Y, W, Z, DUSER, IUSER, strings, instance, QiErr);
}

int dsblockInstanceIn(ThreadContext *context, int32_t *request, int32_t *computedLevel,
                      double *time, double *X, void *reserved, double *U, double *DP, int32_t *IP,
                      int32_t *LP, double *F, double *Y, double *W, double *Z, double *DUSER,
                      int32_t *IUSER, char **strings, ModelInstanceData *instance, int32_t *QiErr) {
  if (instance == nullptr) instance = &defaultInstanceData;
  BindingRestore restore(context, instance);
  if (context != nullptr) bindInstance(context, instance);
  ModelInstanceData *d = instance;

  // Re-entrance guard: a nested request 3 returns with QiErr untouched, any
  // other nested request but 0 is refused.
  if (d->busy != 0 && *request != kRequestInitial) {
    if (*request != kRequestAuxiliaries) *QiErr = kQiErrError;
    return 0;
  }
  d->busy = 1;
  ErrorRecoveryScope scope(context);
  const EvaluationMemory memory(context);
  const Call c{{time, X, reserved, U, DP, IP, LP, F, Y, W, Z, DUSER, IUSER, strings, d},
               request,
               computedLevel,
               QiErr};

  d->time = *time;
  d->initial = *request == kRequestInitial ? 1 : 0;
  d->eventThisCall = 0;
  const bool phaseStarts = d->eventPhase == 0 || d->eventPhase == 2;
  if (phaseStarts) {
    d->stringsChanged = 0;
    d->changeFlags[0] = d->changeFlags[1] = 0;
  }
  // A parameter or String change moves IUSER[8]; an initial call always
  // counts as a change.
  if (d->initial != 0 && phaseStarts) {
    d->lastChangeCount = 0;
    IUSER[kIuserChangeCount] = increment(IUSER[kIuserChangeCount]);
  }
  const int32_t changeCountSeen = d->lastChangeCount;
  d->parametersChanged = changeCountSeen != IUSER[kIuserChangeCount] ? 1 : 0;
  if (d->parametersChanged != 0) *computedLevel = 0;
  d->lastChangeCount = IUSER[kIuserChangeCount];
  if (d->initial != 0 && IUSER[kIuserCountInitialChanges] != 0)
    IUSER[kIuserChangeCount] = increment(IUSER[kIuserChangeCount]);

  d->eventFlag = (d->initial != 0 || *request == kRequestEvent || *request == kRequestTerminal ||
                  d->parametersChanged != 0)
                     ? 1
                     : 0;
  IUSER[kIuserEventFlag] = d->eventFlag;
  if (d->initial != 0) d->initCount = increment(d->initCount);
  d->status = 0;
  IUSER[kIuserCallWord] = 0;

  if (d->initial != 0 && !prepareInitialCall(c, scope)) {
    *QiErr = kQiErrDelayAllocation;
  } else {
    runPasses(c, scope, memory);
    if (qiErrIsSuccess(*QiErr) || *QiErr == kQiErrTerminated) [[likely]]
      return 0;
  }
  // A failed call computed nothing: the sections it marked computed before
  // the failing equation are to be evaluated again, and a parameter change
  // it saw (and that the model's caches may not yet follow) stays pending
  // for the next call.
  *computedLevel = 0;
  d->lastChangeCount = changeCountSeen;
  return 0;
}

int dsblock_(int32_t *request, int32_t *computedLevel, double *time, double *X, void *reserved,
             double *U, double *DP, int32_t *IP, int32_t *LP, double *F, double *Y, double *W,
             double *Z, double *DUSER, int32_t *IUSER, char **strings, int32_t *QiErr) {
  return dsblockInstance_(request, computedLevel, time, X, reserved, U, DP, IP, LP, F, Y, W, Z,
                          DUSER, IUSER, strings, &defaultInstanceData, QiErr);
}
