#include "tools/uninst-sim/machine/MachineFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/sim/CodePage.h"
#include "platform/sim/HostFiles.h"
#include "tools/uninst-sim/machine/FolderRules.h"
#include "tools/uninst-sim/regfile/TextCodec.h"

namespace uninst::tool {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLargestMachineFile = std::size_t{1} << 30;

constexpr char kConfinementRule[] =
    ": a machine folder may hold only folders and regular files with a single name (see --help)";

// registry.reg or machine.ini, read without following a link or blocking.
std::string ReadMachineFile(int machine, const std::string& directory, const char* name,
                            std::string* bytes, bool* missing, struct stat* read = nullptr) {
  const std::string path = (fs::path(directory) / name).string();
  struct stat status {};
  if (::fstatat(machine, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    *missing = errno == ENOENT;
    return *missing ? path + " is missing" : SystemError("cannot read", path);
  }
  struct stat target {};
  if (S_ISLNK(status.st_mode) && ::fstatat(machine, name, &target, 0) != 0) {
    return path + " is a dangling symbolic link" + kConfinementRule;
  }
  std::string refusal = Refusal(path, status);
  if (!refusal.empty()) return refusal;
  if (S_ISDIR(status.st_mode)) return path + " is a folder, not a file";
  if (!sim::ReadEntryAt(machine, name, kLargestMachineFile, bytes, read)) {
    return SystemError("cannot read", path);
  }
  return "";
}

bool IsDriveFolderName(const std::string& name) {
  return name.size() == 7 && EqualsIgnoringAsciiCase(name.substr(0, 6), "drive_") &&
         std::isalpha(static_cast<unsigned char>(name[6]));
}

// The drive folders of an open machine folder; a link named like one is
// refused, any other entry that is no folder is not a drive.
Outcome<std::vector<DriveFolder>> FindDrives(int machine, const std::string& directory) {
  using Result = Outcome<std::vector<DriveFolder>>;
  std::vector<DriveFolder> drives;
  std::vector<sim::FolderEntry> entries;
  if (!sim::ListFolder(machine, &entries)) {
    return Result::Failure(SystemError("cannot list", directory));
  }
  for (const sim::FolderEntry& entry : entries) {
    const std::string& name = entry.name;
    struct stat status {};
    if (!IsDriveFolderName(name) ||
        ::fstatat(machine, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;
    }
    if (S_ISLNK(status.st_mode)) return Result::Failure(Refusal(directory + "/" + name, status));
    if (!S_ISDIR(status.st_mode)) continue;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[6])));
    for (const DriveFolder& known : drives) {
      if (known.letter == letter) {
        return Result::Failure(directory + ": two folders for drive " + letter + ": " +
                               known.folderName + " and " + name);
      }
    }
    drives.push_back(DriveFolder{letter, name});
  }
  std::sort(drives.begin(), drives.end(),
            [](const DriveFolder& a, const DriveFolder& b) { return a.letter < b.letter; });
  return drives;
}

// machine.ini is UTF-8; the machine spells paths in its ANSI code page.
void ApplyFileSetting(const FileSetting& setting, sim::SimMachine& machine) {
  const std::string path = sim::Utf8ToCodePage(machine.Config().ansiCodePage, setting.windowsPath)
                               .value_or(setting.windowsPath);
  if (setting.lastWriteUnixSeconds) machine.SetLastWriteTime(path, *setting.lastWriteUnixSeconds);
  if (setting.attributes) machine.SetAttributesOf(path, *setting.attributes);
}

}  // namespace

// Why an entry breaks the confinement rule, or "".
std::string Refusal(const std::string& path, const struct stat& status) {
  const char* kind = sim::ForbiddenKind(status);
  return kind ? path + " is " + kind + kConfinementRule : "";
}

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Walks a drive folder of an open machine folder.
std::string WalkDrive(int machine, const std::string& directory, const DriveFolder& drive,
                      sim::TreeDetail detail, const sim::TreeVisitor& visit) {
  const std::string root = directory + "/" + drive.folderName;
  const sim::UniqueFd folder = sim::OpenDirectoryAt(machine, drive.folderName);
  if (!folder.Valid()) return SystemError("cannot open", root);
  return sim::WalkTree(folder.Get(), root, detail, visit);
}

std::string MachineFolder::HostPathOf(const DriveFolder& drive) const {
  return (fs::path(directory) / drive.folderName).string();
}

Outcome<MachineFolder> ReadMachineFolder(const std::string& directory, FolderUse use) {
  using Result = Outcome<MachineFolder>;
  sim::UniqueFd opened(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat status {};
  if (!opened.Valid()) {
    if (errno == ENOTDIR) {
      return Result::Failure("the machine folder " + directory + " is a file, not a folder");
    }
    return Result::Failure(errno == ENOENT
                               ? "the machine folder " + directory + " does not exist"
                               : SystemError("cannot reach the machine folder", directory));
  }
  if (::flock(opened.Get(), (use == FolderUse::kChange ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    return Result::Failure(errno == EWOULDBLOCK
                               ? "another uninst-sim is working on the machine folder " +
                                     directory + "; try again once it has ended"
                               : SystemError("cannot lock the machine folder", directory));
  }
  const int machine = opened.Get();
  MachineFolder folder;
  folder.directory = directory;
  folder.fd = std::move(opened);
  ::fstat(machine, &folder.opened);
  std::string bytes;
  bool missing = false;
  std::string error = ReadMachineFile(machine, directory, kSettingsFileName, &bytes, &missing);
  if (!error.empty() && !missing) return Result::Failure(error);
  if (!missing) {
    Outcome<MachineSettings> settings = ReadMachineSettings(bytes);
    const std::string settingsPath = (fs::path(directory) / kSettingsFileName).string();
    if (!settings.Ok()) return Result::Failure(settingsPath + ": " + settings.Error());
    folder.settings = std::move(settings.Value());
  }
  // The settings name the code page the registry's text is in.
  const std::uint32_t codePage = AnsiCodePageOf(folder.settings);
  error = ReadMachineFile(machine, directory, kRegistryFileName, &bytes, &missing, &status);
  if (!error.empty()) return Result::Failure(error);
  folder.registryRead = IdentityOf(status);
  folder.registryMode = status.st_mode & 07777;
  Outcome<RegDocument> registry = ReadRegFile(std::move(bytes), codePage);
  const std::string registryPath = (fs::path(directory) / kRegistryFileName).string();
  if (!registry.Ok()) return Result::Failure(registryPath + ": " + registry.Error());
  folder.registry = std::move(registry.Value());
  Outcome<std::vector<DriveFolder>> drives = FindDrives(machine, directory);
  if (!drives.Ok()) return Result::Failure(drives.Error());
  folder.drives = std::move(drives.Value());
  for (const DriveFolder& drive : folder.drives) {
    const std::string root = directory + "/" + drive.folderName;
    error = WalkDrive(machine, directory, drive, sim::TreeDetail::kStatus,
                      [&root](const sim::TreeEntry& entry) {
                        return Refusal(root + "/" + entry.relative, *entry.status);
                      });
    if (!error.empty()) return Result::Failure(error);
  }
  return folder;
}

void SetUpMachine(MachineFolder& folder, sim::SimMachine& machine) {
  machine.GetRegistry().TakeKeys(folder.registry.registry);
  sim::MachineConfig& config = machine.Config();
  config.family = folder.settings.family;
  config.oemCodePage = folder.settings.oemCodePage;
  config.ansiCodePage = AnsiCodePageOf(folder.settings);
  config.timeZoneBiasMinutes = folder.settings.timeZoneBiasMinutes;
  config.windowsDirectory = folder.settings.windowsDirectory;
  for (const DriveFolder& drive : folder.drives) {
    machine.MapDrive(drive.letter, folder.HostPathOf(drive),
                     sim::OpenDirectoryAt(folder.fd.Get(), drive.folderName));
  }
  for (const FileSetting& setting : folder.settings.files) ApplyFileSetting(setting, machine);
}

Outcome<std::string> RegistryText(const sim::Registry& registry, RegFormat format,
                                  RegEncoding encoding, std::uint32_t codePage) {
  return WriteRegFile(registry, format, encoding, codePage);
}

std::string SaveRegistry(const MachineFolder& folder, const sim::Registry& registry,
                         const FileCalls& calls, int keepIn, const std::string& keepAs) {
  Outcome<std::string> text = RegistryText(
      registry, folder.registry.format, folder.registry.encoding, AnsiCodePageOf(folder.settings));
  if (!text.Ok()) return text.Error();
  return ReplaceReadFile(folder.fd.Get(), kRegistryFileName, text.Value(), folder.registryRead,
                         folder.registryMode, keepIn, keepAs, calls);
}

}  // namespace uninst::tool
