/* C callers of subscripting, the matrix operations and the string
 * conversions (subscript_callers.c, compiled as C11 with -fexceptions), for
 * the C++ tests to run. */

#ifdef __cplusplus
extern "C" {
#endif

/* Runs the operations through their C names, index vectors passed by value
 * in the tagged lists, and stores what it read back: values[] in the order
 * the file lists them; returns their number. */
int cSubscriptAndMatrixOperations(double *values, int capacity);

/* The texts of a few string conversions, joined by '|', in text (capacity
 * characters with the terminator). */
void cStringConversions(char *text, int capacity);

/* A subscripted assignment with a vector index outside the destination,
 * called two C frames deep: raises a model error.  cReachedAfterAssign is
 * set to 1 only if the call returned. */
void cAssignOutsideTheArray(void);
extern int cReachedAfterAssign;

#ifdef __cplusplus
}
#endif
