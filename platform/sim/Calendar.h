// The proleptic Gregorian calendar, for the simulated machine's clock and
// the dates of a machine folder.
#pragma once

#include <cstdint>

namespace uninst::sim {

bool IsLeapYear(std::int64_t year);
// Days in `month` (1 to 12) of `year`.
unsigned DaysInMonth(std::int64_t year, unsigned month);
// Days since 1970-01-01 of a civil date; valid for every year of a FILETIME
// (the era arithmetic keeps it exact for any year).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);

struct CivilDate {
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
};
// The civil date of a count of days since 1970-01-01.
CivilDate CivilFromDays(std::int64_t days);

}  // namespace uninst::sim
