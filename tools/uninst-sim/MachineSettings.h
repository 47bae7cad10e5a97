// machine.ini: the settings of a simulated machine (see MachineFolder.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/uninst-sim/Outcome.h"

namespace uninst::tool {

struct FileSetting {
  std::string windowsPath;
  std::optional<std::uint32_t> attributes;
  std::optional<std::int64_t> lastWriteUnixSeconds;
};

struct MachineSettings {
  std::uint32_t oemCodePage = 437;
  int timeZoneBiasMinutes = 0;
  std::optional<std::string> windowsDirectory = std::string("C:\\WINDOWS");
  std::vector<FileSetting> files;
};

Outcome<MachineSettings> ReadMachineSettings(const std::string& text);

}  // namespace uninst::tool
