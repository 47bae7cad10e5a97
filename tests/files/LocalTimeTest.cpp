// Conversions between file times and the 32-bit seconds of the removal, and
// the date text, across time zones and the edges of the 32-bit span.
#include <gtest/gtest.h>

#include <string>

#include "files/LocalTime.h"
#include "platform/sim/SimMachine.h"

namespace uninst {
namespace {

struct DateCase {
  const char* name;
  std::int64_t unixSeconds;  // of the file time, UTC
  int biasMinutes;           // local = UTC - bias
  bool inSpan;
  std::int32_t seconds;
  const char* date;
};

class LocalTimeTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(LocalTimeTest, GivesSecondsAndLocalDate) {
  const DateCase& c = GetParam();
  sim::SimMachine machine;
  machine.Config().timeZoneBiasMinutes = c.biasMinutes;
  FileTime utc;
  utc.ticks = sim::FileTimeFromUnix(c.unixSeconds);

  const LocalSeconds time = LocalSecondsFromFileTime(machine, utc);
  EXPECT_EQ(time.InSpan(), c.inSpan);
  if (c.inSpan) {
    EXPECT_EQ(time.seconds, c.seconds);
  }

  char date[16] = "stale";
  FormatLocalDate(machine, time, date, sizeof date);
  EXPECT_EQ(std::string(date), c.date);
}

constexpr std::int64_t kYear1850 = -3786825600;  // 1850-01-01 00:00:00 UTC

INSTANTIATE_TEST_SUITE_P(
    Edges, LocalTimeTest,
    ::testing::Values(
        DateCase{"Utc", 920419200, 0, true, 920419200, "1999/03/03"},
        DateCase{"WestOfUtcIsTheDayBefore", 920419200, 60, true, 920419200, "1999/03/02"},
        DateCase{"EastOfUtcIsTheDayAfter", 920419199, -540, true, 920419199, "1999/03/03"},
        DateCase{"Epoch", 0, 0, true, 0, "1970/01/01"},
        DateCase{"EpochWestOfUtc", 0, 300, true, 0, "1969/12/31"},
        DateCase{"BeforeEpoch", -1, 0, false, 0, ""},
        DateCase{"BeforeEpochUtcThoughLocallyAfter", -1, -540, false, 0, ""},
        DateCase{"LastSecond", 2147483647, 0, true, 2147483647, "2038/01/19"},
        DateCase{"LastSecondEastOfUtc", 2147483647, -540, true, 2147483647, "2038/01/19"},
        DateCase{"AfterLastSecond", 2147483648, 0, false, 0, ""},
        DateCase{"LocalYearBefore1900CountsAsEpoch", kYear1850, 0, true, 0, "1970/01/01"},
        DateCase{"LocalYearBefore1900WestOfUtc", kYear1850, 300, true, 0, "1969/12/31"}),
    [](const ::testing::TestParamInfo<DateCase>& info) { return std::string(info.param.name); });

TEST(LocalTimeRoundTrip, GivesBackTheFileTimeToTheSecond) {
  sim::SimMachine machine;
  for (int bias : {0, 300, -540}) {
    machine.Config().timeZoneBiasMinutes = bias;
    FileTime utc;
    utc.ticks = sim::FileTimeFromUnix(920419200 + 4321) + 1234567;  // with a fraction
    const LocalSeconds time = LocalSecondsFromFileTime(machine, utc);
    FileTime back;
    ASSERT_TRUE(FileTimeFromLocalSeconds(machine, time.seconds, &back));
    EXPECT_EQ(back.ticks, sim::FileTimeFromUnix(920419200 + 4321)) << "bias " << bias;
  }
}

TEST(LocalTimeFaults, UnconvertibleFileTimeCountsAsAbsent) {
  sim::SimMachine machine;
  machine.AddFault({sim::Op::kFileTimeToSystemTime, "", 0});
  FileTime utc;
  utc.ticks = sim::FileTimeFromUnix(920419200);
  EXPECT_TRUE(LocalSecondsFromFileTime(machine, utc).IsAbsent());
}

}  // namespace
}  // namespace uninst
