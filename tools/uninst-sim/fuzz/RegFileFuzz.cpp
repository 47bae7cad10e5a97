// libFuzzer target for the registry.reg reader. Whatever the reader accepts
// must survive a write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/uninst-sim/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace uninst::tool;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Outcome<RegDocument> first = ReadRegFile(bytes);
  if (!first.Ok()) return 0;
  Outcome<std::string> written =
      WriteRegFile(first.Value().keys, first.Value().format, first.Value().encoding);
  if (!written.Ok()) return 0;
  Outcome<RegDocument> second = ReadRegFile(written.Value());
  if (!second.Ok() || second.Value().format != first.Value().format ||
      second.Value().encoding != first.Value().encoding ||
      !(second.Value().keys == first.Value().keys)) {
    std::abort();
  }
  return 0;
}
