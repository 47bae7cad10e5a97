// Time conversions of the simulated machine: the proleptic Gregorian
// calendar from 1601, and a local time zone of fixed bias without DST.
#include <cstdint>

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

// The civil date of a count of days since 1970-01-01.
void CivilFromDays(std::int64_t days, SystemTime* fields) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  fields->year = static_cast<std::uint16_t>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  fields->month = static_cast<std::uint16_t>(month);
  fields->day = static_cast<std::uint16_t>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
}

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

bool SimMachine::FileTimeToLocalFileTime(const FileTime& utc, FileTime* local) {
  if (Enter(Op::kFileTimeToLocalFileTime, "")) return false;
  // Local time = UTC - bias.
  if (local && ShiftByMinutes(utc.ticks, -std::int64_t{m_config.timeZoneBiasMinutes}, local)) {
    return true;
  }
  m_state->lastError = kErrorInvalidParameter;
  return false;
}

bool SimMachine::LocalFileTimeToFileTime(const FileTime& local, FileTime* utc) {
  if (Enter(Op::kLocalFileTimeToFileTime, "")) return false;
  if (utc && ShiftByMinutes(local.ticks, m_config.timeZoneBiasMinutes, utc)) return true;
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
  CivilFromDays(static_cast<std::int64_t>(days) - kDaysFrom1601To1970, fields);
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
