#include "platform/sim/TimeZone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstddef>

#include "platform/sim/Calendar.h"
#include "platform/sim/HostFiles.h"

namespace uninst::sim {
namespace {

constexpr char kZoneDatabase[] = "/usr/share/zoneinfo/";
// A TZif file is a few kilobytes; its rule is its last line.
constexpr std::size_t kLargestZoneFile = 1 << 20;
constexpr int kMinutesPerHour = 60;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr int kDefaultChangeMinutes = 2 * kMinutesPerHour;
// RFC 8536 lets a change fall up to a week either side of its day.
constexpr int kLargestChangeHours = 167;
constexpr int kLargestOffsetHours = 24;

// Reads a POSIX rule from its text, one part at a time.
class RuleReader {
 public:
  explicit RuleReader(const std::string& text) : m_text(text) {}

  std::string Read(TimeZone* zone) {
    TimeZone read;
    int offset = 0;
    if (!ReadZoneName() || !ReadTime(kLargestOffsetHours, &offset)) {
      return "is no POSIX rule such as CET-1CEST,M3.5.0,M10.5.0/3";
    }
    read.biasMinutes = offset;
    if (!AtEnd()) {
      if (!ReadZoneName()) return "names no daylight time after its offset";
      DaylightRule daylight;
      int daylightOffset = offset - kMinutesPerHour;
      if (!AtEnd() && Peek() != ',' && !ReadTime(kLargestOffsetHours, &daylightOffset)) {
        return "gives no daylight offset such as -2";
      }
      daylight.biasMinutes = daylightOffset - offset;
      if (!Take(',') || !ReadDate(&daylight.start) || !Take(',') || !ReadDate(&daylight.end)) {
        return "gives no dates of the change in the form ,Mm.w.d/time,Mm.w.d/time";
      }
      read.daylight = daylight;
    }
    if (!AtEnd()) return "has more than a rule";
    *zone = read;
    return "";
  }

 private:
  bool AtEnd() const { return m_at == m_text.size(); }
  char Peek() const { return AtEnd() ? '\0' : m_text[m_at]; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++m_at;
    return true;
  }

  // "CET", or "<+09>" for a name of other characters; three at least.
  bool ReadZoneName() {
    const std::size_t start = m_at;
    if (Take('<')) {
      while (!AtEnd() && Peek() != '>') ++m_at;
      return Take('>') && m_at - start >= 5;
    }
    while (std::isalpha(static_cast<unsigned char>(Peek()))) ++m_at;
    return m_at - start >= 3;
  }

  bool ReadNumber(int largest, int* number) {
    if (!std::isdigit(static_cast<unsigned char>(Peek()))) return false;
    int value = 0;
    while (std::isdigit(static_cast<unsigned char>(Peek()))) {
      value = value * 10 + (m_text[m_at++] - '0');
      if (value > largest) return false;
    }
    *number = value;
    return true;
  }

  // [+-]hh[:mm[:ss]] in minutes; seconds are no part of a Windows bias.
  bool ReadTime(int largestHours, int* minutes) {
    int sign = 1;
    if (Take('-')) {
      sign = -1;
    } else {
      Take('+');
    }
    int hours = 0;
    int minute = 0;
    int second = 0;
    if (!ReadNumber(largestHours, &hours)) return false;
    if (Take(':') && (!ReadNumber(59, &minute) || (Take(':') && !ReadNumber(59, &second)))) {
      return false;
    }
    *minutes = sign * (hours * kMinutesPerHour + minute);
    return true;
  }

  // Mm.w.d[/time]: the only form Windows can hold.
  bool ReadDate(ChangeDate* date) {
    int month = 0;
    int week = 0;
    int day = 0;
    if (!Take('M') || !ReadNumber(12, &month) || month < 1 || !Take('.') || !ReadNumber(5, &week) ||
        week < 1 || !Take('.') || !ReadNumber(6, &day)) {
      return false;
    }
    date->month = static_cast<unsigned>(month);
    date->week = static_cast<unsigned>(week);
    date->dayOfWeek = static_cast<unsigned>(day);
    date->minutes = kDefaultChangeMinutes;
    return !Take('/') || ReadTime(kLargestChangeHours, &date->minutes);
  }

  const std::string& m_text;
  std::size_t m_at = 0;
};

// A zone name of the database: names of letters, digits and "_+-" between
// slashes, none starting with a period, so that it stays inside it.
bool IsZoneName(const std::string& name) {
  if (name.empty() || name.size() > 255 || name.front() == '/' || name.back() == '/') {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    const bool startsName = i == 0 || name[i - 1] == '/';
    if (c == '/' ? startsName
                 : !(std::isalnum(c) || ((c == '_' || c == '+' || c == '-') && !startsName))) {
      return false;
    }
  }
  return true;
}

// A regular file of the database, links followed as the database has them.
bool ReadZoneFile(const std::string& path, std::string* bytes) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (!file.Valid() || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::size_t>(status.st_size) > kLargestZoneFile) {
    return false;
  }
  bytes->resize(static_cast<std::size_t>(status.st_size));
  return ::read(file.Get(), bytes->data(), bytes->size()) == status.st_size;
}

// The rule of a zone of the database: the last line of its file (TZif
// version 2 and later).
std::string ReadZoneRule(const std::string& name, std::string* rule) {
  if (!IsZoneName(name)) return "is neither a POSIX rule nor a zone name such as Europe/Berlin";
  std::string bytes;
  if (!ReadZoneFile(kZoneDatabase + name, &bytes)) {
    return "is no zone of this system's time-zone database (" + std::string(kZoneDatabase) + ")";
  }
  const std::size_t end = bytes.size();
  const std::size_t start = end >= 2 ? bytes.rfind('\n', end - 2) : std::string::npos;
  if (bytes.compare(0, 4, "TZif") != 0 || start == std::string::npos || bytes[end - 1] != '\n') {
    return "has no rule in the time-zone database";
  }
  *rule = bytes.substr(start + 1, end - start - 2);
  return "";
}

// Seconds since 1970 of a change in `year`, in the local time of `bias`.
std::int64_t ChangeSeconds(const ChangeDate& date, std::int64_t year, int biasMinutes) {
  const std::int64_t first = DaysFromCivil(year, date.month, 1);
  // 1970-01-01 was a Thursday.
  const std::int64_t firstDayOfWeek = ((first % 7) + 7 + 4) % 7;
  std::int64_t day = (static_cast<std::int64_t>(date.dayOfWeek) - firstDayOfWeek + 7) % 7 +
                     7 * (static_cast<std::int64_t>(date.week) - 1);
  while (day >= DaysInMonth(year, date.month)) day -= 7;
  return (first + day) * kSecondsPerDay + (date.minutes + biasMinutes) * 60LL;
}

std::int64_t YearOf(std::int64_t seconds) {
  return CivilFromDays(seconds / kSecondsPerDay - (seconds % kSecondsPerDay < 0 ? 1 : 0)).year;
}

}  // namespace

std::string ReadTimeZone(const std::string& text, TimeZone* zone) {
  std::string rule = text;
  const bool named = text.find_first_of("0123456789<") == std::string::npos;
  if (named) {
    if (std::string problem = ReadZoneRule(text, &rule); !problem.empty()) return problem;
  }
  std::string problem = RuleReader(rule).Read(zone);
  if (!problem.empty() && named) return "has a rule (" + rule + ") that " + problem;
  return problem;
}

int BiasAt(const TimeZone& zone, std::int64_t utcSeconds) {
  if (!zone.daylight) return zone.biasMinutes;
  const DaylightRule& daylight = *zone.daylight;
  const std::int64_t year = YearOf(utcSeconds - zone.biasMinutes * 60LL);
  const std::int64_t start = ChangeSeconds(daylight.start, year, zone.biasMinutes);
  const std::int64_t end =
      ChangeSeconds(daylight.end, year, zone.biasMinutes + daylight.biasMinutes);
  // South of the equator daylight time spans the turn of the year.
  const bool inDaylight = start < end ? utcSeconds >= start && utcSeconds < end
                                      : utcSeconds >= start || utcSeconds < end;
  return inDaylight ? zone.biasMinutes + daylight.biasMinutes : zone.biasMinutes;
}

}  // namespace uninst::sim
