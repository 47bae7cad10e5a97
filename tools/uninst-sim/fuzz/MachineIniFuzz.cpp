// libFuzzer target for machine.ini: any text is read or refused with a reason,
// and what is read holds only settings that make sense.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/uninst-sim/machine/MachineFolder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace uninst::tool;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Outcome<MachineSettings> settings = ReadMachineSettings(text);
  if (!settings.Ok()) {
    if (settings.Error().empty()) std::abort();
    return 0;
  }
  for (const FileSetting& file : settings.Value().files) {
    if (file.windowsPath.empty()) std::abort();
  }
  return 0;
}
