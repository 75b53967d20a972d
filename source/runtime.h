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
//   - the utility interface of external functions (ModelicaMessage ... ).
// The headers it includes are private to the runtime: outside source/ only
// tests include them directly.

#include "source/matrixop.h"
#include "source/runtime_messages.h"
#include "source/error_path.h"
#include "source/kernel.h"
#include "source/linsolve.h"
#include "source/ModelicaUtilities.h"
