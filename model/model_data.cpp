// Generated data of the model (see model_data.h).
#include "model/model_data.h"

const int jacobianColumnGroups[] = {0};
const JacobianGroupPattern *const jacobianGroupPatterns = nullptr;

const char *externalLibraryNames[] = {nullptr};
