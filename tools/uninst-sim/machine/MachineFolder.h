// A simulated Windows machine kept in a host folder:
//
//   registry.reg   the registry below HKEY_LOCAL_MACHINE (required)
//   drive_c/ ...   one folder per drive letter
//   machine.ini    optional settings:
//                    [machine]
//                    windows = 98                     (or nt)
//                    oem_code_page = 437
//                    ansi_code_page = 1252
//                    time_zone_bias_minutes = -540
//                    windows_directory = C:\WINDOWS   (empty: the system gives none)
//                    [files]
//                    C:\WINDOWS\SYSTEM\X.VXD = readonly hidden 1999-03-03T12:00:00Z
//
// [files] gives attributes (readonly, hidden, system) and last-write times
// (UTC) that a folder under version control cannot keep; they are applied to
// the files each time the machine is set up. Entries for files that no longer
// exist are skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "tools/uninst-sim/Outcome.h"
#include "tools/uninst-sim/machine/AtomicFile.h"
#include "tools/uninst-sim/machine/MachineSettings.h"
#include "tools/uninst-sim/regfile/RegFile.h"

namespace uninst::tool {

constexpr char kRegistryFileName[] = "registry.reg";
constexpr char kSettingsFileName[] = "machine.ini";

struct DriveFolder {
  char letter = 'C';
  std::string folderName;  // "drive_c"
};

struct MachineFolder {
  std::string directory;
  RegDocument registry;  // its text in the machine's ANSI code page
  MachineSettings settings;
  std::vector<DriveFolder> drives;

  std::string HostPathOf(const DriveFolder& drive) const;
};

// Reads and checks everything without changing anything, and refuses a
// folder holding links, hard-linked files or special files (see --help).
Outcome<MachineFolder> ReadMachineFolder(const std::string& directory);

// Fills a fresh machine with the folder's registry, which moves into the
// machine, its settings and drives, and applies the [files] entries to the
// files.
void SetUpMachine(MachineFolder& folder, sim::SimMachine& machine);

// The registry text that would be written back, or why it cannot be; the
// registry holds text in the ANSI code page `codePage`.
Outcome<std::string> RegistryText(const sim::Registry& registry, RegFormat format,
                                  RegEncoding encoding, std::uint32_t codePage);
// Replaces registry.reg atomically. Returns "" on success.
std::string SaveRegistry(const MachineFolder& folder, const sim::Registry& registry,
                         const FileCalls& calls = SystemFileCalls());

}  // namespace uninst::tool
