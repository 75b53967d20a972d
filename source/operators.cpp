// Small model operators: smooth splice, animation codes, processor clock and
// the external-object table of the instance under evaluation.
#include "source/operators.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string_view>

#include "model/ModelInstanceData.h"
#include "source/clocale/clocale_io.h"
#include "source/dsblock5/runcontrol.h"
#include "source/matrixop.h"

std::atomic<double> clockOffset{0.0};

namespace {

// asin(1), a quarter turn.
const double kQuarterTurn = std::asin(1.0);

struct ShapeName {
  std::string_view name;
  double code;
};

constexpr ShapeName kShapeNames[] = {
    {"box", 101},    {"sphere", 102},  {"cylinder", 103},  {"cone", 104},   {"pipe", 105},
    {"beam", 106},   {"wirebox", 107}, {"gearwheel", 108}, {"vector", 109}, {"pipecylinder", 110},
    {"spring", 111}, {"tire", 112},    {"tyre", 112},
};

// trunc(value) limited to 0 .. top; NaN gives 0.  The limits are applied in
// floating point, so no value reaches a conversion it cannot survive.
double truncatedLevel(double value, double top) {
  const double level = std::trunc(value);
  if (!(level > 0.0)) return 0.0;
  return level > top ? top : level;
}

} // namespace

extern "C" {

double spliceWeight(double x, double deltax) {
  if (deltax < 0.0) {
    x = -x;
    deltax = -deltax;
  }
  if (x <= -deltax) return 0.0;
  if (x >= deltax) return 1.0;
  const double u = x / deltax * kQuarterTurn;
  return (std::tanh(std::tan(u)) + 1.0) / 2.0;
}

double spliceWeightDer(double x, double deltax, double dx, double ddeltax) {
  if (deltax < 0.0) {
    x = -x;
    deltax = -deltax;
    dx = -dx;
    ddeltax = -ddeltax;
  }
  if (x <= -deltax || x >= deltax) return 0.0;
  const double q = x / deltax;
  const double u = q * kQuarterTurn;
  const double h = std::cosh(std::tan(u)) * std::cos(u);
  return ((dx - q * ddeltax) * kQuarterTurn / (2.0 * deltax)) / (h * h);
}

double spliceDer(double pos, double neg, double x, double deltax, double dpos, double dneg,
                 double dx, double ddeltax) {
  const double s = spliceWeight(x, deltax);
  const double term =
      (s > 0.0 && s < 1.0) ? (pos - neg) * spliceWeightDer(x, deltax, dx, ddeltax) : 0.0;
  return s * (s > 0.0 ? dpos : 0.0) + (1.0 - s) * (s < 1.0 ? dneg : 0.0) + term;
}

double shapeCode(const char *shapeType) {
  if (shapeType == nullptr) return 200.0;
  for (const ShapeName &shape : kShapeNames)
    if (shape.name == shapeType) return shape.code;
  // A shape given by number: its leading integer as atoi reads it, taken at
  // the nearest end of the int range when it lies beyond.
  long number = atolC(shapeType);
  if (number > INT_MAX) number = INT_MAX;
  if (number < INT_MIN) number = INT_MIN;
  return 200.0 + static_cast<double>(number);
}

double packedMaterial(double red, double green, double blue, double specular) {
  const double r = truncatedLevel(red * 100.0 - 0.5, 99.0);
  const double g = truncatedLevel(green * 100.0 - 0.5, 99.0);
  const double b = truncatedLevel(blue * 100.0 - 0.5, 99.0);
  const double s = truncatedLevel(specular * 10.0 - 0.5, 9.0);
  return ((r * 100.0 + g) * 100.0 + b) * 10.0 + s;
}

double clockValue() {
  const std::clock_t ticks = std::clock();
  const double offset = clockOffset.load(std::memory_order_relaxed);
  if (ticks == static_cast<std::clock_t>(-1)) return offset;
  return static_cast<double>(ticks) * 1000.0 / static_cast<double>(CLOCKS_PER_SEC) + offset;
}

ExternalObjectSlot *getCurrentExternalObjectTable() {
  ThreadContext *context = getThreadContext();
  ModelInstanceData *instance = context != nullptr && context->currentInstance != nullptr
                                    ? context->currentInstance
                                    : getUnboundInstanceData();
  return instance->externalObjects;
}

} // extern "C"
