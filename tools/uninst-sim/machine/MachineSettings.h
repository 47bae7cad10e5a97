// machine.ini: the settings of a simulated machine (see MachineFolder.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/MachineConfig.h"
#include "tools/uninst-sim/Outcome.h"

namespace uninst::tool {

struct FileSetting {
  std::string windowsPath;
  std::optional<std::uint32_t> attributes;
  std::optional<std::int64_t> lastWriteUnixSeconds;
};

struct MachineSettings {
  // A folder written before the family could be chosen behaves as it did: NT.
  sim::WindowsFamily family = sim::WindowsFamily::kNt;
  std::uint32_t oemCodePage = 437;
  // Unset: the ANSI code page that goes with the OEM one.
  std::optional<std::uint32_t> ansiCodePage;
  int timeZoneBiasMinutes = 0;
  std::optional<sim::DaylightRule> daylight;
  std::optional<std::string> windowsDirectory = std::string("C:\\WINDOWS");
  std::vector<FileSetting> files;
  // What was read but is not as it should be, one line each.
  std::vector<std::string> warnings;
};

// `bytes`: UTF-8, or UTF-16 with its byte-order mark.
Outcome<MachineSettings> ReadMachineSettings(const std::string& bytes);

// `text` without the blanks and tabs around it, which machine.ini and
// --answers allow.
std::string TrimBlanks(const std::string& text);

// The ANSI code page of the settings: the one given, else 932 beside OEM 932
// and 1252 beside any other.
std::uint32_t AnsiCodePageOf(const MachineSettings& settings);

}  // namespace uninst::tool
