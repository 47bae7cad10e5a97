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
#include <iterator>
#include <unordered_map>

#include "platform/sim/CodePage.h"
#include "platform/sim/HostFiles.h"
#include "tools/uninst-sim/regfile/RegSyntax.h"
#include "tools/uninst-sim/regfile/TextCodec.h"

namespace uninst::tool {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLargestMachineFile = std::size_t{1} << 30;

constexpr char kConfinementRule[] =
    ": a machine folder may hold only folders and regular files with a single name (see --help)";

// Why the entry `name` of `directory`, at `path`, breaks the confinement
// rule, or "": the machine folder is one mount, `mount`.
std::string Refusal(int directory, const std::string& name, const std::string& path,
                    const struct stat& status, std::uint64_t mount) {
  const char* kind = sim::ForbiddenKind(status);
  if (kind) return path + " is " + kind + kConfinementRule;
  if (sim::MountOf(directory, name) != mount) {
    return path + " is a mount point (it lies on another mount)" + kConfinementRule;
  }
  return "";
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

// Windows names a file in at most MAX_PATH characters, its drive and the
// terminating zero included: no deeper folder can be reached.
constexpr std::size_t kMaxWindowsPath = 260;

std::size_t CharacterCount(const std::string& utf8) {
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// Why Windows could hold no file or folder of this name, or "": the name
// ends in a period or a blank (Windows drops them), holds a character no
// Windows name may hold, or is a device (NUL, CON.INF) before any extension.
std::string WindowsNameProblem(const std::string& name) {
  if (name.back() == '.' || name.back() == ' ') return "ends in a period or a blank";
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"|?*\\", c) != nullptr) {
      return "holds a character no Windows name may hold";
    }
  }
  std::string base = sim::UpperUtf8(name.substr(0, name.find('.')));
  base.erase(base.find_last_not_of(' ') + 1);
  static constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  const bool numbered = base.size() == 4 &&
                        (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
                        base[3] >= '1' && base[3] <= '9';
  if (numbered || std::find(std::begin(kDevices), std::end(kDevices), base) != std::end(kDevices)) {
    return "is a device on Windows, never a file";
  }
  return "";
}

// Host names compare as the machine compares them: every letter folded.
std::string Folded(const std::string& name) { return sim::UpperUtf8(name); }

// The rules every entry below a drive folder keeps, checked as the walk
// meets it: the confinement rule, a path Windows can name, and a name no
// other entry of its folder shares once folded as Windows folds it. Only
// the folders on the way down are remembered.
class EntryRules {
 public:
  EntryRules(std::string root, std::uint64_t mount) : m_root(std::move(root)), m_mount(mount) {}

  std::string Check(const sim::TreeEntry& entry) {
    const std::string path = m_root + "/" + entry.relative;
    std::string refusal = Refusal(entry.directory, entry.name, path, *entry.status, m_mount);
    if (!refusal.empty() || entry.leaving) return refusal;
    if (CharacterCount(entry.relative) + 4 > kMaxWindowsPath) {
      return path + " is deeper than a Windows path can reach (" + std::to_string(kMaxWindowsPath) +
             " characters with the drive)";
    }
    if (const std::string problem = WindowsNameProblem(entry.name); !problem.empty()) {
      return path + ": the name " + problem + ": rename or remove it";
    }
    const std::size_t depth =
        static_cast<std::size_t>(std::count(entry.relative.begin(), entry.relative.end(), '/'));
    m_levels.resize(depth + 1);
    const auto [known, fresh] = m_levels[depth].emplace(Folded(entry.name), entry.name);
    if (fresh) return "";
    const std::string folder = path.substr(0, path.size() - entry.name.size());
    const auto [first, second] = std::minmax(known->second, entry.name);
    return folder + first + " and " + second +
           " are one name on Windows, which ignores the case of letters: rename or remove one";
  }

 private:
  std::string m_root;
  std::uint64_t m_mount;
  // The folded names of each folder on the way down, by depth.
  std::vector<std::unordered_map<std::string, std::string>> m_levels;
};

// registry.reg or machine.ini, read without following a link or blocking.
std::string ReadMachineFile(int machine, const std::string& directory, const char* name,
                            std::uint64_t mount, std::string* bytes, bool* missing,
                            struct stat* read = nullptr) {
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
  std::string refusal = Refusal(machine, name, path, status, mount);
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
Outcome<std::vector<DriveFolder>> FindDrives(int machine, const std::string& directory,
                                             std::uint64_t mount) {
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
    const std::string refusal = Refusal(machine, name, directory + "/" + name, status, mount);
    if (S_ISLNK(status.st_mode) || (S_ISDIR(status.st_mode) && !refusal.empty())) {
      return Result::Failure(refusal);
    }
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

// The files that may stand beside registry.reg holding one root each, named
// as reg export names the roots, in any letter case; the index of the root
// in kRootNames. HKEY_LOCAL_MACHINE is read from registry.reg alone, the
// file a run changes: HKLM.reg is named only to be refused.
struct RootFile {
  const char* name;
  int root;
};
constexpr RootFile kRootFiles[] = {
    {"HKCR.reg", 0}, {"HKCU.reg", 1}, {"HKLM.reg", 2}, {"HKU.reg", 3}, {"HKCC.reg", 4}};
constexpr int kMachineRoot = 2;

// Reads and checks the per-root files of an open machine folder, which are
// never changed: each holds keys of its own root alone, and no root has
// keys in two files. `holders` names, for each root, the file that holds
// its keys. "" or what is wrong, naming the files.
std::string CheckRootFiles(int machine, const std::string& directory, std::uint64_t mount,
                           std::uint32_t codePage, std::string (&holders)[std::size(kRootNames)]) {
  std::vector<sim::FolderEntry> entries;
  if (!sim::ListFolder(machine, &entries)) return SystemError("cannot list", directory);
  for (const sim::FolderEntry& entry : entries) {
    const RootFile* file =
        std::find_if(std::begin(kRootFiles), std::end(kRootFiles), [&entry](const RootFile& known) {
          return EqualsIgnoringAsciiCase(entry.name, known.name);
        });
    if (file == std::end(kRootFiles)) continue;
    const std::string path = directory + "/" + entry.name;
    std::string bytes;
    bool missing = false;
    const std::string error =
        ReadMachineFile(machine, directory, entry.name.c_str(), mount, &bytes, &missing);
    if (!error.empty()) return error;
    const Outcome<RegDocument> document = ReadRegFile(std::move(bytes), codePage);
    if (!document.Ok()) return path + ": " + document.Error();
    for (std::size_t root = 0; root < std::size(kRootNames); ++root) {
      if ((document.Value().roots & (1u << root)) == 0) continue;
      if (static_cast<int>(root) != file->root) {
        return path + " holds keys of " + kRootNames[root] + ", but a file of this name holds " +
               kRootNames[file->root] + " alone, as reg export writes it";
      }
      if (!holders[root].empty()) {
        return holders[root] + " and " + path + " both hold keys of " + kRootNames[root] +
               ": keep them in one file";
      }
      if (file->root == kMachineRoot) {
        return path + " holds " + kRootNames[root] + ", which is read from " + directory + "/" +
               kRegistryFileName + " alone: rename it " + kRegistryFileName;
      }
      holders[root] = path;
    }
  }
  return "";
}

// machine.ini is UTF-8; the machine spells paths in its ANSI code page.
void ApplyFileSetting(const FileSetting& setting, sim::SimMachine& machine) {
  const std::string path = sim::Utf8ToCodePage(machine.Config().ansiCodePage, setting.windowsPath)
                               .value_or(setting.windowsPath);
  if (setting.lastWriteUnixSeconds) machine.SetLastWriteTime(path, *setting.lastWriteUnixSeconds);
  if (setting.attributes) machine.SetAttributesOf(path, *setting.attributes);
}

}  // namespace

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
  folder.mount = sim::MountOf(machine);
  std::string bytes;
  bool missing = false;
  std::string error =
      ReadMachineFile(machine, directory, kSettingsFileName, folder.mount, &bytes, &missing);
  if (!error.empty() && !missing) return Result::Failure(error);
  if (!missing) {
    Outcome<MachineSettings> settings = ReadMachineSettings(bytes);
    const std::string settingsPath = (fs::path(directory) / kSettingsFileName).string();
    if (!settings.Ok()) return Result::Failure(settingsPath + ": " + settings.Error());
    folder.settings = std::move(settings.Value());
  }
  // The settings name the code page the registry's text is in.
  const std::uint32_t codePage = AnsiCodePageOf(folder.settings);
  error = ReadMachineFile(machine, directory, kRegistryFileName, folder.mount, &bytes, &missing,
                          &status);
  if (!error.empty()) return Result::Failure(error);
  folder.registryRead = IdentityOf(status);
  folder.registryMode = status.st_mode & 07777;
  Outcome<RegDocument> registry = ReadRegFile(std::move(bytes), codePage);
  const std::string registryPath = (fs::path(directory) / kRegistryFileName).string();
  if (!registry.Ok()) return Result::Failure(registryPath + ": " + registry.Error());
  if (folder.settings.family == sim::WindowsFamily::kNt && registry.Value().longNameLine != 0) {
    return Result::Failure(registryPath + ": line " +
                           std::to_string(registry.Value().longNameLine) +
                           ": a key name is longer than " + std::to_string(sim::kMaxKeyNameLength) +
                           " characters, the most a Windows NT registry holds");
  }
  folder.registry = std::move(registry.Value());
  std::string holders[std::size(kRootNames)];
  for (std::size_t root = 0; root < std::size(kRootNames); ++root) {
    if (folder.registry.roots & (1u << root)) holders[root] = registryPath;
  }
  error = CheckRootFiles(machine, directory, folder.mount, codePage, holders);
  if (!error.empty()) return Result::Failure(error);
  Outcome<std::vector<DriveFolder>> drives = FindDrives(machine, directory, folder.mount);
  if (!drives.Ok()) return Result::Failure(drives.Error());
  folder.drives = std::move(drives.Value());
  for (const DriveFolder& drive : folder.drives) {
    EntryRules rules(directory + "/" + drive.folderName, folder.mount);
    error = WalkDrive(machine, directory, drive, sim::TreeDetail::kStatus,
                      [&rules, &folder](const sim::TreeEntry& entry) {
                        if (entry.type == S_IFREG) ++folder.fileCount;
                        return rules.Check(entry);
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
  config.daylight = folder.settings.daylight;
  config.windowsDirectory = folder.settings.windowsDirectory;
  for (const DriveFolder& drive : folder.drives) {
    machine.MapDrive(drive.letter, folder.HostPathOf(drive),
                     sim::OpenDirectoryAt(folder.fd.Get(), drive.folderName));
  }
  for (const FileSetting& setting : folder.settings.files) ApplyFileSetting(setting, machine);
}

std::string SaveRegistry(const MachineFolder& folder, const sim::Registry& registry,
                         const sim::Journal& journal, const FileCalls& calls, int keepIn,
                         const std::string& keepAs) {
  RegRemovals removed;
  for (const sim::JournalEntry& entry : journal.Entries()) {
    if (entry.kind == sim::JournalEntry::Kind::kKeyDeleted) {
      removed.keys.push_back(entry.keyPath);
    } else if (entry.kind == sim::JournalEntry::Kind::kValueDeleted) {
      entry.value.ForEach([&](const sim::ValueList::View& value) {
        removed.values.push_back({entry.keyPath, std::string(value.name)});
      });
    }
  }
  std::deque<std::string> added;
  Outcome<ByteParts> text = RemoveFromRegFile(folder.registry, removed, registry.Names(), &added,
                                              AnsiCodePageOf(folder.settings));
  if (!text.Ok()) return text.Error();
  return ReplaceReadFile(folder.fd.Get(), kRegistryFileName, text.Value(), folder.registryRead,
                         folder.registryMode, keepIn, keepAs, calls);
}

}  // namespace uninst::tool
