// libFuzzer target for the registry.reg reader. Whatever the reader accepts
// must survive a write and a second read unchanged, keys in the order the
// file created them included.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/uninst-sim/regfile/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace uninst::tool;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Outcome<RegDocument> first = ReadRegFile(bytes);
  if (!first.Ok()) return 0;
  uninst::sim::Registry created(uninst::sim::WindowsFamily::k9x);
  created.TakeKeys(first.Value().registry);
  Outcome<std::string> written =
      WriteRegFile(created, first.Value().format, first.Value().encoding);
  if (!written.Ok()) return 0;
  Outcome<RegDocument> second = ReadRegFile(written.Value());
  if (!second.Ok()) std::abort();
  uninst::sim::Registry again(uninst::sim::WindowsFamily::k9x);
  again.TakeKeys(second.Value().registry);
  if (second.Value().format != first.Value().format ||
      second.Value().encoding != first.Value().encoding ||
      SnapshotOf(again) != SnapshotOf(created)) {
    std::abort();
  }
  return 0;
}
