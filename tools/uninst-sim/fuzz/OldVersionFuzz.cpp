// libFuzzer target for the version resource lookup in NE and LE images: any
// bytes at all, and whatever range a lookup returns lies inside them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/sim/OldVersionReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace uninst;
  for (const auto find : {sim::FindNeVersionResource, sim::FindLeVersionResource}) {
    const std::optional<sim::ByteRange> range = find(data, size);
    if (!range) continue;
    if (range->offset > size || range->size > size - range->offset) std::abort();
    FixedFileInfo info{};
    sim::ReadFixedFileInfo(data + range->offset, range->size, &info);
  }
  return 0;
}
