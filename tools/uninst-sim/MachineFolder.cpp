#include "tools/uninst-sim/MachineFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/sim/Calendar.h"
#include "platform/sim/HostFiles.h"
#include "tools/uninst-sim/TextCodec.h"

namespace uninst::tool {

namespace fs = std::filesystem;

namespace {

// Where Windows file attributes live on the host, as Wine keeps them.
constexpr std::size_t kLargestMachineFile = std::size_t{1} << 30;

struct AttributeWord {
  const char* word;
  std::uint32_t attribute;
};
constexpr AttributeWord kAttributeWords[] = {
    {"normal", 0},
    {"readonly", kFileAttributeReadOnly},
    {"hidden", kFileAttributeHidden},
    {"system", kFileAttributeSystem},
};

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while ((i = text.find_first_not_of(" \t,", i)) != std::string::npos) {
    const std::size_t end = std::min(text.find_first_of(" \t,", i), text.size());
    words.push_back(text.substr(i, end - i));
    i = end;
  }
  return words;
}

template <typename T>
bool ParseInteger(const std::string& text, T minimum, T maximum, T* value) {
  T parsed = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, parsed);
  if (error != std::errc() || stop != end || parsed < minimum || parsed > maximum) return false;
  *value = parsed;
  return true;
}

// "1999-03-03T12:00:00Z" as seconds since 1970.
bool ParseUtcTime(const std::string& text, std::int64_t* seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &year, &month, &day, &hour, &minute,
                  &second, &used) != 6 ||
      used != static_cast<int>(text.size()) || text.size() != 20) {
    return false;
  }
  if (year < 1601 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  if (day < 1 ||
      static_cast<unsigned>(day) > sim::DaysInMonth(year, static_cast<unsigned>(month))) {
    return false;
  }
  *seconds =
      sim::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
      hour * 3600 + minute * 60 + second;
  return true;
}

bool IsWindowsFilePath(const std::string& path) {
  return path.size() > 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
         path[2] == '\\';
}

// Reads one [files] entry; returns why it is wrong, or "".
std::string ReadFileSetting(const std::string& path, const std::string& value,
                            FileSetting* setting) {
  if (!IsWindowsFilePath(path)) return "\"" + path + "\" is not a full path such as C:\\X.SYS";
  setting->windowsPath = path;
  const std::vector<std::string> words = Words(value);
  if (words.empty()) return "give attributes or a time for " + path;
  for (const std::string& word : words) {
    const auto known = std::find_if(
        std::begin(kAttributeWords), std::end(kAttributeWords),
        [&word](const AttributeWord& a) { return EqualsIgnoringAsciiCase(word, a.word); });
    std::int64_t seconds = 0;
    if (known != std::end(kAttributeWords)) {
      setting->attributes = setting->attributes.value_or(0) | known->attribute;
    } else if (ParseUtcTime(word, &seconds)) {
      setting->lastWriteUnixSeconds = seconds;
    } else {
      return "\"" + word +
             "\" is neither an attribute (normal, readonly, hidden, system) nor a UTC time such "
             "as 1999-03-03T12:00:00Z";
    }
  }
  return "";
}

std::string ReadMachineValue(const std::string& name, const std::string& value,
                             MachineSettings* settings) {
  if (name == "oem_code_page") {
    return ParseInteger<std::uint32_t>(value, 1, 65535, &settings->oemCodePage)
               ? ""
               : "oem_code_page must be a number from 1 to 65535";
  }
  if (name == "time_zone_bias_minutes") {
    return ParseInteger<int>(value, -1440, 1440, &settings->timeZoneBiasMinutes)
               ? ""
               : "time_zone_bias_minutes must be a number from -1440 to 1440";
  }
  if (name == "windows_directory") {
    settings->windowsDirectory = value.empty() ? std::nullopt : std::optional<std::string>(value);
    return "";
  }
  return "unknown setting \"" + name +
         "\" (known: oem_code_page, time_zone_bias_minutes, windows_directory)";
}

enum class Section { kNone, kMachine, kFiles };

std::string ReadSettingsLine(const std::string& line, Section* section, MachineSettings* settings) {
  if (line.front() == '[') {
    const std::string name = line.back() == ']' ? line.substr(1, line.size() - 2) : "";
    if (EqualsIgnoringAsciiCase(name, "machine")) {
      *section = Section::kMachine;
    } else if (EqualsIgnoringAsciiCase(name, "files")) {
      *section = Section::kFiles;
    } else {
      return "unknown section " + line + " (known: [machine], [files])";
    }
    return "";
  }
  if (*section == Section::kNone) return "a setting must follow [machine] or [files]";
  // A file name may hold '=', a setting name may not.
  const std::size_t equals = *section == Section::kFiles ? line.rfind('=') : line.find('=');
  if (equals == std::string::npos) return "expected name = value";
  const std::string name = Trim(line.substr(0, equals));
  const std::string value = Trim(line.substr(equals + 1));
  if (*section == Section::kMachine) return ReadMachineValue(name, value, settings);
  FileSetting setting;
  std::string problem = ReadFileSetting(name, value, &setting);
  if (problem.empty()) settings->files.push_back(std::move(setting));
  return problem;
}

constexpr char kConfinementRule[] =
    ": a machine folder may hold only folders and regular files with a single name (see --help)";

// Why an entry breaks the confinement rule, or "".
std::string Refusal(const std::string& path, const struct stat& status) {
  const char* kind = sim::ForbiddenKind(status);
  return kind ? path + " is " + kind + kConfinementRule : "";
}

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// registry.reg or machine.ini, read without following a link or blocking.
std::string ReadMachineFile(int machine, const std::string& directory, const char* name,
                            std::string* bytes, bool* missing) {
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
  if (!sim::ReadEntryAt(machine, name, kLargestMachineFile, bytes)) {
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

// Walks a drive folder of an open machine folder.
std::string WalkDrive(int machine, const std::string& directory, const DriveFolder& drive,
                      sim::TreeDetail detail, const sim::TreeVisitor& visit) {
  const std::string root = directory + "/" + drive.folderName;
  const sim::UniqueFd folder = sim::OpenDirectoryAt(machine, drive.folderName);
  if (!folder.Valid()) return SystemError("cannot open", root);
  return sim::WalkTree(folder.Get(), root, detail, visit);
}

void ApplyFileSetting(const FileSetting& setting, sim::SimMachine& machine) {
  if (setting.lastWriteUnixSeconds) {
    machine.SetLastWriteTime(setting.windowsPath, *setting.lastWriteUnixSeconds);
  }
  if (setting.attributes) machine.SetAttributesOf(setting.windowsPath, *setting.attributes);
}

// Copies a regular file with its mode, times and DOS attributes, leaving the
// original's access time alone where the host allows.
std::string CopyFileAt(int fromFolder, const std::string& fromName, int to,
                       const std::string& toName) {
  struct stat status {};
  const sim::UniqueFd in = sim::OpenEntryAt(fromFolder, fromName, &status);
  if (!in.Valid()) return SystemError("cannot open", fromName);
  ::fcntl(in.Get(), F_SETFL, O_NOATIME | O_NONBLOCK);
  const sim::UniqueFd out(
      ::openat(to, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out.Valid()) return SystemError("cannot create", toName);
  char buffer[65536];
  ssize_t got = 0;
  while ((got = ::read(in.Get(), buffer, sizeof buffer)) > 0) {
    if (::write(out.Get(), buffer, static_cast<std::size_t>(got)) != got) {
      return SystemError("cannot write", toName);
    }
  }
  if (got < 0) return SystemError("cannot read", fromName);
  char attribute[64];
  const ssize_t length = ::fgetxattr(in.Get(), sim::kDosAttributeName, attribute, sizeof attribute);
  if (length > 0) {
    ::fsetxattr(out.Get(), sim::kDosAttributeName, attribute, static_cast<std::size_t>(length), 0);
  }
  const timespec times[2] = {status.st_atim, status.st_mtim};
  ::futimens(out.Get(), times);
  ::fchmod(out.Get(), status.st_mode & 07777);
  return "";
}

// Copies a drive folder under the same rule as loading it; folders get their
// modes once their content is in.
std::string CopyDrive(int from, const std::string& fromDirectory, const DriveFolder& drive,
                      int to) {
  if (::mkdirat(to, drive.folderName.c_str(), 0700) != 0) {
    return SystemError("cannot create", drive.folderName);
  }
  const sim::UniqueFd target = sim::OpenDirectoryAt(to, drive.folderName);
  if (!target.Valid()) return SystemError("cannot open", drive.folderName);
  const std::string root = fromDirectory + "/" + drive.folderName;
  const auto copy = [&](const sim::TreeEntry& entry) -> std::string {
    std::string refusal = Refusal(root + "/" + entry.relative, *entry.status);
    if (!refusal.empty()) return refusal;
    const char* name = entry.relative.c_str();
    if (entry.type != S_IFDIR) {
      return CopyFileAt(entry.directory, entry.name, target.Get(), entry.relative);
    }
    if (entry.leaving) {
      ::fchmodat(target.Get(), name, entry.status->st_mode & 07777, AT_SYMLINK_NOFOLLOW);
      return "";
    }
    return ::mkdirat(target.Get(), name, 0700) == 0 ? "" : SystemError("cannot create", name);
  };
  return WalkDrive(from, fromDirectory, drive, sim::TreeDetail::kStatus, copy);
}

}  // namespace

std::string MachineFolder::HostPathOf(const DriveFolder& drive) const {
  return (fs::path(directory) / drive.folderName).string();
}

Outcome<MachineSettings> ReadMachineSettings(const std::string& text) {
  MachineSettings settings;
  Section section = Section::kNone;
  // A UTF-8 byte-order mark, as editors may write it, is no part of the text.
  std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (int number = 1; start <= text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line = Trim(line.substr(0, line.size() - 1));
    start = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    const std::string problem = ReadSettingsLine(line, &section, &settings);
    if (!problem.empty()) {
      return Outcome<MachineSettings>::Failure("line " + std::to_string(number) + ": " + problem);
    }
  }
  return settings;
}

Outcome<MachineFolder> ReadMachineFolder(const std::string& directory) {
  using Result = Outcome<MachineFolder>;
  struct stat status {};
  if (::stat(directory.c_str(), &status) != 0) {
    return Result::Failure(errno == ENOENT
                               ? "the machine folder " + directory + " does not exist"
                               : SystemError("cannot reach the machine folder", directory));
  }
  if (!S_ISDIR(status.st_mode)) {
    return Result::Failure("the machine folder " + directory + " is a file, not a folder");
  }
  const sim::UniqueFd machine(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!machine.Valid()) return Result::Failure(SystemError("cannot open", directory));
  MachineFolder folder;
  folder.directory = directory;
  std::string bytes;
  bool missing = false;
  std::string error =
      ReadMachineFile(machine.Get(), directory, kRegistryFileName, &bytes, &missing);
  if (!error.empty()) return Result::Failure(error);
  Outcome<RegDocument> registry = ReadRegFile(bytes);
  const std::string registryPath = (fs::path(directory) / kRegistryFileName).string();
  if (!registry.Ok()) return Result::Failure(registryPath + ": " + registry.Error());
  folder.registry = std::move(registry.Value());

  error = ReadMachineFile(machine.Get(), directory, kSettingsFileName, &bytes, &missing);
  if (!error.empty() && !missing) return Result::Failure(error);
  if (!missing) {
    Outcome<MachineSettings> settings = ReadMachineSettings(bytes);
    const std::string settingsPath = (fs::path(directory) / kSettingsFileName).string();
    if (!settings.Ok()) return Result::Failure(settingsPath + ": " + settings.Error());
    folder.settings = std::move(settings.Value());
  }
  Outcome<std::vector<DriveFolder>> drives = FindDrives(machine.Get(), directory);
  if (!drives.Ok()) return Result::Failure(drives.Error());
  folder.drives = std::move(drives.Value());
  for (const DriveFolder& drive : folder.drives) {
    const std::string root = directory + "/" + drive.folderName;
    error = WalkDrive(machine.Get(), directory, drive, sim::TreeDetail::kStatus,
                      [&root](const sim::TreeEntry& entry) {
                        return Refusal(root + "/" + entry.relative, *entry.status);
                      });
    if (!error.empty()) return Result::Failure(error);
  }
  return folder;
}

void SetUpMachine(const MachineFolder& folder, sim::SimMachine& machine) {
  LoadIntoRegistry(folder.registry, machine.GetRegistry());
  sim::MachineConfig& config = machine.Config();
  config.oemCodePage = folder.settings.oemCodePage;
  config.timeZoneBiasMinutes = folder.settings.timeZoneBiasMinutes;
  config.windowsDirectory = folder.settings.windowsDirectory;
  for (const DriveFolder& drive : folder.drives) {
    machine.MapDrive(drive.letter, folder.HostPathOf(drive));
  }
  for (const FileSetting& setting : folder.settings.files) ApplyFileSetting(setting, machine);
}

Outcome<std::string> RegistryText(const sim::Registry& registry, RegFormat format,
                                  RegEncoding encoding) {
  return WriteRegFile(SnapshotOf(registry), format, encoding);
}

std::string SaveRegistry(const MachineFolder& folder, const sim::Registry& registry,
                         const FileCalls& calls) {
  Outcome<std::string> text =
      RegistryText(registry, folder.registry.format, folder.registry.encoding);
  if (!text.Ok()) return text.Error();
  return WriteFileAtomically((fs::path(folder.directory) / kRegistryFileName).string(),
                             text.Value(), calls);
}

std::vector<std::string> ListMachineFiles(const MachineFolder& folder) {
  std::vector<std::string> files;
  const sim::UniqueFd machine(::open(folder.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (const DriveFolder& drive : folder.drives) {
    const std::string prefix = std::string(1, drive.letter) + ":\\";
    WalkDrive(machine.Get(), folder.directory, drive, sim::TreeDetail::kTypes,
              [&](const sim::TreeEntry& entry) {
                if (entry.type == S_IFREG) {
                  std::string path = prefix + entry.relative;
                  std::replace(path.begin(), path.end(), '/', '\\');
                  files.push_back(std::move(path));
                }
                return std::string();
              });
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string CopyMachineFolder(const MachineFolder& folder, const std::string& to) {
  const std::string& from = folder.directory;
  if (::mkdir(to.c_str(), 0700) != 0 && errno != EEXIST) return SystemError("cannot create", to);
  const sim::UniqueFd source(::open(from.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const sim::UniqueFd target(::open(to.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!source.Valid() || !target.Valid()) return SystemError("cannot open", to);
  for (const char* name : {kRegistryFileName, kSettingsFileName}) {
    struct stat status {};
    if (::fstatat(source.Get(), name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::string error = Refusal(from + "/" + name, status);
    if (error.empty()) error = CopyFileAt(source.Get(), name, target.Get(), name);
    if (!error.empty()) return error;
  }
  for (const DriveFolder& drive : folder.drives) {
    const std::string error = CopyDrive(source.Get(), from, drive, target.Get());
    if (!error.empty()) return error;
  }
  return "";
}

}  // namespace uninst::tool
