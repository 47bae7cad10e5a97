// The driver file sweep: table order, both copies of the driver, Cancel,
// the restart flag and windows directories too long for the path buffer.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "files/DriverFiles.h"
#include "tests/files/FilesFixture.h"

namespace uninst {
namespace {

using test::FilesFixture;
using test::FilesFixtureWithParam;

// Where each entry lives below the windows directory, in sweep order.
const char* const kEntries[] = {
    "\\SYSTEM\\USBFDD.SYS",
    "\\SYSTEM32\\DRIVERS\\USBFDD.SYS",
    "\\SYSTEM\\IOSUBSYS\\USBFDVXD.PDR",
    "\\INF\\USBFD1.INF",
    "\\INF\\USBFD2.INF",
    "\\INF\\KMNUSBFD.INF",
    "\\SYSTEM\\IOSUBSYS\\USBFDVSD.VXD",
    "\\SYSTEM\\IOSUBSYS\\KMNFD.VXD",
    "\\INF\\KMNUFD1.INF",
    "\\INF\\KMNUFD2.INF",
    "\\INF\\CATALOG\\KMNUFD1.CAT",
    "\\INF\\CATALOG\\KMNUFD2.CAT",
    "\\INF\\OTHER\\KELMORINKMNUFD1.INF",
    "\\INF\\OTHER\\KELMORINKMNUFD2.INF",
};
constexpr std::size_t kEntryCount = sizeof kEntries / sizeof kEntries[0];
const char kWindows[] = "C:\\WINDOWS";

std::string PathOf(const std::string& windows, std::size_t entry) {
  return windows + kEntries[entry];
}

template <class Base>
class SweepFixture : public test::FilesFixtureOf<Base> {
 protected:
  void CreateEntries(const std::string& windows, const std::set<std::size_t>& entries) {
    for (std::size_t entry : entries) {
      this->m_machine.WriteFile(PathOf(windows, entry), test::FillerBytes(100));
    }
  }
  std::set<std::size_t> AllEntries() const {
    std::set<std::size_t> all;
    for (std::size_t i = 0; i < kEntryCount; ++i) all.insert(i);
    return all;
  }
  std::set<std::size_t> Remaining(const std::string& windows) const {
    std::set<std::size_t> left;
    for (std::size_t i = 0; i < kEntryCount; ++i) {
      if (this->m_machine.FileExists(PathOf(windows, i))) left.insert(i);
    }
    return left;
  }
  SweepOutcome Sweep(const std::string& windows, bool restartFlag = false) {
    RunContext& run = this->m_run;
    run.windowsDirectory = windows.c_str();
    run.restartFlag = restartFlag;
    const SweepOutcome outcome = SweepDriverFiles(run);
    m_restartFlag = run.restartFlag;
    return outcome;
  }

  bool m_restartFlag = false;
};

using DriverFilesTest = SweepFixture<::testing::Test>;

TEST_F(DriverFilesTest, AsksInTableOrderAndNoToAllLeavesEverything) {
  UseApp(true);
  CreateEntries(kWindows, AllEntries());
  m_machine.SetAnswers(std::vector<int>(kEntryCount, kIdNo));
  EXPECT_EQ(Sweep(kWindows), SweepOutcome::kGoOn);
  ASSERT_EQ(m_machine.Boxes().size(), kEntryCount);
  for (std::size_t i = 0; i < kEntryCount; ++i) {
    EXPECT_EQ(m_machine.Boxes()[i].text.rfind(PathOf(kWindows, i) + ":\n  ", 0), 0u)
        << m_machine.Boxes()[i].text;
  }
  EXPECT_EQ(Remaining(kWindows), AllEntries());
  EXPECT_FALSE(m_restartFlag);
}

TEST_F(DriverFilesTest, CancelAtEntryFiveLeavesTheRest) {
  UseApp(true);
  CreateEntries(kWindows, AllEntries());
  m_machine.SetAnswers({kIdYes, kIdYes, kIdNo, kIdYes, kIdCancel, kIdYes});
  EXPECT_EQ(Sweep(kWindows), SweepOutcome::kCancelled);
  EXPECT_EQ(m_machine.Boxes().size(), 5u);
  EXPECT_EQ(Remaining(kWindows), (std::set<std::size_t>{2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
  EXPECT_TRUE(m_restartFlag);
}

TEST_F(DriverFilesTest, BothDriverCopiesGetTheirOwnQuestion) {
  UseApp(true);
  CreateEntries(kWindows, {0, 1});
  m_machine.SetAnswers({kIdNo, kIdYes});
  EXPECT_EQ(Sweep(kWindows), SweepOutcome::kGoOn);
  ASSERT_EQ(m_machine.Boxes().size(), 2u);
  EXPECT_EQ(m_machine.Boxes()[0].text.rfind("C:\\WINDOWS\\SYSTEM\\USBFDD.SYS:", 0), 0u);
  EXPECT_EQ(m_machine.Boxes()[1].text.rfind("C:\\WINDOWS\\SYSTEM32\\DRIVERS\\USBFDD.SYS:", 0), 0u);
  EXPECT_EQ(Remaining(kWindows), (std::set<std::size_t>{0}));
  EXPECT_TRUE(m_restartFlag);
}

struct SilentCase {
  const char* name;
  std::set<std::size_t> existing;
  bool flagBefore;
  bool flagAfter;
};

class SilentSweepTest : public SweepFixture<::testing::TestWithParam<SilentCase>> {};

TEST_P(SilentSweepTest, DeletesWhatExistsWithoutAsking) {
  const SilentCase& c = GetParam();
  UseApp(false);
  CreateEntries(kWindows, c.existing);
  EXPECT_EQ(Sweep(kWindows, c.flagBefore), SweepOutcome::kGoOn);
  EXPECT_TRUE(m_machine.Boxes().empty());
  EXPECT_TRUE(Remaining(kWindows).empty());
  EXPECT_EQ(m_restartFlag, c.flagAfter);
}

INSTANTIATE_TEST_SUITE_P(Cases, SilentSweepTest,
                         ::testing::Values(SilentCase{"NothingThere", {}, false, false},
                                           SilentCase{
                                               "NothingThereKeepsEarlierFlag", {}, true, true},
                                           SilentCase{"OnlyTheVxd", {7}, false, true},
                                           SilentCase{"OnlyTheOtherInfs", {12, 13}, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverFilesTest, FailedDeletionLeavesTheRestartFlagAlone) {
  UseApp(false);
  CreateEntries(kWindows, {7});
  m_machine.AddFault({sim::Op::kDeleteFile, PathOf(kWindows, 7), 0});
  EXPECT_EQ(Sweep(kWindows), SweepOutcome::kGoOn);
  EXPECT_EQ(Remaining(kWindows), (std::set<std::size_t>{7}));
  EXPECT_FALSE(m_restartFlag);
}

// A windows directory of exactly `length` characters on drive C:.
std::string LongWindowsDirectory(std::size_t length) {
  std::string directory = "C:\\" + std::string(200, 'D') + "\\" + std::string(200, 'E') + "\\";
  directory += std::string(length - directory.size(), 'F');
  return directory;
}

struct LongDirectoryCase {
  std::size_t length;
  std::set<std::size_t> skipped;  // entries whose path does not fit in 511 characters
};

class LongDirectoryTest : public SweepFixture<::testing::TestWithParam<LongDirectoryCase>> {};

TEST_P(LongDirectoryTest, SkipsPathsThatDoNotFit) {
  const LongDirectoryCase& c = GetParam();
  UseApp(false);
  const std::string windows = LongWindowsDirectory(c.length);
  CreateEntries(windows, AllEntries());
  EXPECT_EQ(Sweep(windows), SweepOutcome::kGoOn);
  EXPECT_EQ(Remaining(windows), c.skipped);
  EXPECT_TRUE(m_restartFlag);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongDirectoryTest,
                         ::testing::Values(LongDirectoryCase{481, {}},
                                           LongDirectoryCase{482, {12, 13}},
                                           LongDirectoryCase{483, {2, 6, 12, 13}}),
                         [](const auto& info) { return std::to_string(info.param.length); });

}  // namespace
}  // namespace uninst
