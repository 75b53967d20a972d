// The record's live parts: a record initialised in zero-filled memory is the
// record initInstanceData makes, and a state copy carries every byte except
// the reserved block with its double, the work area and the resources folder.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/model_interface.h"

namespace {

struct FreeRecord {
  void operator()(ModelInstanceData *record) const { std::free(record); }
};
using Record = std::unique_ptr<ModelInstanceData, FreeRecord>;

Record zeroed() {
  return Record(static_cast<ModelInstanceData *>(std::calloc(1, sizeof(ModelInstanceData))));
}

Record filledWith(unsigned char byte) {
  Record r(static_cast<ModelInstanceData *>(std::malloc(sizeof(ModelInstanceData))));
  std::memset(static_cast<void *>(r.get()), byte, sizeof(ModelInstanceData));
  return r;
}

const unsigned char *bytes(const ModelInstanceData *record) {
  return reinterpret_cast<const unsigned char *>(record);
}

TEST(InstanceDataParts, ARecordInZeroedMemoryIsTheTemplateCopy) {
  // Also with values in the template that its static initialisation does not
  // give it (dsblock_ evaluates the template) and with its own ring block.
  Record saved = filledWith(0);
  std::memcpy(static_cast<void *>(saved.get()), &defaultInstanceData, sizeof(ModelInstanceData));
  double block[8] = {};
  for (bool changed : {false, true}) {
    SCOPED_TRACE(changed ? "changed template" : "template as initialised");
    if (changed) {
      defaultInstanceData.eventPhase = 3;
      defaultInstanceData.delayBuffers[0] = DelayBuffer{block, block + 4, 1.0, 4, 0, 1, 3};
      defaultInstanceData.tailMarker = -1e33;
      std::strcpy(defaultInstanceData.resourcePath, "/template/resources/");
    }
    Record made = zeroed();
    initZeroedInstanceData(made.get());
    Record copied = filledWith(0xA5);
    initInstanceData(copied.get());
    EXPECT_EQ(std::memcmp(made.get(), copied.get(), sizeof(ModelInstanceData)), 0);
    EXPECT_EQ(made->delayBuffers[0].times, nullptr);
  }
  std::memcpy(static_cast<void *>(&defaultInstanceData), saved.get(), sizeof(ModelInstanceData));
  initZeroedInstanceData(nullptr); // nothing for null
}

TEST(InstanceDataParts, AStateCopyCarriesEverythingButTheRegionsThatHoldNothing) {
  struct Kept {
    const char *what;
    size_t offset;
    size_t size;
  };
  const Kept kept[] = {
      {"reserved block and its double", offsetof(ModelInstanceData, reservedBlock),
       offsetof(ModelInstanceData, reservedCount) - offsetof(ModelInstanceData, reservedBlock)},
      {"work area", offsetof(ModelInstanceData, workArea), sizeof(double) * kWorkAreaSize},
      {"resources folder", offsetof(ModelInstanceData, resourcePath), kResourcePathSize},
  };
  Record source = filledWith(0x11);
  Record destination = filledWith(0x22);
  copyInstanceDataState(destination.get(), *source);
  size_t first = 0;
  for (const Kept &k : kept) {
    SCOPED_TRACE(k.what);
    for (size_t at = first; at < k.offset; ++at)
      ASSERT_EQ(bytes(destination.get())[at], 0x11) << at;
    for (size_t at = k.offset; at < k.offset + k.size; ++at) {
      ASSERT_EQ(bytes(destination.get())[at], 0x22) << at;
    }
    first = k.offset + k.size;
  }
  EXPECT_EQ(first, sizeof(ModelInstanceData));

  copyInstanceDataState(source.get(), *source); // a record onto itself: nothing
  for (size_t at = 0; at < sizeof(ModelInstanceData); ++at)
    ASSERT_EQ(bytes(source.get())[at], 0x11);
}

} // namespace
