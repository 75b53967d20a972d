// Matrix products of the array library against plain loops: a 100 x 100
// Real and Integer matrix product (plain form, result from the thread's
// buffers, released by a mark after each product; and the Into form into a
// given result), a matrix times vector and a scalar product.
//
// Each benchmark runs the library operation and an equivalent plain loop
// (i, j, k order, one sum per element from 0) alternately on the same
// operands and reports, as counters, the time per result element of each
// (ns, for the products of two matrices per element of the 100 x 100 result)
// and their ratio library / plain.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "source/arrays/arrays.h"
#include "source/runtime_services.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kN = 100;

RealArray realMatrix(int rows, int cols, std::mt19937 &engine) {
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  RealArray a = RealAllocMatrix(rows, cols);
  for (int k = 0; k < rows * cols; ++k) a.data[k] = value(engine);
  return a;
}

IntegerArray integerMatrix(int rows, int cols, std::mt19937 &engine) {
  IntegerArray a = IntegerAllocMatrix(rows, cols);
  for (int k = 0; k < rows * cols; ++k) a.data[k] = static_cast<int>(engine());
  return a;
}

void plainMatMul(double *r, const double *a, const double *b, int n) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double s = 0;
      for (int k = 0; k < n; ++k) s += a[i * n + k] * b[k * n + j];
      r[i * n + j] = s;
    }
}

void plainMatMul(int *r, const int *a, const int *b, int n) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      std::uint32_t s = 0;
      for (int k = 0; k < n; ++k)
        s += static_cast<std::uint32_t>(a[i * n + k]) * static_cast<std::uint32_t>(b[k * n + j]);
      r[i * n + j] = static_cast<int>(s);
    }
}

// Times library() and plain() alternately, once each per iteration, and
// reports both per result element and their ratio.
template <class Library, class Plain>
void compare(benchmark::State &state, double elements, Library library, Plain plain) {
  Clock::duration libraryTime{}, plainTime{};
  for (auto _ : state) {
    const Clock::time_point t0 = Clock::now();
    library();
    const Clock::time_point t1 = Clock::now();
    plain();
    const Clock::time_point t2 = Clock::now();
    libraryTime += t1 - t0;
    plainTime += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations()) * elements;
  const double lib = std::chrono::duration<double, std::nano>(libraryTime).count() / n;
  const double loop = std::chrono::duration<double, std::nano>(plainTime).count() / n;
  state.counters["library_ns_per_element"] = lib;
  state.counters["plain_ns_per_element"] = loop;
  state.counters["ratio"] = lib / loop;
}

void BM_RealMatMul100(benchmark::State &state) {
  MarkGuard operands;
  std::mt19937 engine(1);
  const RealArray a = realMatrix(kN, kN, engine);
  const RealArray b = realMatrix(kN, kN, engine);
  std::vector<double> r(kN * kN);
  compare(
      state, kN * kN,
      [&] {
        MarkGuard product;
        const RealArray p = RealMatMul(a, b);
        benchmark::DoNotOptimize(p.data[kN * kN - 1]);
      },
      [&] {
        plainMatMul(r.data(), a.data, b.data, kN);
        benchmark::DoNotOptimize(r[kN * kN - 1]);
      });
}
BENCHMARK(BM_RealMatMul100);

void BM_RealMatMulInto100(benchmark::State &state) {
  MarkGuard operands;
  std::mt19937 engine(2);
  const RealArray a = realMatrix(kN, kN, engine);
  const RealArray b = realMatrix(kN, kN, engine);
  const RealArray res = RealAllocMatrix(kN, kN);
  std::vector<double> r(kN * kN);
  compare(
      state, kN * kN,
      [&] {
        RealMatMulInto(res, a, b);
        benchmark::DoNotOptimize(res.data[kN * kN - 1]);
      },
      [&] {
        plainMatMul(r.data(), a.data, b.data, kN);
        benchmark::DoNotOptimize(r[kN * kN - 1]);
      });
}
BENCHMARK(BM_RealMatMulInto100);

void BM_IntegerMatMul100(benchmark::State &state) {
  MarkGuard operands;
  std::mt19937 engine(3);
  const IntegerArray a = integerMatrix(kN, kN, engine);
  const IntegerArray b = integerMatrix(kN, kN, engine);
  std::vector<int> r(kN * kN);
  compare(
      state, kN * kN,
      [&] {
        MarkGuard product;
        const IntegerArray p = IntegerMatMul(a, b);
        benchmark::DoNotOptimize(p.data[kN * kN - 1]);
      },
      [&] {
        plainMatMul(r.data(), a.data, b.data, kN);
        benchmark::DoNotOptimize(r[kN * kN - 1]);
      });
}
BENCHMARK(BM_IntegerMatMul100);

void BM_RealMatVec100(benchmark::State &state) {
  MarkGuard operands;
  std::mt19937 engine(4);
  const RealArray a = realMatrix(kN, kN, engine);
  const RealArray x = realMatrix(1, kN, engine);
  const RealArray v{1, x.dims + 1, x.data};
  const RealArray res = RealAllocVector(kN);
  std::vector<double> r(kN);
  compare(
      state, kN,
      [&] {
        RealMatVecInto(res, a, v);
        benchmark::DoNotOptimize(res.data[kN - 1]);
      },
      [&] {
        for (int i = 0; i < kN; ++i) {
          double s = 0;
          for (int j = 0; j < kN; ++j) s += a.data[i * kN + j] * v.data[j];
          r[i] = s;
        }
        benchmark::DoNotOptimize(r[kN - 1]);
      });
}
BENCHMARK(BM_RealMatVec100);

void BM_RealScalarProduct10000(benchmark::State &state) {
  MarkGuard operands;
  std::mt19937 engine(5);
  const RealArray x = realMatrix(1, 10000, engine);
  const RealArray v{1, x.dims + 1, x.data};
  double plainResult = 0;
  compare(
      state, 1, [&] { benchmark::DoNotOptimize(RealScalarProduct(v, v)); },
      [&] {
        double s = 0;
        for (int i = 0; i < 10000; ++i) s += v.data[i] * v.data[i];
        plainResult = s;
        benchmark::DoNotOptimize(plainResult);
      });
}
BENCHMARK(BM_RealScalarProduct10000);

} // namespace

BENCHMARK_MAIN();
