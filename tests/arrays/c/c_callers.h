#pragma once
/* C callers of the array library (c_callers.c, compiled as C11 with
 * -fexceptions), for the C++ tests to run. */

#ifdef __cplusplus
extern "C" {
#endif

/* Runs the record operations through their C names, variadic forms included,
 * and stores what it read back: values[] in the order the file lists them. */
int cRecordOperations(double *values, int capacity);

/* The variadic construction operations through their C names; values[] as
 * the file lists them. */
int cConstructOperations(double *values, int capacity);

/* Calls, two C frames deep, an element read outside the array's size: raises
 * a model error.  cReachedAfterError is set to 1 only if the call returned. */
void cReadOutsideTheArray(void);
extern int cReachedAfterError;

#ifdef __cplusplus
}
#endif
