// The small math functions of the integrator, shared with the FMI layer,
// and the one allocation seam of the integrator.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "integrator/ode_impl.h"

OdeAllocFn odeAllocHook = std::malloc;

void *odeAlloc(std::size_t size) { return odeAllocHook(size); }

void *odeAllocZeroed(std::size_t size) {
  void *p = odeAlloc(size);
  if (p != nullptr) {
    std::memset(p, 0, size);
  }
  return p;
}

double odeAbs(double x) { return std::fabs(x); }

// Multiplies abs(exponent) factors one at a time, so that the result does
// not depend on how a library power function rounds.
double odeIntPower(double base, int exponent) {
  double prod = 1.0;
  int count = exponent < 0 ? -exponent : exponent;
  for (int i = 0; i < count; ++i) {
    prod = prod * base;
  }
  if (exponent < 0) {
    prod = 1.0 / prod;
  }
  return prod;
}

double odeRealPower(double base, double exponent) {
  if (base <= 0.0) {
    return 0.0;
  }
  return std::pow(base, exponent);
}

double odeSafeSqrt(double x) { return x <= 0.0 ? 0.0 : std::sqrt(x); }
