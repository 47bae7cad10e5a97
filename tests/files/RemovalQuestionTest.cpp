// The question asked before a removal: the path, the size, date and version
// of the file, the question in the run's language, and what the path buffer
// holds afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/sim/CodePage.h"
#include "tests/files/FilesFixture.h"

namespace uninst::test {
namespace {

const char kInfPath[] = "C:\\WINDOWS\\INF\\USBFD1.INF";
const char kDriverPath[] = "C:\\WINDOWS\\SYSTEM\\USBFDD.SYS";
const char kQuestionEn[] = "Would you like to remove the file?";
const char kQuestionJa[] = "ファイルを削除してよろしいですか？";
const char kCaptionEn[] = "Corrindo Driver for Windows";
const char kCaptionJa[] = "Ｗｉｎｄｏｗｓ版 Corrindo ドライバ";

std::string Question(const std::string& path, const std::string& details, const char* question) {
  return path + ":\n  " + details + "\n\n" + question;
}

struct QuestionCase {
  const char* name;
  int languageBase;
  bool versioned;
  std::uint32_t fileMS;  // for a versioned file; its LS word is 3.4
  const char* details;   // without the size for a versioned file
  const char* question;
  const char* caption;
};

class QuestionTest : public FilesFixtureWithParam<QuestionCase> {};

TEST_P(QuestionTest, ShowsPathDetailsAndQuestion) {
  const QuestionCase& c = GetParam();
  UseApp(true, c.languageBase);
  m_machine.SetAnswers({kIdNo});
  std::string path = kInfPath;
  std::string details = c.details;
  if (c.versioned) {
    path = kDriverPath;
    const std::vector<std::uint8_t> image = test::VersionedImage(c.fileMS, 0x00030004, 0, 0);
    m_machine.WriteFile(path, image);
    details = std::to_string(image.size()) + details;
  } else {
    m_machine.WriteFile(path, test::FillerBytes(1536));
  }

  EXPECT_EQ(Remove(path), kIdNo);
  ASSERT_EQ(m_machine.Boxes().size(), 1u);
  const sim::MessageBoxRecord& box = m_machine.Boxes()[0];
  // The program's texts come in the machine's ANSI code page.
  const std::uint32_t codePage = m_machine.Config().ansiCodePage;
  EXPECT_EQ(box.text, sim::Utf8ToCodePageLossy(codePage, Question(path, details, c.question)));
  EXPECT_EQ(box.caption, sim::Utf8ToCodePageLossy(codePage, c.caption));
  EXPECT_EQ(box.style, 0x23u);
  EXPECT_TRUE(m_machine.FileExists(path));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QuestionTest,
    ::testing::Values(QuestionCase{"InfEnglish", kLanguageBaseEnglish, false, 0,
                                   "1536 bytes 1999/03/03", kQuestionEn, kCaptionEn},
                      QuestionCase{"InfJapanese", kLanguageBaseJapanese, false, 0,
                                   "1536 バイト 1999/03/03", kQuestionJa, kCaptionJa},
                      QuestionCase{"DriverEnglish", kLanguageBaseEnglish, true, 0x00010002,
                                   " bytes 1999/03/03 (v1.2.3.4)", kQuestionEn, kCaptionEn},
                      QuestionCase{"DriverJapanese", kLanguageBaseJapanese, true, 0x00010002,
                                   " バイト 1999/03/03 (v1.2.3.4)", kQuestionJa, kCaptionJa},
                      QuestionCase{"DriverWithTopNumber", kLanguageBaseEnglish, true, 0xFFFF0002,
                                   " bytes 1999/03/03 (v65535.2.3.4)", kQuestionEn, kCaptionEn}),
    [](const auto& info) { return std::string(info.param.name); });

// A file's last-write time set on the host, to the second.
void SetHostLastWrite(const std::string& hostPath, std::int64_t unixSeconds) {
  const struct timespec times[2] = {{static_cast<time_t>(unixSeconds), 0},
                                    {static_cast<time_t>(unixSeconds), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, hostPath.c_str(), times, 0), 0);
}

TEST_F(FilesFixture, SizeFrom2GiBIsShownNegative) {
  UseApp(true);
  m_machine.SetAnswers({kIdNo});
  m_machine.WriteFile(kInfPath, test::FillerBytes(1));
  const std::string host = m_machine.HostPath(kInfPath).value();
  std::filesystem::resize_file(host, 3ull << 30);  // sparse
  SetHostLastWrite(host, kMarch3rd1999);
  EXPECT_EQ(Remove(kInfPath), kIdNo);
  ASSERT_EQ(m_machine.Boxes().size(), 1u);
  EXPECT_EQ(m_machine.Boxes()[0].text,
            Question(kInfPath, "-1073741824 bytes 1999/03/03", kQuestionEn));
}

struct DateCase {
  const char* name;
  std::int64_t lastWrite;
  const char* details;
};

class DateTest : public FilesFixtureWithParam<DateCase> {};

TEST_P(DateTest, OutsideThe32BitSpanTheDateIsEmpty) {
  const DateCase& c = GetParam();
  UseApp(true);
  m_machine.SetAnswers({kIdNo});
  m_machine.WriteFile(kInfPath, test::FillerBytes(1536), c.lastWrite);
  EXPECT_EQ(Remove(kInfPath), kIdNo);
  ASSERT_EQ(m_machine.Boxes().size(), 1u);
  EXPECT_EQ(m_machine.Boxes()[0].text, Question(kInfPath, c.details, kQuestionEn));
}

INSTANTIATE_TEST_SUITE_P(Edges, DateTest,
                         ::testing::Values(DateCase{"AfterLastSecond", 2147483648, "1536 bytes "},
                                           DateCase{"BeforeEpoch", -1, "1536 bytes "}),
                         [](const auto& info) { return std::string(info.param.name); });

// The status of the open file cannot be read: the details line is empty.
class UnreadableStatusTest : public FilesFixtureWithParam<sim::Op> {};

TEST_P(UnreadableStatusTest, LeavesTheDetailsLineEmpty) {
  UseApp(true);
  m_machine.SetAnswers({kIdNo});
  m_machine.WriteFile(kInfPath, test::FillerBytes(1536));
  m_machine.AddFault({GetParam(), "", 0});
  EXPECT_EQ(Remove(kInfPath), kIdNo);
  ASSERT_EQ(m_machine.Boxes().size(), 1u);
  EXPECT_EQ(m_machine.Boxes()[0].text, Question(kInfPath, "", kQuestionEn));
}

INSTANTIATE_TEST_SUITE_P(Reads, UnreadableStatusTest,
                         ::testing::Values(sim::Op::kGetFileTime, sim::Op::kGetFileSize),
                         [](const auto& info) { return std::string(sim::OpName(info.param)); });

// The path buffer afterwards.

struct BufferCase {
  const char* name;
  bool versioned;
  bool confirm;
  const char* expected;  // nullptr: still the path
};

class PathBufferTest : public FilesFixtureWithParam<BufferCase> {};

TEST_P(PathBufferTest, HoldsTheVersionTextAfterAQuestion) {
  const BufferCase& c = GetParam();
  UseApp(c.confirm);
  m_machine.SetAnswers({kIdYes});
  m_machine.WriteFile(kDriverPath, c.versioned ? test::VersionedImage(0x00010002, 0x00030004, 0, 0)
                                               : test::FillerBytes(1536));
  EXPECT_EQ(Remove(kDriverPath), kIdYes);
  EXPECT_STREQ(m_run.pathBuffer, c.expected != nullptr ? c.expected : kDriverPath);
}

INSTANTIATE_TEST_SUITE_P(Cases, PathBufferTest,
                         ::testing::Values(BufferCase{"VersionAsked", true, true, "1.2.3.4"},
                                           BufferCase{"NoVersionAsked", false, true, ""},
                                           BufferCase{"VersionSilent", true, false, nullptr},
                                           BufferCase{"NoVersionSilent", false, false, nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace uninst::test
