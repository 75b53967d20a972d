#pragma once
// The model-evaluation runtime as the layers above it see it: the FMI layer
// and the generated model include this header and nothing else of source/.
// It gathers
//   - the library face (runtime_services.h): evaluation memory, messages,
//     assertions and model errors, the utility interface of external
//     functions and the dense linear solver, which is all that the array
//     library, the external functions and the model-level matrix-file
//     functions include;
//   - the recovery scope of the error path;
//   - the kernel context and the kernel's text output;
//   - the instance under evaluation, the homotopy, terminate and run-control
//     operators; time and sample events, the small model operators;
//   - delay buffers and the spatial distribution;
//   - the module path, the resources folder and the loader of a model's
//     external libraries;
//   - the evaluation driver (dsblockInstance_, dsblock_, the QiErr and
//     request codes).
// Apart from the library face, the headers it includes are private to the
// runtime: outside source/ only tests include them directly.

#include "source/runtime_services.h"

#include "source/dsblock5/delay.h"
#include "source/dsblock5/dsblock.h"
#include "source/dsblock5/events.h"
#include "source/dsblock5/modulepath.h"
#include "source/dsblock5/runcontrol.h"
#include "source/error_path.h"
#include "source/kernel.h"
#include "source/operators.h"
