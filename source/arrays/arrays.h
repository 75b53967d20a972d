#pragma once
/* The array library as model code sees it: Real, Integer and String arrays of
 * any number of dimensions with storage from the runtime's evaluation
 * buffers.  One header per area; every one compiles as C11 and as C++ and
 * declares functions with C linkage that may raise a model error.
 *
 * Names: the element type, then the operation (RealCat, IntegerFill,
 * StringNrElements); Dims... works on a bare size vector; ...Non allocates
 * from the persistent buffers; ...Into writes into a result the caller gives,
 * the plain form allocates it.  Variable argument lists put the count first;
 * SetElement takes the value first. */

#include "source/arrays/array_arith.h"
#include "source/arrays/array_construct.h"
#include "source/arrays/array_fields.h"
#include "source/arrays/array_matrix.h"
#include "source/arrays/array_records.h"
#include "source/arrays/array_subscript.h"
#include "source/arrays/string_conversions.h"
