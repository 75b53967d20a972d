// Array library against plain loops: element-wise operations and reductions
// over n elements.  Each iteration times a batch of library calls and then
// the same work written as a plain loop here (compiled with the project's
// flags); the reported time is the library's, and the counters give both
// costs per element and their ratio (library / loop; 1 means no overhead).
// For small n the ratio shows the fixed cost of a call (shape checks, the
// records passed by value).
//
// The arrays live in the calling thread's evaluation buffers; the plain form
// RealAdd (which allocates its result) runs between saveMark and restoreMark,
// so its ratio includes the allocation and the mark.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "source/arrays/arrays.h"
#include "source/runtime_services.h"

namespace {

using Clock = std::chrono::steady_clock;

// Times a batch of lib() calls and then the same batch of loop() calls per
// iteration (batches of about 2^16 elements, so that the clock's own cost
// does not count for small n); see the file comment.
template <class Lib, class Loop> void compare(benchmark::State &state, Lib lib, Loop loop) {
  const std::int64_t n = state.range(0);
  const std::int64_t batch = n >= 65536 ? 1 : 65536 / n;
  double libSeconds = 0, loopSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (std::int64_t k = 0; k < batch; ++k) {
      lib();
      benchmark::ClobberMemory();
    }
    const auto t1 = Clock::now();
    for (std::int64_t k = 0; k < batch; ++k) {
      loop();
      benchmark::ClobberMemory();
    }
    const auto t2 = Clock::now();
    const double libTime = std::chrono::duration<double>(t1 - t0).count();
    libSeconds += libTime;
    loopSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(libTime);
  }
  const double elements =
      static_cast<double>(state.iterations()) * static_cast<double>(batch) * static_cast<double>(n);
  state.counters["lib_ns/elem"] = libSeconds * 1e9 / elements;
  state.counters["loop_ns/elem"] = loopSeconds * 1e9 / elements;
  state.counters["ratio"] = loopSeconds > 0 ? libSeconds / loopSeconds : 0;
}

// Real operands a, b and a result r of n elements with values of both signs.
struct RealOperands {
  explicit RealOperands(int size)
      : n(size), a(RealAllocVector(size)), b(RealAllocVector(size)), r(RealAllocVector(size)) {
    for (int k = 0; k < n; ++k) {
      a.data[k] = std::sin(k + 1.0) * 1e3;
      b.data[k] = std::cos(k + 1.0);
    }
  }
  int n;
  RealArray a, b, r;
};

struct IntegerOperands {
  explicit IntegerOperands(int size)
      : n(size), a(IntegerAllocVector(size)), b(IntegerAllocVector(size)),
        r(IntegerAllocVector(size)) {
    for (int k = 0; k < n; ++k) {
      a.data[k] = static_cast<int>(static_cast<unsigned>(k) * 2654435761u);
      b.data[k] = k ^ 0x5bd1e995;
    }
  }
  int n;
  IntegerArray a, b, r;
};

// ---- element-wise ----------------------------------------------------------------

void RealAddInto_(benchmark::State &state) {
  MarkGuard mark;
  RealOperands x(static_cast<int>(state.range(0)));
  compare(
      state, [&] { RealAddInto(x.r, x.a, x.b); },
      [&] {
        for (int k = 0; k < x.n; ++k) x.r.data[k] = x.a.data[k] + x.b.data[k];
      });
}

void RealAdd_(benchmark::State &state) {
  MarkGuard mark;
  RealOperands x(static_cast<int>(state.range(0)));
  compare(
      state,
      [&] {
        MarkGuard temporaries;
        benchmark::DoNotOptimize(RealAdd(x.a, x.b).data);
      },
      [&] {
        for (int k = 0; k < x.n; ++k) x.r.data[k] = x.a.data[k] + x.b.data[k];
      });
}

void RealScaleInto_(benchmark::State &state) {
  MarkGuard mark;
  RealOperands x(static_cast<int>(state.range(0)));
  compare(
      state, [&] { RealScaleInto(x.r, x.a, 0.7); },
      [&] {
        for (int k = 0; k < x.n; ++k) x.r.data[k] = x.a.data[k] * 0.7;
      });
}

void RealNegateInto_(benchmark::State &state) {
  MarkGuard mark;
  RealOperands x(static_cast<int>(state.range(0)));
  compare(
      state, [&] { RealNegateInto(x.r, x.a); },
      [&] {
        for (int k = 0; k < x.n; ++k) x.r.data[k] = -x.a.data[k];
      });
}

void IntegerAddInto_(benchmark::State &state) {
  MarkGuard mark;
  IntegerOperands x(static_cast<int>(state.range(0)));
  compare(
      state, [&] { IntegerAddInto(x.r, x.a, x.b); },
      [&] {
        for (int k = 0; k < x.n; ++k)
          x.r.data[k] = static_cast<int>(static_cast<unsigned>(x.a.data[k]) +
                                         static_cast<unsigned>(x.b.data[k]));
      });
}

// ---- reductions ------------------------------------------------------------------

void RealSum_(benchmark::State &state) {
  MarkGuard mark;
  RealOperands x(static_cast<int>(state.range(0)));
  compare(
      state, [&] { benchmark::DoNotOptimize(RealSum(x.a)); },
      [&] {
        double s = 0;
        for (int k = 0; k < x.n; ++k) s = s + x.a.data[k];
        benchmark::DoNotOptimize(s);
      });
}

void RealSumAbs_(benchmark::State &state) {
  MarkGuard mark;
  RealOperands x(static_cast<int>(state.range(0)));
  compare(
      state, [&] { benchmark::DoNotOptimize(RealSumAbs(x.a)); },
      [&] {
        double s = 0;
        for (int k = 0; k < x.n; ++k) {
          const double v = x.a.data[k];
          s = v > 0 ? s + v : s - v;
        }
        benchmark::DoNotOptimize(s);
      });
}

void RealMax_(benchmark::State &state) {
  MarkGuard mark;
  RealOperands x(static_cast<int>(state.range(0)));
  compare(
      state, [&] { benchmark::DoNotOptimize(RealMax(x.a)); },
      [&] {
        double s = -1.7976931348623157e308;
        for (int k = 0; k < x.n; ++k)
          if (x.a.data[k] > s) s = x.a.data[k];
        benchmark::DoNotOptimize(s);
      });
}

void RealProduct_(benchmark::State &state) {
  MarkGuard mark;
  RealOperands x(static_cast<int>(state.range(0)));
  compare(
      state, [&] { benchmark::DoNotOptimize(RealProduct(x.b)); },
      [&] {
        double s = 1;
        for (int k = 0; k < x.n; ++k) s = s * x.b.data[k];
        benchmark::DoNotOptimize(s);
      });
}

void RealDiff_(benchmark::State &state) {
  MarkGuard mark;
  RealOperands x(static_cast<int>(state.range(0)));
  compare(
      state, [&] { benchmark::DoNotOptimize(RealDiff(x.a, x.b)); },
      [&] {
        double s = 0;
        for (int k = 0; k < x.n; ++k) {
          const double c = (x.a.data[k] - x.b.data[k]) / (std::fabs(x.a.data[k]) + 1);
          s = c > 0 ? s + c : s - c;
        }
        benchmark::DoNotOptimize(s);
      });
}

void IntegerSum_(benchmark::State &state) {
  MarkGuard mark;
  IntegerOperands x(static_cast<int>(state.range(0)));
  compare(
      state, [&] { benchmark::DoNotOptimize(IntegerSum(x.a)); },
      [&] {
        unsigned s = 0;
        for (int k = 0; k < x.n; ++k) s += static_cast<unsigned>(x.a.data[k]);
        benchmark::DoNotOptimize(s);
      });
}

// Three operands of the largest size fit the Realbuffer (500000 doubles) and
// the Integerbuffer (50000 ints).
void sizes(benchmark::internal::Benchmark *b) {
  b->Arg(16)->Arg(1000)->Arg(100000)->UseManualTime();
}
void integerSizes(benchmark::internal::Benchmark *b) {
  b->Arg(16)->Arg(1000)->Arg(10000)->UseManualTime();
}

} // namespace

BENCHMARK(RealAddInto_)->Apply(sizes);
BENCHMARK(RealAdd_)->Apply(sizes);
BENCHMARK(RealScaleInto_)->Apply(sizes);
BENCHMARK(RealNegateInto_)->Apply(sizes);
BENCHMARK(IntegerAddInto_)->Apply(integerSizes);
BENCHMARK(RealSum_)->Apply(sizes);
BENCHMARK(RealSumAbs_)->Apply(sizes);
BENCHMARK(RealMax_)->Apply(sizes);
BENCHMARK(RealProduct_)->Apply(sizes);
BENCHMARK(RealDiff_)->Apply(sizes);
BENCHMARK(IntegerSum_)->Apply(integerSizes);

BENCHMARK_MAIN();
