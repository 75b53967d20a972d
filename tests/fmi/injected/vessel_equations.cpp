// The vessel's equations under another name, so that the test build of the
// unit can put its injected model code in front of them (injected_model.cpp).
#define dsequations_ vesselEquations_
#include "model/model.cpp"
