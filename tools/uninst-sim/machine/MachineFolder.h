// A simulated Windows machine kept in a host folder:
//
//   registry.reg   a regedit export holding HKEY_LOCAL_MACHINE, and maybe
//                  other roots (required)
//   HKCU.reg ...   other roots, one a file, as reg export writes them
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

#include "platform/sim/Journal.h"
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
  std::string directory;  // names the folder in messages only
  // The folder, opened once and locked: every later access goes through it.
  sim::UniqueFd fd;
  struct stat opened {};    // the folder's status when it was opened
  std::uint64_t mount = 0;  // the mount it lies on, which all it holds shares
  RegDocument registry;     // its text in the machine's ANSI code page
  // registry.reg as it was read, so that a save never replaces a later one.
  FileIdentity registryRead;
  mode_t registryMode = 0644;
  MachineSettings settings;
  std::vector<DriveFolder> drives;
  std::size_t fileCount = 0;  // the regular files below the drive folders

  std::string HostPathOf(const DriveFolder& drive) const;
};

// What a run does with the folder: a run that changes it holds it alone, a
// run that only reads it shares it with others that only read.
enum class FolderUse { kRead, kChange };

// Opens and locks the folder for `use`, then reads and checks everything
// without changing anything, and refuses a folder holding links, hard-linked
// files or special files (see --help), or one another uninst-sim holds.
Outcome<MachineFolder> ReadMachineFolder(const std::string& directory,
                                         FolderUse use = FolderUse::kRead);

// Fills a fresh machine with the folder's registry, which moves into the
// machine, its settings and drives, and applies the [files] entries to the
// files.
void SetUpMachine(MachineFolder& folder, sim::SimMachine& machine);

// Replaces registry.reg atomically with the file as read less what the
// journal says the run removed, unless it changed since it was read; the
// file replaced moves to `keepIn`/`keepAs` (-1: removed). `registry` is the
// run's, whose rules compare names. "" on success.
std::string SaveRegistry(const MachineFolder& folder, const sim::Registry& registry,
                         const sim::Journal& journal, const FileCalls& calls = SystemFileCalls(),
                         int keepIn = -1, const std::string& keepAs = "");

}  // namespace uninst::tool
