#include "tools/uninst-sim/machine/MachineCheck.h"

#include <algorithm>
#include <cctype>

#include "platform/sim/CodePage.h"

namespace uninst::tool {

namespace {

// The drive C: holds the setup catalogue's INF copies, whatever the windows
// directory.
constexpr char kCatalogueDrive = 'C';

bool HasDrive(const MachineFolder& folder, char letter) {
  return std::any_of(folder.drives.begin(), folder.drives.end(),
                     [letter](const DriveFolder& drive) { return drive.letter == letter; });
}

std::string DriveFolderName(char letter) {
  return std::string("drive_") +
         static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
}

// The drive letter of "X:\...", or 0.
char DriveLetterOf(const std::string& path) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) {
    return 0;
  }
  return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
}

// The machine's drives, seen as the program sees them, without changing them.
void MapDrives(const MachineFolder& folder, sim::SimMachine& probe) {
  probe.KeepHostUnchanged();
  probe.Config().family = folder.settings.family;
  probe.Config().ansiCodePage = AnsiCodePageOf(folder.settings);
  for (const DriveFolder& drive : folder.drives) {
    probe.MapDrive(drive.letter, folder.HostPathOf(drive),
                   sim::OpenDirectoryAt(folder.fd.Get(), drive.folderName));
  }
}

// `directory` in the ANSI code page, `shown` as people read it.
std::string WindowsDirectoryProblem(const MachineFolder& folder, sim::SimMachine& probe,
                                    const std::string& directory, const std::string& shown) {
  const char letter = DriveLetterOf(directory);
  if (letter != 0 && !HasDrive(folder, letter)) {
    return "the windows directory " + shown + " is on drive " + letter + ":, which has no folder " +
           DriveFolderName(letter);
  }
  const std::uint32_t attributes = probe.AttributesOf(directory);
  if (attributes == kInvalidFileAttributes) {
    return "the windows directory " + shown + " does not exist" +
           (letter != 0 ? " in " + DriveFolderName(letter) : " (it names no drive)");
  }
  if ((attributes & kFileAttributeDirectory) == 0) {
    return "the windows directory " + shown + " is a file, not a folder";
  }
  return "";
}

const char* FamilyName(sim::WindowsFamily family) {
  return family == sim::WindowsFamily::k9x ? "Windows 95/98/Me" : "Windows NT/2000/XP";
}

}  // namespace

std::string DescribeMachine(const MachineFolder& folder) {
  const MachineSettings& settings = folder.settings;
  std::size_t keys = 0;
  folder.registry.registry.VisitKeys(
      [&keys](const std::string&, const sim::Registry::Node&) { ++keys; });
  return std::string("Machine: ") + FamilyName(settings.family) + " family, ANSI code page " +
         std::to_string(AnsiCodePageOf(settings)) + ", OEM code page " +
         std::to_string(settings.oemCodePage) + ", windows directory " +
         settings.windowsDirectory.value_or("(none)") + ", " + std::to_string(keys) +
         " registry keys, " + std::to_string(folder.fileCount) + " files";
}

std::vector<std::string> MachineWarnings(const MachineFolder& folder,
                                         const std::optional<std::string>& switchDirectory) {
  std::vector<std::string> warnings = folder.settings.warnings;
  sim::SimMachine probe;
  MapDrives(folder, probe);
  const std::uint32_t codePage = AnsiCodePageOf(folder.settings);
  const auto inCodePage = [codePage](const std::string& utf8) {
    return sim::Utf8ToCodePage(codePage, utf8).value_or(utf8);
  };
  std::optional<std::string> directory;
  std::string shown;
  if (switchDirectory) {
    directory = *switchDirectory;
    shown = sim::CodePageToUtf8Lossy(codePage, *switchDirectory) + " (given by /D)";
  } else if (folder.settings.windowsDirectory) {
    directory = inCodePage(*folder.settings.windowsDirectory);
    shown = *folder.settings.windowsDirectory;
  }
  const std::string problem =
      directory ? WindowsDirectoryProblem(folder, probe, *directory, shown) : "";
  if (!problem.empty()) warnings.push_back(problem);
  const bool saidDriveC = !problem.empty() && DriveLetterOf(*directory) == kCatalogueDrive;
  if (!HasDrive(folder, kCatalogueDrive) && !saidDriveC) {
    warnings.push_back(
        "there is no folder drive_c: drive C:, where the setup catalogue's INF "
        "copies are, does not exist");
  }
  for (const FileSetting& setting : folder.settings.files) {
    if (probe.AttributesOf(inCodePage(setting.windowsPath)) == kInvalidFileAttributes) {
      warnings.push_back("machine.ini: the [files] entry " + setting.windowsPath +
                         " matches no file of the machine");
    }
  }
  return warnings;
}

}  // namespace uninst::tool
