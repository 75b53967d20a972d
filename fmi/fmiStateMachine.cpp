// The one check of the state machine: accept, or log the table's refusal.
#include "fmi/fmiStateMachine.h"
#include "fmi/fmiLog.h"

bool fmiCheckState(fmiInstance *instance, fmiFunction f, const char *name) {
  if (fmiStateAccepted(f, instance->state)) return true;
  const fmiStateRule &rule = fmiRule(f);
  const char *n = name != nullptr ? name : rule.name;
  const char *enterInit = fmiFunctionName(fmiFunction::EnterInitializationMode);
  const char *who = instance->instanceName;
  switch (rule.args) {
  case fmiRefusalArgs::None:
    return true;
  case fmiRefusalArgs::Name:
    fmiLog(instance, who, rule.refusalStatus, "", rule.refusal, n);
    break;
  case fmiRefusalArgs::NameName:
    fmiLog(instance, who, rule.refusalStatus, "", rule.refusal, n, n);
    break;
  case fmiRefusalArgs::State:
    fmiLog(instance, who, rule.refusalStatus, "", rule.refusal, static_cast<int>(instance->state));
    break;
  case fmiRefusalArgs::EnterInit:
    fmiLog(instance, who, rule.refusalStatus, "", rule.refusal, enterInit);
    break;
  case fmiRefusalArgs::NameEnterInit:
    fmiLog(instance, who, rule.refusalStatus, "", rule.refusal, n, enterInit);
    break;
  }
  return false;
}
