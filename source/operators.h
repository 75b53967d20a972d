#pragma once
// Small operators that generated model code calls: the smooth splice of two
// expressions with its derivatives, the numeric codes of animation shapes
// and surface materials, the processor clock behind the runtime's clock
// functions, and the external-object table of the instance under
// evaluation.  All have C linkage; all but the last are pure functions of
// their arguments (and of the process-wide clock offset).

#include <atomic>
#include <cstdint>

struct ExternalObjectSlot;

// Added to every clock value; 0 unless an embedding moves the clock.
extern std::atomic<double> clockOffset;

extern "C" {

// Weight of the positive branch, in [0, 1]: 0 for x <= -|deltax|, 1 for
// x >= |deltax|, and a smooth S-curve in between (deltax 0: a step at 0).
double spliceWeight(double x, double deltax);
// The time derivative of spliceWeight given the derivatives dx and ddeltax.
double spliceWeightDer(double x, double deltax, double dx, double ddeltax);
// The time derivative of s*pos + (1 - s)*neg with s = spliceWeight(x,
// deltax).  A branch whose weight is 0 contributes nothing, so a non-finite
// derivative outside its region does not spoil the result.
double spliceDer(double pos, double neg, double x, double deltax, double dpos, double dneg,
                 double dx, double ddeltax);

// 101 to 112 for the named shapes ("box" ... "tire"/"tyre"); any other text
// gives 200 plus its leading integer (0 without digits; a value beyond the
// int range is taken at the nearest end of it).
double shapeCode(const char *shapeType);
// ((r*100 + g)*100 + b)*10 + s with r, g, b = trunc(channel*100 - 0.5) in
// 0..99 and s = trunc(specular*10 - 0.5) in 0..9 (NaN counts as 0).
double packedMaterial(double red, double green, double blue, double specular);

// Processor time of the process in milliseconds plus clockOffset (0 plus
// the offset when the processor time is not available).
double clockValue();

// The external-object table of the instance bound to the calling thread
// (defaultInstanceData when none is bound).
ExternalObjectSlot *getCurrentExternalObjectTable();

} // extern "C"
