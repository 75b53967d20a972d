// Record fields, views and dimension reversal, written once over the three
// records and exported under their C names.
//
// Members of records are read with memcpy from their byte offsets, so that
// no member needs any particular alignment.
#include "source/arrays/array_fields.h"

#include "source/arrays/array_private.h"

#include <cstring>

using namespace arrays;

namespace {

// ---- record arrays -----------------------------------------------------------

// The layout of a record array: records of `length` 8-byte units.
struct Records {
  const unsigned char *bytes; // first record
  std::int64_t length;        // bytes per record
  int ndims;                  // dimensions of the record array without the last
};

// A record array has at least one dimension: its last size is the record
// length.
Records recordsOf(const RealArray &a) {
  requireNdims(a.ndims - 1);
  return {reinterpret_cast<const unsigned char *>(a.data), std::int64_t{8} * a.dims[a.ndims - 1],
          a.ndims - 1};
}

template <class T> T memberOf(const Records &records, std::int64_t r, int offset) {
  T value;
  std::memcpy(&value, records.bytes + r * records.length + offset, sizeof value);
  return value;
}

template <class A> A recordField(const RealArray &a, int offset) {
  const Records records = recordsOf(a);
  const A r = allocate<A>(records.ndims, a.dims);
  const int n = count(r);
  for (int k = 0; k < n; ++k) r.data[k] = memberOf<Element<A>>(records, k, offset);
  return r;
}

// Every member must have record 0's shape.  The element count is checked
// before anything is allocated; the shapes are tested record by record after
// the result's storage is taken.
template <class A> A recordSlice(const RealArray &a, int offset) {
  require(count(a) > 0, "RealNrElements(a)>0", "Can only make record slices of non-empty arrays");
  const Records records = recordsOf(a);
  const A elem = memberOf<A>(records, 0, offset);
  const int lenElem = count(elem);
  const int lenA = countOf(records.ndims, a.dims);
  const std::int64_t lenTemp = std::int64_t{lenA} * lenElem;
  require(lenTemp <= kMaxElements, "lenTemp==lenA*lenElem", "Consistency");
  A r{requireCount(std::int64_t{records.ndims} + elem.ndims), nullptr, nullptr};
  r.dims = sizeSlots(r.ndims, Storage::Thread);
  copyForward(r.dims, a.dims, records.ndims);
  copyForward(r.dims + records.ndims, elem.dims, elem.ndims);
  r.data = elements<A>(static_cast<int>(lenTemp));
  for (int k = 0; k < lenA; ++k) {
    const A elemi = memberOf<A>(records, k, offset);
    require(sameShape(elemi, elem),
            typed<A>("RealMatchingSizes(elemi,elem)", "IntegerMatchingSizes(elemi,elem)",
                     "StringMatchingSizes(elemi,elem)"),
            "Can only slice homogenous record arrays");
    copyForward(r.data + std::int64_t{k} * lenElem, elemi.data, lenElem);
  }
  return r;
}

// ---- views ---------------------------------------------------------------------

template <class A> A subArray(int k, int block, const A &a) {
  const std::int64_t run = countOf(a.ndims - k, a.dims + k);
  return A{a.ndims - k, a.dims + k, a.data + block * run};
}

// ---- reversal --------------------------------------------------------------------
// The recursion goes one level per dimension; the innermost level is a
// strided loop.

template <class A>
void reverseStep(const A &dest, std::int64_t base, const A &src, std::int64_t offset,
                 std::int64_t stride, int level) {
  const std::int64_t n = dest.dims[level];
  if (level < src.ndims - 1) {
    for (std::int64_t i = 0; i < n; ++i)
      reverseStep(dest, base * n + i, src, offset + i * stride, stride * n, level + 1);
  } else {
    for (std::int64_t i = 0; i < n; ++i) dest.data[base * n + i] = src.data[offset + i * stride];
  }
}

// An empty source has nothing to move (and its leading sizes may be large);
// a 0-dimensional one moves its only element.
template <class A> void reverseInto(const A &dest, const A &src) {
  if (src.ndims == 0) {
    dest.data[0] = src.data[0];
    return;
  }
  if (count(src) == 0) return;
  reverseStep(dest, 0, src, 0, 1, 0);
}

template <class A> A reverse(const A &a) {
  if (a.ndims <= 1) return a;
  const A r = allocateLike(a);
  for (int i = 0; i < a.ndims; ++i) r.dims[i] = a.dims[a.ndims - 1 - i];
  reverseInto(r, a);
  return r;
}

} // namespace

// ---- record arrays -------------------------------------------------------------------

RealArray RealRecordField(RealArray a, int offset) { return recordField<RealArray>(a, offset); }
IntegerArray IntegerRecordField(RealArray a, int offset) {
  return recordField<IntegerArray>(a, offset);
}
StringArray StringRecordField(RealArray a, int offset) {
  return recordField<StringArray>(a, offset);
}

RealArray RealRecordSlice(RealArray a, int offset) { return recordSlice<RealArray>(a, offset); }
IntegerArray IntegerRecordSlice(RealArray a, int offset) {
  return recordSlice<IntegerArray>(a, offset);
}
StringArray StringRecordSlice(RealArray a, int offset) {
  return recordSlice<StringArray>(a, offset);
}

IntegerArray RealRecordDims(RealArray a) {
  const IntegerArray b = RealSizeVector(a);
  require(b.ndims > 0 && b.dims[0] > 0, "b.ndims>0 && b.dims[0]>0", "Error in record logic");
  b.dims[0] -= 1;
  return b;
}

// ---- views ---------------------------------------------------------------------------

RealArray RealSubArray(int k, int block, RealArray a) { return subArray(k, block, a); }
IntegerArray IntegerSubArray(int k, int block, IntegerArray a) { return subArray(k, block, a); }
StringArray StringSubArray(int k, int block, StringArray a) { return subArray(k, block, a); }
RealArray RealSubArrayView(int k, int block, RealArray a) { return subArray(k, block, a); }
int RealSizeDim(RealArray a, int i) { return RealSize(a, i); }

// ---- reversal ------------------------------------------------------------------------

RealArray RealReverseDims(RealArray a) { return reverse(a); }
IntegerArray IntegerReverseDims(IntegerArray a) { return reverse(a); }
StringArray StringReverseDims(StringArray a) { return reverse(a); }

void RealReverseDimsInto(RealArray dest, RealArray src) { reverseInto(dest, src); }
void IntegerReverseDimsInto(IntegerArray dest, IntegerArray src) { reverseInto(dest, src); }
void StringReverseDimsInto(StringArray dest, StringArray src) { reverseInto(dest, src); }

void RealReverseDimsStep(RealArray dest, int base, RealArray src, int offset, int stride,
                         int level) {
  reverseStep(dest, base, src, offset, stride, level);
}
void IntegerReverseDimsStep(IntegerArray dest, int base, IntegerArray src, int offset, int stride,
                            int level) {
  reverseStep(dest, base, src, offset, stride, level);
}
void StringReverseDimsStep(StringArray dest, int base, StringArray src, int offset, int stride,
                           int level) {
  reverseStep(dest, base, src, offset, stride, level);
}
