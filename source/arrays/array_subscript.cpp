// Subscripting and subscripted assignment.  Each operation is written once for
// the three element types (templates over the record) and exported under its
// three C names.
//
// The tagged list is read in passes over copies of it: first the checks (and,
// for Subscript, the shape of the result and its element count), then the
// allocations, then the decoding into a fixed local array of records and the
// walk that moves the elements.  So Subscript allocates nothing for a list
// that fails a check (only the decoding's capacity check comes later), and a
// destination is never written before every check has passed; SubscriptAssign
// copies its source before anything else, so that the source may share the
// destination's storage.  Range counts are computed in 64 bits, where
// start:step:stop over any 32-bit bounds cannot overflow or trap; a step of 0
// fails.
#include "source/arrays/array_subscript.h"

#include "source/arrays/array_private.h"

#include <cstdint>

using namespace arrays;

namespace {

// ---- the tagged list ---------------------------------------------------------

// Reads one subscript (its kind and payload) from the list.
DecodedSubscript readSubscript(std::va_list &list) {
  DecodedSubscript s{};
  s.kind = va_arg(list, int);
  switch (s.kind) {
  case SubscriptColon:
  case SubscriptEnd:
    break;
  case SubscriptRange:
    s.range.start = va_arg(list, int);
    s.range.step = 1;
    s.range.stop = va_arg(list, int);
    break;
  case SubscriptStepRange:
    s.range.start = va_arg(list, int);
    s.range.step = va_arg(list, int);
    s.range.stop = va_arg(list, int);
    break;
  case SubscriptVector:
    s.vector = va_arg(list, IntegerArray);
    break;
  case SubscriptScalar:
    s.range.start = va_arg(list, int);
    break;
  default:
    fail("(kind>=0)&&(kind<=5)", "Array subscripting: unknown subscript kind");
  }
  return s;
}

// The number of positions of start:step:stop (step not 0), 0 when empty:
// floor((stop - start) / step) + 1 when positive.  In 64 bits, where neither
// the difference nor the quotient can overflow.
std::int64_t rangeCount(const SubscriptRangeWords &r) {
  const std::int64_t q =
      (static_cast<std::int64_t>(r.stop) - r.start + r.step) / static_cast<std::int64_t>(r.step);
  return q > 0 ? q : 0;
}

// 0-based position j of a range.
std::int64_t rangePosition(const SubscriptRangeWords &r, std::int64_t j) {
  return static_cast<std::int64_t>(r.start) - 1 + j * r.step;
}

bool inside(std::int64_t index, int size) { return index >= 1 && index <= size; }

// ---- Subscript: checks and shape -------------------------------------------------

// The counting pass: the number of subscripts before the end (at most a's
// ndims) and the result's ndims.
template <class A> int resultNdims(const A &a, std::va_list &list) {
  int n = 0;
  int left = a.ndims;
  for (DecodedSubscript s = readSubscript(list); s.kind != SubscriptEnd; s = readSubscript(list)) {
    if (s.kind == SubscriptScalar) {
      require(left > 0, "ndims>0", "Internal error in subscriptring of array");
      --left;
    }
    ++n;
  }
  require(n <= a.ndims, "nargs<=a.ndims", "Too many subscripts for array");
  return left;
}

// The shape pass: checks every subscript against its dimension of a and
// hands each size of the result to emit, the whole dimensions after the last
// subscript included.  Returns the number of subscripts.
template <class A, class Emit> int resultSizes(const A &a, std::va_list &list, Emit emit) {
  int k = 0;
  for (DecodedSubscript s = readSubscript(list); s.kind != SubscriptEnd;
       s = readSubscript(list), ++k) {
    const int size = a.dims[k];
    switch (s.kind) {
    case SubscriptColon:
      emit(size);
      break;
    case SubscriptRange:
    case SubscriptStepRange: {
      require(s.range.step != 0, "step!=0", "Range subscripting: step must not be zero");
      const std::int64_t count = rangeCount(s.range);
      if (count > 0) {
        require(inside(s.range.start, size), "(start>=1)&&(start<=a.dims[a_dim])",
                "Range subscripting: start out of range");
        require(inside(s.range.stop, size), "(stop >=1)&&(stop <=a.dims[a_dim])",
                "Range subscripting: end out of range");
      }
      emit(count);
      break;
    }
    case SubscriptVector: {
      const IntegerArray &v = s.vector;
      require(v.ndims == 1, "v.ndims==1",
              "Array subscripting: only vectors (and scalars) allowed as indicies");
      const int length = count(v);
      for (int i = 0; i < length; ++i)
        require(inside(v.data[i], size), "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim])",
                "Array subscripting: vector index out of range");
      emit(length);
      break;
    }
    case SubscriptScalar:
      require(inside(s.range.start, size), "(i>=1)&&(i<=a.dims[a_dim])",
              "Array subscripting: scalar index out of range");
      break;
    }
  }
  for (int d = k; d < a.ndims; ++d) emit(a.dims[d]);
  return k;
}

// ---- SubscriptAssign: checks ---------------------------------------------------------

// Checks out[subscripts] := a (source a, destination out) and returns the run
// length: the product of the source sizes after the last subscript.
template <class A> int assignmentRun(const A &a, const A &out, std::va_list &list) {
  int aDim = 0;
  int outDim = 0;
  for (DecodedSubscript s = readSubscript(list); s.kind != SubscriptEnd; s = readSubscript(list)) {
    switch (s.kind) {
    case SubscriptColon:
      require(outDim < out.ndims, "out_dim<out.ndims", "Internal error in subscripting (:)");
      require(aDim < a.ndims, "a_dim<a.ndims", "Internal error in subscripting (:)");
      require(out.dims[outDim] == a.dims[aDim], "out.dims[out_dim]==a.dims[a_dim]",
              "Assignment array subscripting: A[:]=B must have identical sizes");
      ++aDim;
      ++outDim;
      break;
    case SubscriptRange:
    case SubscriptStepRange: {
      require(outDim < out.ndims, "out_dim<out.ndims", "Internal error in subscripting: range");
      require(aDim < a.ndims, "a_dim<a.ndims", "Internal error in subscripting: range ");
      require(s.range.step != 0, "step!=0",
              "Assignment array subscripting: step of range must not be zero");
      const int size = out.dims[outDim];
      const std::int64_t num = rangeCount(s.range);
      if (num > 0) {
        require(inside(s.range.start, size), "(start>=1)&&(start<=out.dims[out_dim])",
                "Assignment array subscripting: start of range out of bounds");
        require(inside(s.range.stop, size), "(stop>=1)&&(stop<=out.dims[out_dim])",
                "Assignment array subscripting: end of range out of bounds");
      }
      require(a.dims[aDim] == num, "a.dims[a_dim]==num",
              "Assignment array subscripting: A[a:b]=B must have identical sizes");
      ++aDim;
      ++outDim;
      break;
    }
    case SubscriptVector: {
      require(outDim < out.ndims, "out_dim<out.ndims", "Internal error in vector subscripting");
      require(aDim < a.ndims, "a_dim<a.ndims", "Internal error in vector subscripting");
      const IntegerArray &v = s.vector;
      require(v.ndims == 1, "v.ndims==1",
              "Assignment array subscripting: array index must be a vector");
      require(a.dims[aDim] == v.dims[0], "a.dims[a_dim]==v.dims[0]",
              "Assignment array subscripting: A[vect]=B must have identical sizes");
      const int size = out.dims[outDim];
      const int length = count(v);
      for (int i = 0; i < length; ++i)
        require(inside(v.data[i], size), "(v.data[i]>=1)&&(v.data[i]<=out.dims[out_dim])",
                "Assignment array subscripting: vector index out of bounds");
      ++aDim;
      ++outDim;
      break;
    }
    case SubscriptScalar:
      require(outDim < out.ndims, "out_dim<out.ndims", "Internal error in scalar subscripting");
      require(inside(s.range.start, out.dims[outDim]), "(i>=1)&&(i<=out.dims[out_dim])",
              "Assignment array subscripting: scalar index out of bounds");
      ++outDim;
      break;
    }
  }
  require(a.ndims - aDim == out.ndims - outDim, "a.ndims-a_dim==out.ndims-out_dim",
          "Assignment array subscripting: unequal number of dimensions");
  for (int i = aDim; i < a.ndims; ++i)
    require(a.dims[i] == out.dims[i - aDim + outDim], "a.dims[i]==out.dims[(i-a_dim)+out_dim]",
            "Internal error in subscripting");
  return countOf(a.ndims - aDim, a.dims + aDim);
}

// ---- the walk ----------------------------------------------------------------------------

enum class Direction {
  Gather,  // dense := subscripted
  Scatter, // subscripted := dense
};

// One walk for both directions: the subscripts choose positions in the
// subscripted array (the source of a gather, the destination of a scatter),
// the other array is walked densely.  Offsets count runs; at the end record
// one run of elements is copied.  The first subscript is the outermost loop.
template <Direction D, class A>
void walk(const A &sub, std::int64_t subOffset, int subDim, const A &dense,
          std::int64_t denseOffset, int denseDim, std::int64_t run,
          const DecodedSubscript *subscript) {
  if (subscript == nullptr) return;
  const DecodedSubscript *next = subscript + 1;
  switch (subscript->kind) {
  case SubscriptColon: {
    const std::int64_t n = sub.dims[subDim];
    const std::int64_t subBase = subOffset * n;
    const std::int64_t denseBase = denseOffset * dense.dims[denseDim];
    for (std::int64_t p = 0; p < n; ++p)
      walk<D>(sub, subBase + p, subDim + 1, dense, denseBase + p, denseDim + 1, run, next);
    break;
  }
  case SubscriptRange:
  case SubscriptStepRange: {
    const std::int64_t n = rangeCount(subscript->range);
    const std::int64_t subBase = subOffset * sub.dims[subDim];
    const std::int64_t denseBase = denseOffset * dense.dims[denseDim];
    for (std::int64_t j = 0; j < n; ++j)
      walk<D>(sub, subBase + rangePosition(subscript->range, j), subDim + 1, dense, denseBase + j,
              denseDim + 1, run, next);
    break;
  }
  case SubscriptVector: {
    const IntegerArray &v = subscript->vector;
    const std::int64_t n = v.dims[0];
    const std::int64_t subBase = subOffset * sub.dims[subDim];
    const std::int64_t denseBase = denseOffset * dense.dims[denseDim];
    for (std::int64_t i = 0; i < n; ++i)
      walk<D>(sub, subBase + v.data[i] - 1, subDim + 1, dense, denseBase + i, denseDim + 1, run,
              next);
    break;
  }
  case SubscriptScalar:
    walk<D>(sub, subOffset * sub.dims[subDim] + subscript->range.start - 1, subDim + 1, dense,
            denseOffset, denseDim, run, next);
    break;
  case SubscriptEnd:
    if constexpr (D == Direction::Gather)
      copyForward(dense.data + denseOffset * run, sub.data + subOffset * run, run);
    else
      copyForward(sub.data + subOffset * run, dense.data + denseOffset * run, run);
    break;
  }
}

template <class A>
void gather(const A &dest, int destOffset, int destDim, const A &src, int srcOffset, int srcDim,
            int runLength, const DecodedSubscript *subscript) {
  walk<Direction::Gather>(src, srcOffset, srcDim, dest, destOffset, destDim, runLength, subscript);
}

template <class A>
void scatter(const A &dest, int destOffset, int destDim, const A &src, int srcOffset, int srcDim,
             int runLength, const DecodedSubscript *subscript) {
  walk<Direction::Scatter>(dest, destOffset, destDim, src, srcOffset, srcDim, runLength, subscript);
}

// ---- the two operations ----------------------------------------------------------------------

template <class A> A subscript(const A &a, std::va_list &list) {
  int ndims;
  {
    VaCopy counting(list);
    ndims = resultNdims(a, counting.list());
  }
  int n;
  {
    VaCopy shape(list);
    ElementCount product;
    n = resultSizes(a, shape.list(), [&](std::int64_t size) { product.multiply(size); });
    product.count();
  }
  A r{ndims, sizeSlots(ndims, Storage::Thread), nullptr};
  {
    VaCopy shape(list);
    int d = 0;
    resultSizes(a, shape.list(), [&](std::int64_t size) { r.dims[d++] = static_cast<int>(size); });
  }
  r.data = elements<A>(count(r));
  const int run = countOf(a.ndims - n, a.dims + n);
  DecodedSubscript records[num_VA_handler];
  gather(r, 0, 0, a, 0, 0, run, SubscriptsFromVA(&list, records, num_VA_handler));
  return r;
}

template <class A> void subscriptAssign(const A &a, const A &out, std::va_list &list) {
  // The source is copied first (sizes, then elements), so that it may share
  // storage with the destination.
  A source = allocateLike(a);
  copyForward(source.data, a.data, count(a));
  int run;
  {
    VaCopy checks(list);
    run = assignmentRun(source, out, checks.list());
  }
  DecodedSubscript records[num_VA_handler];
  scatter(out, 0, 0, source, 0, 0, run, SubscriptsFromVA(&list, records, num_VA_handler));
}

} // namespace

// ---- decoding ----------------------------------------------------------------------------------

DecodedSubscript *SubscriptsFromVA(va_list *list, DecodedSubscript *records, int capacity) {
  if (capacity <= 0) return records;
  for (int i = 0;; ++i) {
    require(i + 4 < capacity, "i+4<num_VA_handler", "Out of memory for va_list");
    records[i] = readSubscript(*list);
    if (records[i].kind == SubscriptEnd) break;
  }
  return records;
}

// ---- exported names
// ------------------------------------------------------------------------------

RealArray RealSubscript(RealArray a, ...) {
  std::va_list list;
  va_start(list, a);
  VaEnd end(list);
  return subscript(a, list);
}
IntegerArray IntegerSubscript(IntegerArray a, ...) {
  std::va_list list;
  va_start(list, a);
  VaEnd end(list);
  return subscript(a, list);
}
StringArray StringSubscript(StringArray a, ...) {
  std::va_list list;
  va_start(list, a);
  VaEnd end(list);
  return subscript(a, list);
}

void RealSubscriptAssign(RealArray a, RealArray out, ...) {
  std::va_list list;
  va_start(list, out);
  VaEnd end(list);
  subscriptAssign(a, out, list);
}
void IntegerSubscriptAssign(IntegerArray a, IntegerArray out, ...) {
  std::va_list list;
  va_start(list, out);
  VaEnd end(list);
  subscriptAssign(a, out, list);
}
void StringSubscriptAssign(StringArray a, StringArray out, ...) {
  std::va_list list;
  va_start(list, out);
  VaEnd end(list);
  subscriptAssign(a, out, list);
}

void RealSubscriptGather(RealArray dest, int destOffset, int destDim, RealArray src, int srcOffset,
                         int srcDim, int runLength, const DecodedSubscript *subscript) {
  gather(dest, destOffset, destDim, src, srcOffset, srcDim, runLength, subscript);
}
void IntegerSubscriptGather(IntegerArray dest, int destOffset, int destDim, IntegerArray src,
                            int srcOffset, int srcDim, int runLength,
                            const DecodedSubscript *subscript) {
  gather(dest, destOffset, destDim, src, srcOffset, srcDim, runLength, subscript);
}
void StringSubscriptGather(StringArray dest, int destOffset, int destDim, StringArray src,
                           int srcOffset, int srcDim, int runLength,
                           const DecodedSubscript *subscript) {
  gather(dest, destOffset, destDim, src, srcOffset, srcDim, runLength, subscript);
}

void RealSubscriptScatter(RealArray dest, int destOffset, int destDim, RealArray src, int srcOffset,
                          int srcDim, int runLength, const DecodedSubscript *subscript) {
  scatter(dest, destOffset, destDim, src, srcOffset, srcDim, runLength, subscript);
}
void IntegerSubscriptScatter(IntegerArray dest, int destOffset, int destDim, IntegerArray src,
                             int srcOffset, int srcDim, int runLength,
                             const DecodedSubscript *subscript) {
  scatter(dest, destOffset, destDim, src, srcOffset, srcDim, runLength, subscript);
}
void StringSubscriptScatter(StringArray dest, int destOffset, int destDim, StringArray src,
                            int srcOffset, int srcDim, int runLength,
                            const DecodedSubscript *subscript) {
  scatter(dest, destOffset, destDim, src, srcOffset, srcDim, runLength, subscript);
}
