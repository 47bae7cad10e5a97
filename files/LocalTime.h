// File times as the removal keeps them: a signed 32-bit count of seconds since
// 1970-01-01 00:00:00 UTC, reached through the machine's local calendar so that
// only the platform knows the time zone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

namespace uninst {

struct LocalSeconds {
  // True when the time lies outside the 32-bit count or cannot be converted.
  // All zero by default, so that a fresh value needs no stored copy.
  bool outOfSpan = false;
  // 0 means the time is absent.
  std::int32_t seconds = 0;

  bool InSpan() const { return !outOfSpan; }
  bool IsAbsent() const { return InSpan() && seconds == 0; }
};

// The seconds of a UTC file time, taken through its local calendar fields. A
// local year before 1900, or a time the platform cannot put into local
// calendar fields, counts as 0.
LocalSeconds LocalSecondsFromFileTime(Platform& platform, const FileTime& utc);

// The UTC file time of `seconds`, taken through its local calendar fields with
// whole seconds only; false when the platform cannot convert it.
bool FileTimeFromLocalSeconds(Platform& platform, std::int32_t seconds, FileTime* utc);

// The local date of `time` as "YYYY/MM/DD" into `dest`; "" when the time is
// outside the 32-bit count or cannot be converted.
void FormatLocalDate(Platform& platform, const LocalSeconds& time, char* dest,
                     std::size_t capacity);

}  // namespace uninst
