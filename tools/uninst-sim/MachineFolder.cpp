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

#include "tools/uninst-sim/TextCodec.h"

namespace uninst::tool {

namespace fs = std::filesystem;

namespace {

// Where Windows file attributes live on the host, as Wine keeps them.
constexpr char kDosAttributeName[] = "user.DOSATTRIB";

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

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// "1999-03-03T12:00:00Z" as seconds since 1970.
bool ParseUtcTime(const std::string& text, std::int64_t* seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &year, &month, &day, &hour, &minute,
                  &second, &used) != 6 ||
      used != static_cast<int>(text.size()) || text.size() != 20) {
    return false;
  }
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1601 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  const int monthDays = kDaysInMonth[month - 1] + ((month == 2 && IsLeapYear(year)) ? 1 : 0);
  if (day < 1 || day > monthDays) return false;
  *seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
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

Outcome<std::vector<DriveFolder>> FindDrives(const std::string& directory) {
  std::vector<DriveFolder> drives;
  std::error_code code;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, code)) {
    const std::string name = entry.path().filename().string();
    if (name.size() != 7 || !EqualsIgnoringAsciiCase(name.substr(0, 6), "drive_") ||
        !std::isalpha(static_cast<unsigned char>(name[6])) || !entry.is_directory(code)) {
      continue;
    }
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[6])));
    for (const DriveFolder& known : drives) {
      if (known.letter == letter) {
        return Outcome<std::vector<DriveFolder>>::Failure(directory + ": two folders for drive " +
                                                          letter + ": " + known.folderName +
                                                          " and " + name);
      }
    }
    drives.push_back(DriveFolder{letter, name});
  }
  if (code) {
    return Outcome<std::vector<DriveFolder>>::Failure("cannot list " + directory + ": " +
                                                      code.message());
  }
  std::sort(drives.begin(), drives.end(),
            [](const DriveFolder& a, const DriveFolder& b) { return a.letter < b.letter; });
  return drives;
}

void ApplyFileSetting(const FileSetting& setting, sim::SimMachine& machine) {
  const std::optional<std::string> host = machine.HostPath(setting.windowsPath);
  if (!host) return;
  if (setting.lastWriteUnixSeconds) {
    timespec times[2] = {};
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(*setting.lastWriteUnixSeconds);
    ::utimensat(AT_FDCWD, host->c_str(), times, 0);
  }
  if (setting.attributes) machine.SetAttributesOf(setting.windowsPath, *setting.attributes);
}

std::string CopyFileWithMetadata(const fs::path& from, const fs::path& to) {
  // O_NOATIME keeps the copy from touching the original's access time.
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
  if (in < 0) in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return "cannot open " + from.string() + ": " + std::strerror(errno);
  struct stat status {};
  ::fstat(in, &status);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  std::string error;
  if (out < 0) {
    error = "cannot create " + to.string() + ": " + std::strerror(errno);
  } else {
    char buffer[65536];
    ssize_t got = 0;
    while (error.empty() && (got = ::read(in, buffer, sizeof buffer)) > 0) {
      if (::write(out, buffer, static_cast<std::size_t>(got)) != got) error = "cannot write ";
    }
    if (got < 0) error = "cannot read ";
    if (!error.empty()) error += to.string() + ": " + std::strerror(errno);
    char attribute[64];
    const ssize_t length = ::fgetxattr(in, kDosAttributeName, attribute, sizeof attribute);
    if (length > 0)
      ::fsetxattr(out, kDosAttributeName, attribute, static_cast<std::size_t>(length), 0);
    const timespec times[2] = {status.st_atim, status.st_mtim};
    ::futimens(out, times);
    ::fchmod(out, status.st_mode & 07777);
    ::close(out);
  }
  ::close(in);
  return error;
}

std::string CopyTree(const fs::path& from, const fs::path& to) {
  std::error_code code;
  const fs::file_status status = fs::symlink_status(from, code);
  if (fs::is_symlink(status)) {
    fs::copy_symlink(from, to, code);
  } else if (fs::is_directory(status)) {
    fs::create_directory(to, code);
    for (const fs::directory_entry& entry : fs::directory_iterator(from, code)) {
      std::string error = CopyTree(entry.path(), to / entry.path().filename());
      if (!error.empty()) return error;
    }
    if (!code) fs::permissions(to, status.permissions(), code);
  } else if (fs::is_regular_file(status)) {
    return CopyFileWithMetadata(from, to);
  }
  return code ? "cannot copy " + from.string() + ": " + code.message() : "";
}

}  // namespace

std::string MachineFolder::HostPathOf(const DriveFolder& drive) const {
  return (fs::path(directory) / drive.folderName).string();
}

Outcome<MachineSettings> ReadMachineSettings(const std::string& text) {
  MachineSettings settings;
  Section section = Section::kNone;
  std::size_t start = 0;
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
  std::error_code code;
  if (!fs::is_directory(directory, code)) {
    return Result::Failure("the machine folder " + directory + " does not exist");
  }
  MachineFolder folder;
  folder.directory = directory;
  const std::string registryPath = (fs::path(directory) / kRegistryFileName).string();
  std::string bytes;
  std::string error;
  if (!ReadWholeFile(registryPath, &bytes, &error)) return Result::Failure(error);
  Outcome<RegDocument> registry = ReadRegFile(bytes);
  if (!registry.Ok()) return Result::Failure(registryPath + ": " + registry.Error());
  folder.registry = std::move(registry.Value());

  const std::string settingsPath = (fs::path(directory) / kSettingsFileName).string();
  if (fs::exists(settingsPath, code)) {
    if (!ReadWholeFile(settingsPath, &bytes, &error)) return Result::Failure(error);
    Outcome<MachineSettings> settings = ReadMachineSettings(bytes);
    if (!settings.Ok()) return Result::Failure(settingsPath + ": " + settings.Error());
    folder.settings = std::move(settings.Value());
  }
  Outcome<std::vector<DriveFolder>> drives = FindDrives(directory);
  if (!drives.Ok()) return Result::Failure(drives.Error());
  folder.drives = std::move(drives.Value());
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
  for (const DriveFolder& drive : folder.drives) {
    const fs::path root = folder.HostPathOf(drive);
    std::error_code code;
    for (fs::recursive_directory_iterator it(root, code), end; !code && it != end;
         it.increment(code)) {
      if (!it->is_regular_file(code)) continue;
      std::string relative = fs::relative(it->path(), root, code).generic_string();
      std::replace(relative.begin(), relative.end(), '/', '\\');
      files.push_back(std::string(1, drive.letter) + ":\\" + relative);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string CopyMachineFolder(const std::string& from, const std::string& to) {
  return CopyTree(from, to);
}

}  // namespace uninst::tool
