#pragma once
// The model-evaluation runtime as the layers above it see it: the FMI layer,
// the array library, the external functions, the model-level matrix-file
// functions and the generated model include this header and nothing else of
// source/.  It gathers
//   - the per-thread record, its bump buffers and marks, and the persistent
//     buffers (evaluation memory);
//   - the message hook, log lines, reports, assertions and model errors;
//   - the recovery scope of the error path;
//   - the kernel context and the kernel's text output;
//   - the utility interface of external functions (ModelicaMessage ...);
//   - the instance under evaluation, the homotopy, terminate and run-control
//     operators; time and sample events, the small model operators;
//   - delay buffers and the spatial distribution;
//   - the module path, the resources folder and the loader of a model's
//     external libraries;
//   - the evaluation driver (dsblockInstance_, dsblock_, the QiErr and
//     request codes).
// The headers it includes are private to the runtime: outside source/ only
// tests include them directly.

#include "source/ModelicaUtilities.h"
#include "source/dsblock5/delay.h"
#include "source/dsblock5/dsblock.h"
#include "source/dsblock5/events.h"
#include "source/dsblock5/modulepath.h"
#include "source/dsblock5/runcontrol.h"
#include "source/error_path.h"
#include "source/kernel.h"
#include "source/linsolve.h"
#include "source/matrixop.h"
#include "source/operators.h"
#include "source/runtime_messages.h"
