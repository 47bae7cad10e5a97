// A machine's time zone as Windows keeps it (TIME_ZONE_INFORMATION): a bias
// and, where the clocks change, the daylight bias with the two dates of the
// change, each a weekday of a month.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace uninst::sim {

// The `week`th (5: the last) `dayOfWeek` (0: Sunday) of `month`, at
// `minutes` after midnight of the local time then in force.
struct ChangeDate {
  unsigned month = 0;
  unsigned week = 0;
  unsigned dayOfWeek = 0;
  int minutes = 0;
};

struct DaylightRule {
  int biasMinutes = -60;  // added to the zone's bias while daylight time runs
  ChangeDate start;       // given in standard time
  ChangeDate end;         // given in daylight time
};

struct TimeZone {
  int biasMinutes = 0;  // UTC = local time + bias
  std::optional<DaylightRule> daylight;
};

// A time zone from a POSIX rule ("CET-1CEST,M3.5.0,M10.5.0/3", "JST-9") or
// the name of a zone of the host's time-zone database ("Europe/Berlin"),
// whose current rule is read; "" or what is wrong with `text`.
std::string ReadTimeZone(const std::string& text, TimeZone* zone);

// The bias in force at `utcSeconds` (seconds since 1970).
int BiasAt(const TimeZone& zone, std::int64_t utcSeconds);

}  // namespace uninst::sim
