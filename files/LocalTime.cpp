#include "files/LocalTime.h"

#include "core/Text.h"
#include "files/AppendNumber.h"

namespace uninst {

namespace {

// Seconds from 1601-01-01, where file times start, to 1970-01-01.
constexpr std::int64_t kMaxSeconds = 0x7FFFFFFF;
constexpr std::uint16_t kFirstCountedYear = 1900;

bool LocalFieldsFromSeconds(Platform& platform, std::int32_t seconds, SystemTime* fields) {
  FileTime utc;
  utc.ticks =
      static_cast<std::uint64_t>(seconds + kSecondsFrom1601To1970) * kFileTimeTicksPerSecond;
  FileTime local;
  return platform.FileTimeToLocalFileTime(utc, &local) &&
         platform.FileTimeToSystemTime(local, fields);
}

bool FileTimeFromLocalFields(Platform& platform, SystemTime fields, FileTime* utc) {
  fields.milliseconds = 0;
  FileTime local;
  return platform.SystemTimeToFileTime(fields, &local) &&
         platform.LocalFileTimeToFileTime(local, utc);
}

LocalSeconds SecondsFromLocalFields(Platform& platform, const SystemTime& fields) {
  LocalSeconds result;
  if (fields.year < kFirstCountedYear) return result;
  FileTime utc;
  if (!FileTimeFromLocalFields(platform, fields, &utc)) {
    result.outOfSpan = true;
    return result;
  }
  const std::int64_t seconds =
      static_cast<std::int64_t>(utc.ticks / kFileTimeTicksPerSecond) - kSecondsFrom1601To1970;
  if (seconds < 0 || seconds > kMaxSeconds) {
    result.outOfSpan = true;
    return result;
  }
  result.seconds = static_cast<std::int32_t>(seconds);
  return result;
}

}  // namespace

LocalSeconds LocalSecondsFromFileTime(Platform& platform, const FileTime& utc) {
  FileTime local;
  SystemTime fields;
  // A file time without local calendar fields counts as absent.
  if (!platform.FileTimeToLocalFileTime(utc, &local) ||
      !platform.FileTimeToSystemTime(local, &fields)) {
    return LocalSeconds();
  }
  return SecondsFromLocalFields(platform, fields);
}

bool FileTimeFromLocalSeconds(Platform& platform, std::int32_t seconds, FileTime* utc) {
  SystemTime fields;
  return LocalFieldsFromSeconds(platform, seconds, &fields) &&
         FileTimeFromLocalFields(platform, fields, utc);
}

void FormatLocalDate(Platform& platform, const LocalSeconds& time, char* dest,
                     std::size_t capacity) {
  Text date;
  SystemTime fields;
  if (time.InSpan() && LocalFieldsFromSeconds(platform, time.seconds, &fields)) {
    AppendNumber(date, fields.year, 4);
    date.Append("/");
    AppendNumber(date, fields.month, 2);
    date.Append("/");
    AppendNumber(date, fields.day, 2);
  }
  if (!CopyBounded(dest, capacity, date.Get()) && capacity > 0) dest[0] = '\0';
}

}  // namespace uninst
