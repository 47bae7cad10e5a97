#include "tools/uninst-sim/machine/MachineSettings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "platform/Platform.h"
#include "platform/sim/Calendar.h"
#include "platform/sim/CodePage.h"
#include "tools/uninst-sim/regfile/TextCodec.h"

namespace uninst::tool {

namespace {

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

struct FamilyWord {
  const char* word;
  sim::WindowsFamily family;
};
// The editions a person would name, each standing for its family.
constexpr FamilyWord kFamilyWords[] = {
    {"95", sim::WindowsFamily::k9x},  {"98", sim::WindowsFamily::k9x},
    {"me", sim::WindowsFamily::k9x},  {"nt", sim::WindowsFamily::kNt},
    {"nt4", sim::WindowsFamily::kNt}, {"2000", sim::WindowsFamily::kNt},
    {"xp", sim::WindowsFamily::kNt},
};

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

// A code page iconv can convert, or why not.
std::string ReadCodePage(const std::string& name, const std::string& value,
                         std::uint32_t* codePage) {
  std::uint32_t number = 0;
  if (!ParseInteger<std::uint32_t>(value, 1, 65535, &number)) {
    return name + " must be a number from 1 to 65535";
  }
  if (!sim::IsSupportedCodePage(number)) {
    return name + " " + value + " is not a code page this system can convert (such as 437, " +
           "850, 932, 1252)";
  }
  *codePage = number;
  return "";
}

// Setting names, as section names, do not mind the case of letters.
std::string ReadMachineValue(const std::string& name, const std::string& value,
                             MachineSettings* settings) {
  const auto is = [&name](const char* known) { return EqualsIgnoringAsciiCase(name, known); };
  if (is("windows")) {
    const auto known = std::find_if(
        std::begin(kFamilyWords), std::end(kFamilyWords),
        [&value](const FamilyWord& f) { return EqualsIgnoringAsciiCase(value, f.word); });
    if (known == std::end(kFamilyWords)) {
      return "windows must name an edition: 95, 98 or me (the 9x family), nt, nt4, 2000 or xp "
             "(the NT family)";
    }
    settings->family = known->family;
    return "";
  }
  if (is("oem_code_page")) return ReadCodePage(name, value, &settings->oemCodePage);
  if (is("ansi_code_page")) {
    std::uint32_t codePage = 0;
    std::string problem = ReadCodePage(name, value, &codePage);
    if (problem.empty()) settings->ansiCodePage = codePage;
    return problem;
  }
  if (is("time_zone_bias_minutes")) {
    return ParseInteger<int>(value, -1440, 1440, &settings->timeZoneBiasMinutes)
               ? ""
               : "time_zone_bias_minutes must be a number from -1440 to 1440";
  }
  if (is("time_zone")) {
    sim::TimeZone zone;
    std::string problem = sim::ReadTimeZone(value, &zone);
    settings->timeZoneBiasMinutes = zone.biasMinutes;
    settings->daylight = zone.daylight;
    return problem.empty() ? problem : "time_zone \"" + value + "\" " + problem;
  }
  if (is("windows_directory")) {
    settings->windowsDirectory = value.empty() ? std::nullopt : std::optional<std::string>(value);
    return "";
  }
  return "unknown setting \"" + name +
         "\" (known: windows, oem_code_page, ansi_code_page, time_zone_bias_minutes, "
         "time_zone, windows_directory)";
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
  const std::string name = TrimBlanks(line.substr(0, equals));
  const std::string value = TrimBlanks(line.substr(equals + 1));
  if (*section == Section::kMachine) return ReadMachineValue(name, value, settings);
  FileSetting setting;
  std::string problem = ReadFileSetting(name, value, &setting);
  if (problem.empty()) settings->files.push_back(std::move(setting));
  return problem;
}

// The text as UTF-8: an editor may have saved it as UTF-16 with its
// byte-order mark, which is read and noted in `settings`.
Outcome<std::string> SettingsText(const std::string& bytes, MachineSettings* settings) {
  const bool little = bytes.compare(0, 2, "\xFF\xFE") == 0;
  if (!little && bytes.compare(0, 2, "\xFE\xFF") != 0) {
    if (bytes.find('\0') == std::string::npos) return bytes;
    return Outcome<std::string>::Failure(
        "holds NUL bytes: UTF-16 without its byte-order mark? Save it as UTF-8");
  }
  std::string units = bytes.substr(2);
  if (!little) {
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) std::swap(units[i], units[i + 1]);
  }
  std::size_t bad = 0;
  std::optional<std::string> text = sim::Utf16LeToUtf8(units, &bad);
  if (!text) {
    return Outcome<std::string>::Failure("not UTF-16 text at byte " + std::to_string(bad + 2));
  }
  settings->warnings.push_back(std::string("machine.ini is UTF-16 ") + (little ? "little" : "big") +
                               "-endian text: read as such, but other tools expect UTF-8");
  return *text;
}

}  // namespace

Outcome<MachineSettings> ReadMachineSettings(const std::string& bytes) {
  MachineSettings settings;
  Outcome<std::string> decoded = SettingsText(bytes, &settings);
  if (!decoded.Ok()) return Outcome<MachineSettings>::Failure(decoded.Error());
  const std::string& text = decoded.Value();
  Section section = Section::kNone;
  // A UTF-8 byte-order mark, as editors may write it, is no part of the text.
  std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (int number = 1; start <= text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = TrimBlanks(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line = TrimBlanks(line.substr(0, line.size() - 1));
    start = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    const std::string problem = ReadSettingsLine(line, &section, &settings);
    if (!problem.empty()) {
      return Outcome<MachineSettings>::Failure("line " + std::to_string(number) + ": " + problem);
    }
  }
  return settings;
}

std::string TrimBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::uint32_t AnsiCodePageOf(const MachineSettings& settings) {
  constexpr std::uint32_t kJapanese = 932;
  if (settings.ansiCodePage) return *settings.ansiCodePage;
  return settings.oemCodePage == kJapanese ? kJapanese : sim::kWesternAnsiCodePage;
}

}  // namespace uninst::tool
