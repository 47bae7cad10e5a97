// Time conversions of the simulated machine: the proleptic Gregorian
// calendar from 1601, and the machine's time zone.
#include <cstdint>
#include <ctime>

#include "platform/sim/Calendar.h"
#include "platform/sim/SimState.h"

namespace uninst::sim {
namespace {

constexpr std::uint64_t kTicksPerMillisecond = 10000ULL;
constexpr std::uint64_t kTicksPerMinute = 60ULL * 1000 * kTicksPerMillisecond;
constexpr std::uint64_t kMillisecondsPerDay = 24ULL * 60 * 60 * 1000;
// FILETIME values from 2^63 on are refused by the conversions, as Windows does.
constexpr std::uint64_t kLargestTime = 0x7FFFFFFFFFFFFFFFULL;
constexpr std::int64_t kDaysFrom1601To1970 = kSecondsFrom1601To1970 / (24 * 60 * 60);
constexpr std::uint16_t kFirstYear = 1601;
constexpr std::uint16_t kLastYear = 30827;

bool FieldsAreValid(const SystemTime& fields) {
  return fields.year >= kFirstYear && fields.year <= kLastYear && fields.month >= 1 &&
         fields.month <= 12 && fields.day >= 1 &&
         fields.day <= DaysInMonth(fields.year, fields.month) && fields.hour < 24 &&
         fields.minute < 60 && fields.second < 60 && fields.milliseconds < 1000;
}

// `time` moved by `minutes`; false when the result leaves the FILETIME range.
bool ShiftByMinutes(std::uint64_t ticks, std::int64_t minutes, FileTime* result) {
  if (ticks > kLargestTime) return false;
  const std::uint64_t shift =
      static_cast<std::uint64_t>(minutes < 0 ? -minutes : minutes) * kTicksPerMinute;
  if (minutes < 0 ? ticks < shift : kLargestTime - ticks < shift) return false;
  result->ticks = minutes < 0 ? ticks - shift : ticks + shift;
  return true;
}

}  // namespace

// Windows converts every time with the bias in force now, not at the time
// converted: a summer date seen in winter is an hour off its own local time.
std::int64_t SimMachine::State::BiasNow() const {
  const std::int64_t now = config->clockUnixSeconds.value_or(std::time(nullptr));
  return BiasAt(TimeZone{config->timeZoneBiasMinutes, config->daylight}, now);
}

bool SimMachine::FileTimeToLocalFileTime(const FileTime& utc, FileTime* local) {
  if (Enter(Op::kFileTimeToLocalFileTime, "")) return false;
  // Local time = UTC - bias.
  if (local && ShiftByMinutes(utc.ticks, -m_state->BiasNow(), local)) return true;
  m_state->lastError = kErrorInvalidParameter;
  return false;
}

bool SimMachine::LocalFileTimeToFileTime(const FileTime& local, FileTime* utc) {
  if (Enter(Op::kLocalFileTimeToFileTime, "")) return false;
  if (utc && ShiftByMinutes(local.ticks, m_state->BiasNow(), utc)) return true;
  m_state->lastError = kErrorInvalidParameter;
  return false;
}

bool SimMachine::FileTimeToSystemTime(const FileTime& time, SystemTime* fields) {
  if (Enter(Op::kFileTimeToSystemTime, "")) return false;
  if (!fields || time.ticks > kLargestTime) {
    m_state->lastError = kErrorInvalidParameter;
    return false;
  }
  const std::uint64_t milliseconds = time.ticks / kTicksPerMillisecond;
  const std::uint64_t days = milliseconds / kMillisecondsPerDay;
  std::uint64_t ofDay = milliseconds % kMillisecondsPerDay;
  const CivilDate date = CivilFromDays(static_cast<std::int64_t>(days) - kDaysFrom1601To1970);
  fields->year = static_cast<std::uint16_t>(date.year);
  fields->month = static_cast<std::uint16_t>(date.month);
  fields->day = static_cast<std::uint16_t>(date.day);
  fields->dayOfWeek = static_cast<std::uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
  fields->milliseconds = static_cast<std::uint16_t>(ofDay % 1000);
  ofDay /= 1000;
  fields->second = static_cast<std::uint16_t>(ofDay % 60);
  fields->minute = static_cast<std::uint16_t>(ofDay / 60 % 60);
  fields->hour = static_cast<std::uint16_t>(ofDay / 3600);
  return true;
}

bool SimMachine::SystemTimeToFileTime(const SystemTime& fields, FileTime* time) {
  if (Enter(Op::kSystemTimeToFileTime, "")) return false;
  if (!time || !FieldsAreValid(fields)) {
    m_state->lastError = kErrorInvalidParameter;
    return false;
  }
  const std::int64_t days =
      DaysFromCivil(fields.year, fields.month, fields.day) + kDaysFrom1601To1970;
  const std::uint64_t seconds = static_cast<std::uint64_t>(days) * 86400 + fields.hour * 3600u +
                                fields.minute * 60u + fields.second;
  time->ticks = (seconds * 1000 + fields.milliseconds) * kTicksPerMillisecond;
  return true;
}

}  // namespace uninst::sim
