// The run as a whole on the simulated machine: switches, language, windows
// directory, opening question and closing boxes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "app/UninstallApp.h"
#include "platform/sim/CodePage.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/SimFixture.h"

namespace uninst {
namespace {

const char kCaptionEn[] = "Corrindo Driver for Windows";
const char kCaptionJa[] = "Ｗｉｎｄｏｗｓ版 Corrindo ドライバ";
const char kOpeningEn[] =
    "This program will uninstall the driver files from your system.\n\nDo you want to continue?";
const char kOpeningJa[] = "Corrindo ドライバのアンインストールを行います。\nよろしいですか？";
const char kDoneEn[] = "The driver files were uninstalled successfully.";
const char kDoneJa[] = "Corrindo ドライバのアンインストールが終了しました。";
const char kRestartEn[] =
    "The driver files were uninstalled successfully.\nDo you want to restart your computer now?";
const char kNoWindowsEn[] =
    "Windows isn't installed correctly\nPlease install Windows correctly, \then try again.";
const char kNoWindowsJa[] =
    "Ｗｉｎｄｏｗｓが正しくインストールされていません。\nＷｉｎｄｏｗｓを正しくインストールしてから"
    "再度起動してください。";

class RunTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(m_machine.OpenHandleCount(), 0u); }

  // Starts the program with `switches` after its name; returns the exit code.
  int Start(const std::string& switches, std::vector<int> answers) {
    m_machine.Config().commandLine = "UNINST.EXE " + switches;
    m_machine.SetAnswers(std::move(answers));
    m_app = std::make_unique<UninstallApp>(m_machine);
    return RunApplication(*m_app);
  }

  void ExpectBox(std::size_t index, const char* caption, const char* text, std::uint32_t style) {
    ASSERT_LT(index, m_machine.Boxes().size());
    const sim::MessageBoxRecord& box = m_machine.Boxes()[index];
    // The program's texts come in the machine's ANSI code page.
    const std::uint32_t codePage = m_machine.Config().ansiCodePage;
    EXPECT_EQ(box.caption, sim::Utf8ToCodePageLossy(codePage, caption)) << "box " << index;
    EXPECT_EQ(box.text, sim::Utf8ToCodePageLossy(codePage, text)) << "box " << index;
    EXPECT_EQ(box.style, style) << "box " << index;
  }

  testsupport::SimWorld m_world;
  sim::SimMachine& m_machine = m_world.machine;
  std::unique_ptr<UninstallApp> m_app;
};

TEST_F(RunTest, NoAtTheOpeningQuestionShowsNothingElseAndChangesNothing) {
  m_machine.GetRegistry().CreateKey("Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK\\0000");
  EXPECT_EQ(Start("/E", {kIdNo}), 0);
  ASSERT_EQ(m_machine.Boxes().size(), 1u);
  ExpectBox(0, kCaptionEn, kOpeningEn, 0x24);
  EXPECT_TRUE(m_machine.GetRegistry().KeyExists("Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK\\0000"));
  EXPECT_FALSE(m_machine.RestartRequested());
}

TEST_F(RunTest, YesOnACleanMachineEndsWithTheCompletionMessage) {
  EXPECT_EQ(Start("/E", {kIdYes, kIdOk}), 0);
  ASSERT_EQ(m_machine.Boxes().size(), 2u);
  ExpectBox(0, kCaptionEn, kOpeningEn, 0x24);
  ExpectBox(1, kCaptionEn, kDoneEn, 0x40);
  EXPECT_EQ(m_machine.UnansweredBoxes(), 0);
}

TEST_F(RunTest, SetsTheErrorModeBeforeTheRun) {
  m_machine.SetErrorMode(0x0004);
  Start("/E", {kIdNo});
  EXPECT_EQ(m_machine.ErrorMode(), 0x8005u);
}

struct LanguageCase {
  const char* switches;
  std::uint32_t oemCodePage;
  bool japanese;
};

class RunLanguageTest : public RunTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(RunLanguageTest, ChoosesTheLanguageOfEveryBox) {
  m_machine.Config().oemCodePage = GetParam().oemCodePage;
  Start(GetParam().switches, {kIdYes, kIdOk});
  ASSERT_EQ(m_machine.Boxes().size(), 2u);
  const bool ja = GetParam().japanese;
  ExpectBox(0, ja ? kCaptionJa : kCaptionEn, ja ? kOpeningJa : kOpeningEn, 0x24);
  ExpectBox(1, ja ? kCaptionJa : kCaptionEn, ja ? kDoneJa : kDoneEn, 0x40);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, RunLanguageTest,
    ::testing::Values(LanguageCase{"", 932, true}, LanguageCase{"", 437, false},
                      LanguageCase{"", 850, false}, LanguageCase{"/E", 932, false},
                      LanguageCase{"-english", 932, false}, LanguageCase{"/J", 437, true},
                      LanguageCase{"/E /J", 932, true}, LanguageCase{"/J -E", 932, false},
                      // One token: a tab does not split.
                      LanguageCase{"/J\t/E", 437, true}));

TEST_F(RunTest, MissingWindowsDirectoryShowsExactlyOneWarning) {
  m_machine.Config().windowsDirectory.reset();
  EXPECT_EQ(Start("/E", {kIdOk}), 0);
  ASSERT_EQ(m_machine.Boxes().size(), 1u);
  ExpectBox(0, kCaptionEn, kNoWindowsEn, 0x30);
}

// Windows then gives the size the directory needs and writes nothing.
TEST_F(RunTest, WindowsDirectoryLongerThanThePathBufferShowsTheWarning) {
  m_machine.Config().windowsDirectory = "C:\\" + std::string(600, 'W');
  EXPECT_EQ(Start("/E", {kIdOk}), 0);
  ASSERT_EQ(m_machine.Boxes().size(), 1u);
  ExpectBox(0, kCaptionEn, kNoWindowsEn, 0x30);
}

struct LongLineCase {
  const char* label;
  std::uint32_t oemCodePage;
  std::string switches;
  bool japanese;
};

class RunLongLineTest : public RunTest, public ::testing::WithParamInterface<LongLineCase> {};

// On code page 932 the 32767 characters Windows passes can be 65534 bytes.
TEST_P(RunLongLineTest, ReadsTheWholeCommandLine) {
  m_machine.Config().ansiCodePage = 932;
  m_machine.Config().oemCodePage = GetParam().oemCodePage;
  Start(GetParam().switches, {kIdNo});
  ASSERT_EQ(m_machine.Boxes().size(), 1u);
  ExpectBox(0, GetParam().japanese ? kCaptionJa : kCaptionEn,
            GetParam().japanese ? kOpeningJa : kOpeningEn, 0x24);
}

// Characters of two bytes each, the second a backslash.
std::string DoubleByteText(std::size_t characters) {
  std::string text;
  for (std::size_t i = 0; i < characters; ++i) text += "\x95\x5C";
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RunLongLineTest,
    ::testing::Values(
        LongLineCase{"EnglishBefore17000Characters", 932, "/E " + DoubleByteText(17000), false},
        // "UNINST.EXE " and the switches make 65534 bytes.
        LongLineCase{"JapaneseAtTheVeryEnd", 437, "/E " + DoubleByteText(32758) + "A /J", true}),
    [](const ::testing::TestParamInfo<LongLineCase>& info) { return info.param.label; });

TEST_F(RunTest, MissingWindowsDirectoryWarningInJapanese) {
  m_machine.Config().windowsDirectory.reset();
  m_machine.Config().oemCodePage = 932;
  Start("", {kIdOk});
  ASSERT_EQ(m_machine.Boxes().size(), 1u);
  ExpectBox(0, kCaptionJa, kNoWindowsJa, 0x30);
}

TEST_F(RunTest, DirectorySwitchMeansTheSystemIsNotAsked) {
  m_machine.Config().windowsDirectory.reset();
  m_machine.AddFault({sim::Op::kGetWindowsDirectory, "", 0, kErrorAccessDenied});
  Start("/E /DC:\\ELSEWHERE", {kIdYes, kIdOk});
  ASSERT_EQ(m_machine.Boxes().size(), 2u);
  ExpectBox(1, kCaptionEn, kDoneEn, 0x40);
}

TEST_F(RunTest, AMessageBoxThatCannotBeShownEndsTheRunAtTheOpeningQuestion) {
  m_machine.AddFault({sim::Op::kMessageBox, "", 1, 0});
  EXPECT_EQ(Start("/E", {}), 0);
  EXPECT_EQ(m_machine.Boxes().size(), 0u);
}

// A driver file in the windows directory makes the run end with the restart
// question; `/D` decides which directory that is.
class RunClosingTest : public RunTest {
 protected:
  void PlaceDriverFile(const std::string& windowsDirectory) {
    m_machine.WriteFile(windowsDirectory + "\\SYSTEM\\IOSUBSYS\\KMNFD.VXD", {1, 2, 3});
  }
};

TEST_F(RunClosingTest, YesToTheRestartQuestionRequestsARestart) {
  PlaceDriverFile("C:\\WINDOWS");
  EXPECT_EQ(Start("/E", {kIdYes, kIdYes}), 0);
  ASSERT_EQ(m_machine.Boxes().size(), 2u);
  ExpectBox(1, kCaptionEn, kRestartEn, 0x24);
  EXPECT_TRUE(m_machine.RestartRequested());
  EXPECT_FALSE(m_machine.FileExists("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\KMNFD.VXD"));
}

TEST_F(RunClosingTest, NoToTheRestartQuestionShowsNoCompletionMessage) {
  PlaceDriverFile("C:\\WINDOWS");
  Start("/E", {kIdYes, kIdNo});
  ASSERT_EQ(m_machine.Boxes().size(), 2u);
  ExpectBox(1, kCaptionEn, kRestartEn, 0x24);
  EXPECT_FALSE(m_machine.RestartRequested());
}

TEST_F(RunClosingTest, CancelAtAFileQuestionEndsTheRunWithoutAClosingBox) {
  PlaceDriverFile("C:\\WINDOWS");
  Start("/E /V", {kIdYes, kIdCancel});
  ASSERT_EQ(m_machine.Boxes().size(), 2u);
  EXPECT_EQ(m_machine.Boxes()[1].style, 0x23u);
  EXPECT_TRUE(m_machine.FileExists("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\KMNFD.VXD"));
}

TEST_F(RunClosingTest, EveryBoxOfARunHasTheSameCaption) {
  PlaceDriverFile("C:\\WINDOWS");
  Start("/V", {kIdYes, kIdYes, kIdNo});
  ASSERT_EQ(m_machine.Boxes().size(), 3u);
  for (const sim::MessageBoxRecord& box : m_machine.Boxes()) EXPECT_EQ(box.caption, kCaptionEn);
}

struct DirectoryCase {
  const char* switches;
  const char* windowsDirectory;  // where the driver file is placed
};

class RunDirectoryTest : public RunClosingTest,
                         public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(RunDirectoryTest, TakesTheWindowsDirectoryFromTheSwitch) {
  PlaceDriverFile(GetParam().windowsDirectory);
  Start(GetParam().switches, {kIdYes, kIdNo});
  ASSERT_EQ(m_machine.Boxes().size(), 2u);
  ExpectBox(1, kCaptionEn, kRestartEn, 0x24);
}

INSTANTIATE_TEST_SUITE_P(Switches, RunDirectoryTest,
                         ::testing::Values(DirectoryCase{"/E /Dc:\\win98\\", "C:\\WIN98"},
                                           DirectoryCase{"/E -dC:\\Win", "C:\\WIN"},
                                           DirectoryCase{"/E /DC:\\A /DC:\\B", "C:\\B"},
                                           DirectoryCase{"/E /DC:\\MY DIR", "C:\\MY"},
                                           // Only one of two trailing backslashes goes.
                                           DirectoryCase{"/E /DC:\\WIN\\\\", "C:\\WIN\\"},
                                           // "/D" alone: paths start with a backslash.
                                           DirectoryCase{"/E /D", ""}));

TEST_F(RunClosingTest, ADirectoryTooLongForThePathBufferIsSkippedNotCut) {
  // 481 characters still fit the longest driver path; one more does not.
  const std::string longDirectory = "C:\\" + std::string(600, 'L');
  PlaceDriverFile("C:\\WINDOWS");
  Start("/E /D" + longDirectory, {kIdYes, kIdOk});
  ASSERT_EQ(m_machine.Boxes().size(), 2u);
  ExpectBox(1, kCaptionEn, kDoneEn, 0x40);
}

}  // namespace
}  // namespace uninst
