// Evaluation memory: the per-thread record, the bump buffers with their
// exhaustion messages, marks, the character area and the persistent buffers.
#include "platform/heap.h"
#include "platform/threadslot.h"
#include "source/ModelicaUtilities.h"
#include "source/error_path.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"
#include "tests/runtime/support.h"

#include <barrier>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

using MemoryTest = RuntimeTest;

std::string assertionText(const char *message, const char *condition) {
  return std::string("  ") + message + "\n  Failed condition: " + condition;
}

// Runs body under a recovery point; whether the error path was taken.
bool fails(const std::function<void()> &body) {
  ErrorRecoveryScope scope;
  return !scope.run(body);
}

const char *const kRealMessage =
    "Out of memory for reals\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can change the memory size by setting the variable "
    "Advanced.RealBufferSize.";
const char *const kIntegerMessage =
    "Out of memory for integers\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Integerbuffer' in "
    "pralix/source/matrixop.";
const char *const kSizeMessage =
    "Out of memory for array dimensions\nIt could due to too many matrices, infinite "
    "recursion, or uninitialized variables.\nYou can increase the size of 'Sizebuffer' in "
    "pralix/source/matrixop.";
const char *const kStringMessage =
    "Out of memory for strings\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Stringbuffer' in "
    "pralix/source/matrixop.";

struct BufferCase {
  const char *name;
  int size;
  std::function<const void *(int)> alloc;
  const char *condition;
  const char *message;
};

const BufferCase kThreadBuffers[] = {
    {"Realbuffer", RealbufferSize, [](int n) -> const void * { return allocRealbuffer(n); },
     "currentMark.place.Realbuffer<EndRealbuffer", kRealMessage},
    {"Integerbuffer", IntegerbufferSize,
     [](int n) -> const void * { return allocIntegerbuffer(n); },
     "currentMark.place.Integerbuffer<EndIntegerbuffer", kIntegerMessage},
    {"Sizebuffer", SizebufferSize, [](int n) -> const void * { return allocSizebuffer(n); },
     "currentMark.place.Sizebuffer<EndSizebuffer", kSizeMessage},
    {"Stringbuffer", StringbufferSize, [](int n) -> const void * { return allocStringbuffer(n); },
     "currentMark.place.Stringbuffer<EndStringbuffer", kStringMessage},
};

TEST(ThreadRecord, RecordAloneHasNoBuffersAndAnIdleThreadAllocatesNothing) {
  ThreadContext copy{};
  ThreadContext *seen = nullptr;
  std::thread([&] {
    seen = getThreadContext();
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(getThreadContext(), seen);
    copy = *seen;
  }).join();
  const ThreadContext zero{};
  EXPECT_EQ(std::memcmp(&copy, &zero, sizeof zero), 0) << "the record starts zero-filled";

  ThreadContext *found = reinterpret_cast<ThreadContext *>(1);
  std::thread([&] { found = findThreadContext(); }).join();
  EXPECT_EQ(found, nullptr) << "looking the record up does not create it";
}

TEST_F(MemoryTest, BuffersGiveAllButTheirLastElementThenFailWithTheirMessage) {
  for (const BufferCase &c : kThreadBuffers) {
    SCOPED_TRACE(c.name);
    endEvaluation();
    clearMessages();
    const void *first = nullptr;
    EXPECT_FALSE(fails([&] { first = c.alloc(c.size - 1); }));
    EXPECT_FALSE(fails([&] { c.alloc(0); }));
    endEvaluation();
    EXPECT_EQ(c.alloc(1), first) << "endEvaluation starts over at the buffer start";

    endEvaluation();
    fakeInstance().status = 0;
    EXPECT_TRUE(fails([&] { c.alloc(c.size); }));
    EXPECT_EQ(fakeInstance().status, 1);
    const auto texts = capturedTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], assertionText(c.message, c.condition));
    EXPECT_TRUE(fails([&] { c.alloc(1); })) << "an exhausted buffer stays exhausted";
    EXPECT_TRUE(fails([&] { c.alloc(0); }));

    endEvaluation();
    EXPECT_EQ(c.alloc(1), first);
  }
}

TEST_F(MemoryTest, NegativeAndHugeRequestsFailWithoutMovingPastTheBuffer) {
  for (const BufferCase &c : kThreadBuffers) {
    for (int n : {-1, -1000000, 2147483647}) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(n));
      endEvaluation();
      clearMessages();
      EXPECT_TRUE(fails([&] { c.alloc(n); }));
      const auto texts = capturedTexts();
      ASSERT_EQ(texts.size(), 2u);
      EXPECT_EQ(texts[1], assertionText(c.message, c.condition));
      ThreadContext *t = getThreadContext();
      // Every position stays within its buffer (at most one past its end).
      EXPECT_LE(t->currentMark.place.Realbuffer, t->EndRealbuffer);
      EXPECT_GE(t->currentMark.place.Realbuffer, t->startMark.place.Realbuffer);
      EXPECT_LE(t->currentMark.place.Integerbuffer, t->EndIntegerbuffer);
      EXPECT_LE(t->currentMark.place.Sizebuffer, t->EndSizebuffer);
      EXPECT_LE(t->currentMark.place.Stringbuffer, t->EndStringbuffer);
    }
  }
}

TEST_F(MemoryTest, MarksReleaseExactlyWhatWasAllocatedSinceTheirSave) {
  allocRealbuffer(3);
  allocIntegerbuffer(2);
  ThreadContext *t = getThreadContext();
  const MemoryMark before = t->currentMark;

  MemoryMark saved = saveMark();
  EXPECT_EQ(std::memcmp(&saved, &before, sizeof saved), 0);
  EXPECT_EQ(t->currentMark.savedPlace.Realbuffer, before.place.Realbuffer);
  double *r = allocRealbuffer(10);
  allocSizebuffer(4);
  allocStringbuffer(5);
  EXPECT_EQ(r, before.place.Realbuffer);

  releaseToSavedPlace();
  EXPECT_EQ(std::memcmp(&t->currentMark.place, &before.place, sizeof(BufferPlace)), 0);

  allocRealbuffer(7);
  restoreMark(saved);
  EXPECT_EQ(std::memcmp(&t->currentMark, &before, sizeof before), 0)
      << "both parts of the mark, savedPlace included";

  BufferPlace place{};
  saveMarkPlace(&place);
  EXPECT_EQ(std::memcmp(&place, &before.place, sizeof place), 0);
  saveMarkPlace(nullptr);

  resetMarks();
  EXPECT_EQ(std::memcmp(&t->currentMark, &t->startMark, sizeof(MemoryMark)), 0);
}

TEST_F(MemoryTest, MarkGuardReleasesOnReturnButKeepsTemporariesOfAFailedEvaluation) {
  ThreadContext *t = getThreadContext();
  allocRealbuffer(1);
  double *const start = t->currentMark.place.Realbuffer;
  {
    MarkGuard guard;
    allocRealbuffer(100);
  }
  EXPECT_EQ(t->currentMark.place.Realbuffer, start);

  EXPECT_TRUE(fails([&] {
    MarkGuard guard;
    allocRealbuffer(100);
    raiseModelError("boom");
  }));
  EXPECT_EQ(t->currentMark.place.Realbuffer, start + 100)
      << "the error path leaves the temporaries until the next completed evaluation";
}

TEST_F(MemoryTest, CharacterAreaHandsOutAllButItsLastCharacter) {
  char *start = getStringMark();
  ASSERT_NE(start, nullptr);
  char *s = nullptr;
  EXPECT_FALSE(fails([&] { s = allocSimplestring(9998); }));
  EXPECT_EQ(s, start);
  EXPECT_EQ(getStringMark(), start + 9999);

  endEvaluation();
  for (int len : {9999, -1, -2147483647 - 1, 2147483647}) {
    SCOPED_TRACE(len);
    clearMessages();
    EXPECT_TRUE(fails([&] { allocSimplestring(len); }));
    EXPECT_EQ(getStringMark(), start) << "a failed request does not move the mark";
    const auto texts = capturedTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1],
              assertionText("Room to allocate string", "stringmark+len+1<Endsimplestring"));
  }

  setStringMark(start + 5);
  EXPECT_EQ(getStringMark(), start + 5);
  setStringMark(nullptr);
  EXPECT_EQ(getStringMark(), start + 5);
}

TEST_F(MemoryTest, ReleaseStringsKeepingMovesAKeptStringDownToTheMark) {
  char *mark = getStringMark();
  char *junk = allocSimplestring(20);
  std::strcpy(junk, "temporary");
  char *kept = allocSimplestring(5);
  std::strcpy(kept, "hello");

  const char *result = releaseStringsKeeping(kept, mark);
  EXPECT_EQ(result, mark);
  EXPECT_STREQ(result, "hello");
  EXPECT_EQ(getStringMark(), mark + 6) << "just behind the terminator";

  // A string below the mark (or outside the area) only releases to the mark.
  char *low = mark;
  char *newMark = allocSimplestring(3);
  allocSimplestring(10);
  const char *literal = "literal";
  EXPECT_EQ(releaseStringsKeeping(literal, newMark), literal);
  EXPECT_EQ(getStringMark(), newMark);
  EXPECT_EQ(releaseStringsKeeping(low, newMark), low);
  EXPECT_EQ(getStringMark(), newMark);

  // A string that reaches beyond the allocated part is left alone.
  char *half = allocSimplestring(2);
  std::memcpy(half, "abcdef", 7); // writes past the two allocated characters
  char *const markBefore = getStringMark();
  EXPECT_EQ(releaseStringsKeeping(half, newMark), half);
  EXPECT_EQ(getStringMark(), markBefore);
}

TEST_F(MemoryTest, ReleasedBuffersComeBackFreshAndZeroFilled) {
  double *r = allocRealbuffer(4);
  for (int i = 0; i < 4; ++i) r[i] = 42.0;
  allocRealbuffer(10);
  char *s = allocSimplestring(3);
  std::strcpy(s, "abc");
  ThreadContext *t = getThreadContext();
  t->externalCallState = 7;

  releaseThreadBuffers();
  EXPECT_EQ(t->EndRealbuffer, nullptr);
  EXPECT_EQ(t->simplestring, nullptr);
  EXPECT_EQ(t->currentMark.place.Realbuffer, nullptr);
  EXPECT_EQ(t->externalCallState, 7) << "only the buffers go";

  double *fresh = allocRealbuffer(4);
  EXPECT_EQ(fresh, t->startMark.place.Realbuffer) << "starts at the new buffer's beginning";
  for (int i = 0; i < 4; ++i) EXPECT_EQ(fresh[i], 0.0);
  EXPECT_EQ(getStringMark(), t->simplestring);
  EXPECT_EQ(t->simplestring[0], '\0');
  freeThreadBuffers(nullptr);
}

TEST_F(MemoryTest, EndEvaluationResetsMarksStackAndExternalState) {
  ThreadContext *t = getThreadContext();
  allocRealbuffer(5);
  allocSimplestring(5);
  FunctionStackEntry entry{"f", nullptr};
  t->functionStack = &entry;
  t->externalCallState = 3;
  endEvaluation();
  EXPECT_EQ(std::memcmp(&t->currentMark, &t->startMark, sizeof(MemoryMark)), 0);
  EXPECT_EQ(getStringMark(), t->simplestring);
  EXPECT_EQ(t->functionStack, nullptr);
  EXPECT_EQ(t->externalCallState, 0);
}

TEST_F(MemoryTest, CopyStringToNonCopiesOnlyStringsOfTheCharacterArea) {
  const char *literal = "constant text";
  char *const before = startstringmarkNon;
  EXPECT_EQ(copyStringToNon(literal), literal);
  EXPECT_EQ(startstringmarkNon, before);

  char *temp = allocSimplestring(4);
  std::strcpy(temp, "abcd");
  char *copy = copyStringToNon(temp);
  EXPECT_NE(copy, temp);
  EXPECT_EQ(copy, before);
  EXPECT_STREQ(copy, "abcd");
  EXPECT_EQ(startstringmarkNon, before + 5);
  EXPECT_EQ(copyStringToNon(copy), copy) << "an already persistent string stays";
}

// The persistent buffers are process-wide and never released; the test puts
// their positions back so that it can exhaust them.
TEST_F(MemoryTest, PersistentBuffersFailAtTheirBoundWithTheSameMessages) {
  struct NonCase {
    const char *name;
    std::function<int()> room;
    std::function<const void *(int)> alloc;
    const char *condition;
    const char *message;
  };
  const NonCase cases[] = {
      {"RealbufferNon", [] { return int(EndRealbufferNon - currentMarkNon.place.Realbuffer); },
       [](int n) -> const void * { return allocRealbufferNon(n); },
       "currentMarkNon.place.Realbuffer<EndRealbufferNon", kRealMessage},
      {"IntegerbufferNon",
       [] { return int(EndIntegerbufferNon - currentMarkNon.place.Integerbuffer); },
       [](int n) -> const void * { return allocIntegerbufferNon(n); },
       "currentMarkNon.place.Integerbuffer<EndIntegerbufferNon", kIntegerMessage},
      {"SizebufferNon", [] { return int(EndSizebufferNon - currentMarkNon.place.Sizebuffer); },
       [](int n) -> const void * { return allocSizebufferNon(n); },
       "currentMarkNon.place.Sizebuffer<EndSizebufferNon", kSizeMessage},
      {"StringbufferNon",
       [] { return int(EndStringbufferNon - currentMarkNon.place.Stringbuffer); },
       [](int n) -> const void * { return allocStringbufferNon(n); },
       "currentMarkNon.place.Stringbuffer<EndStringbufferNon", kStringMessage},
  };
  EXPECT_EQ(EndRealbufferNon - RealbufferNonStart(), 70000);
  EXPECT_EQ(EndIntegerbufferNon - IntegerbufferNonStart(), 500000);
  EXPECT_EQ(EndSizebufferNon - SizebufferNonStart(), 500000);
  EXPECT_EQ(EndStringbufferNon - StringbufferNonStart(), 10000);
  const MemoryMark saved = currentMarkNon;
  for (const NonCase &c : cases) {
    SCOPED_TRACE(c.name);
    clearMessages();
    const int room = c.room();
    EXPECT_FALSE(fails([&] { c.alloc(room - 1); }));
    EXPECT_EQ(c.room(), 1);
    EXPECT_TRUE(fails([&] { c.alloc(1); })) << "the last element is never handed out";
    const auto texts = capturedTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], assertionText(c.message, c.condition));
    EXPECT_TRUE(fails([&] { c.alloc(-1); }));
  }
  currentMarkNon = saved;
}

TEST_F(MemoryTest, TwoThreadsEvaluatingAtOnceUseSeparateBuffers) {
  std::barrier sync(2);
  double *seen[2] = {};
  bool intact[2] = {};
  auto worker = [&](int k) {
    double *r = allocRealbuffer(1000);
    for (int i = 0; i < 1000; ++i) r[i] = k + i;
    seen[k] = r;
    sync.arrive_and_wait(); // both threads hold their temporaries now
    double *more = allocRealbuffer(1000);
    for (int i = 0; i < 1000; ++i) more[i] = -k;
    sync.arrive_and_wait();
    bool ok = true;
    for (int i = 0; i < 1000; ++i) ok = ok && r[i] == k + i;
    intact[k] = ok;
    endEvaluation();
  };
  const int recordsBefore = platform::threadSlotCount();
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  EXPECT_EQ(platform::threadSlotCount(), recordsBefore) << "ended threads released their records";
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_TRUE(intact[0]);
  EXPECT_TRUE(intact[1]);
}

} // namespace

namespace {

TEST_F(MemoryTest, StringElementsToNonMovesOnlyTheCharactersOfTemporaries) {
  struct Strings {
    int ndims;
    int *dims;
    char **data;
  };
  int dims[2] = {1, 2};
  char *temp = allocSimplestring(2);
  std::strcpy(temp, "hi");
  char literal[] = "lit";
  char *data[2] = {temp, literal};
  const Strings a{2, dims, data};
  const Strings b = StringElementsToNon(a);
  EXPECT_EQ(b.data, data);
  EXPECT_EQ(b.dims, dims);
  EXPECT_NE(data[0], temp) << "the caller's array sees the persistent copy";
  EXPECT_STREQ(data[0], "hi");
  EXPECT_EQ(data[1], literal);
}

} // namespace

namespace {

// When the heap refuses the record or a buffer, nothing half-made is kept and
// the allocators report their buffer as exhausted.
TEST_F(MemoryTest, HeapFailuresLeaveNoRecordOrNoBuffersAndFailAllocations) {
  for (int n = 1; n <= 6; ++n) {
    SCOPED_TRACE(n);
    std::thread([n] {
      platform::heapFailFrom(n);
      ThreadContext *t = getThreadContext();
      EXPECT_EQ(t == nullptr, n == 1) << "the record is the first allocation";
      EXPECT_TRUE(fails([] { allocIntegerbuffer(1); }));
      EXPECT_TRUE(fails([] { allocSimplestring(1); }));
      EXPECT_EQ(ModelicaAllocateStringWithErrorReturn(1), nullptr);
      const MemoryMark m = saveMark();
      EXPECT_EQ(m.place.Realbuffer, nullptr);
      restoreMark(m);
      endEvaluation();
      EXPECT_EQ(getStringMark(), nullptr);
      if (t != nullptr) {
        EXPECT_EQ(t->EndRealbuffer, nullptr);
      }
      platform::heapFailFrom(0);
      EXPECT_FALSE(fails([] { allocIntegerbuffer(1); })) << "works once the heap gives again";
    }).join();
  }
  EXPECT_EQ(fakeInstance().status, 0);
}

TEST_F(MemoryTest, HeapFailureReportsTheBufferMessage) {
  std::thread([] {
    platform::heapFailFrom(1);
    EXPECT_TRUE(fails([] { allocRealbuffer(1); }));
    platform::heapFailFrom(0);
  }).join();
  const auto texts = capturedTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1], assertionText(kRealMessage, "currentMark.place.Realbuffer<EndRealbuffer"));
}

} // namespace
