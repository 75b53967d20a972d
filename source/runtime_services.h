#pragma once
// The runtime as the libraries that generated code calls see it: the array
// library, the external functions and the model-level matrix-file functions
// include this header and nothing else of source/ (besides the arrays and the
// "C"-locale wrappers).  It gathers
//   - the per-thread record, its bump buffers and marks, and the persistent
//     buffers (evaluation memory);
//   - the message hook, log lines, reports, assertions and model errors;
//   - the utility interface of external functions (ModelicaMessage ...);
//   - the dense linear solver.
// None of these headers knows the model's instance record, so the libraries
// do not compile against it.  The whole runtime, with the driver and the
// instance under evaluation, is source/runtime.h.

#include "source/ModelicaUtilities.h"
#include "source/linsolve.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"
