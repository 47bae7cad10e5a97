// libFuzzer target for the version resource lookup in executable images: any
// bytes at all, and whatever range the lookup returns lies inside them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/sim/PeVersionReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace uninst;
  FixedFileInfo info{};
  const std::optional<sim::ByteRange> range = sim::FindVersionResource(data, size);
  if (range) {
    if (range->offset > size || range->size > size - range->offset) std::abort();
    sim::ReadFixedFileInfo(data + range->offset, range->size, &info);
  }
  sim::ReadFixedFileInfo(data, size, &info);
  return 0;
}
