// Removal of one file: when it asks, what it asks, what it deletes, and what
// a failing removal answers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "core/Text.h"
#include "platform/sim/CodePage.h"
#include "tests/files/FilesFixture.h"

namespace uninst {
namespace {

using test::FilesFixture;
using test::FilesFixtureWithParam;
using test::kMarch3rd1999;

const char kInfPath[] = "C:\\WINDOWS\\INF\\USBFD1.INF";
const char kDriverPath[] = "C:\\WINDOWS\\SYSTEM\\USBFDD.SYS";
const char kQuestionEn[] = "Would you like to remove the file?";
const char kQuestionJa[] = "ファイルを削除してよろしいですか？";
const char kCaptionEn[] = "Corrindo Driver for Windows";
const char kCaptionJa[] = "Ｗｉｎｄｏｗｓ版 Corrindo ドライバ";

std::string Question(const std::string& path, const std::string& details, const char* question) {
  return path + ":\n  " + details + "\n\n" + question;
}

// ---------------------------------------------------------------------------
// Files that cannot be opened.

struct UnopenableCase {
  const char* name;
  bool confirm;
  bool inUse;
};

class UnopenableFileTest : public FilesFixtureWithParam<UnopenableCase> {};

TEST_P(UnopenableFileTest, AnswersNoWithoutQuestion) {
  const UnopenableCase& c = GetParam();
  UseApp(c.confirm);
  if (c.inUse) {
    m_machine.WriteFile(kInfPath, test::FillerBytes(10));
    m_machine.SetInUse(kInfPath, true);
  }
  EXPECT_EQ(Remove(kInfPath), kIdNo);
  EXPECT_TRUE(m_machine.Boxes().empty());
  EXPECT_TRUE(m_run.formatText.IsEmpty());
  EXPECT_STREQ(m_run.pathBuffer, kInfPath);
  EXPECT_EQ(m_machine.FileExists(kInfPath), c.inUse);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnopenableFileTest,
                         ::testing::Values(UnopenableCase{"AbsentSilent", false, false},
                                           UnopenableCase{"AbsentConfirmed", true, false},
                                           UnopenableCase{"InUseSilent", false, true},
                                           UnopenableCase{"InUseConfirmed", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FilesFixture, DirectoryIsNotRemoved) {
  UseApp(true);
  m_machine.WriteFile(kInfPath, test::FillerBytes(10));
  EXPECT_EQ(Remove("C:\\WINDOWS\\INF"), kIdNo);
  EXPECT_TRUE(m_machine.Boxes().empty());
  EXPECT_TRUE(m_machine.FileExists(kInfPath));
}

TEST_F(FilesFixture, PathLongerThanThePathBufferIsAnsweredNo) {
  UseApp(true);
  const std::string path = "C:\\" + std::string(UninstallApp::kPathBufferSize, 'A');
  const std::uint64_t callsBefore = m_machine.CallCount();
  EXPECT_EQ(m_app.RemoveFileConfirmed(path.c_str()), kIdNo);
  EXPECT_EQ(m_machine.CallCount(), callsBefore);
  EXPECT_TRUE(m_machine.Boxes().empty());
}

// ---------------------------------------------------------------------------
// Deletion, whatever the attributes.

struct AttributeCase {
  const char* name;
  std::uint32_t attributes;
  bool confirm;
};

class DeletionTest : public FilesFixtureWithParam<AttributeCase> {};

TEST_P(DeletionTest, DeletesAndAnswersYes) {
  const AttributeCase& c = GetParam();
  UseApp(c.confirm);
  m_machine.SetAnswers({kIdYes});
  m_machine.WriteFile(kInfPath, test::FillerBytes(1536));
  m_machine.SetAttributesOf(kInfPath, c.attributes);
  EXPECT_EQ(Remove(kInfPath), kIdYes);
  EXPECT_FALSE(m_machine.FileExists(kInfPath));
  EXPECT_EQ(m_machine.Boxes().size(), c.confirm ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, DeletionTest,
    ::testing::Values(
        AttributeCase{"Plain", 0, false}, AttributeCase{"Archive", kFileAttributeArchive, false},
        AttributeCase{"ReadOnly", kFileAttributeReadOnly, false},
        AttributeCase{"Hidden", kFileAttributeHidden, false},
        AttributeCase{"System", kFileAttributeSystem, false},
        AttributeCase{"ReadOnlyHiddenSystem",
                      kFileAttributeReadOnly | kFileAttributeHidden | kFileAttributeSystem, false},
        AttributeCase{"ReadOnlyAfterYes", kFileAttributeReadOnly, true},
        AttributeCase{"PlainAfterYes", 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The question.

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

// The answer of the box is the removal answer; only Yes deletes.
struct AnswerCase {
  const char* name;
  int answer;  // 0: the box cannot be shown
  bool deleted;
};

class AnswerTest : public FilesFixtureWithParam<AnswerCase> {};

TEST_P(AnswerTest, IsTheRemovalAnswer) {
  const AnswerCase& c = GetParam();
  UseApp(true);
  if (c.answer != 0) m_machine.SetAnswers({c.answer});
  m_machine.WriteFile(kInfPath, test::FillerBytes(1536));
  EXPECT_EQ(Remove(kInfPath), c.answer);
  EXPECT_EQ(m_machine.FileExists(kInfPath), !c.deleted);
}

INSTANTIATE_TEST_SUITE_P(Answers, AnswerTest,
                         ::testing::Values(AnswerCase{"Yes", kIdYes, true},
                                           AnswerCase{"No", kIdNo, false},
                                           AnswerCase{"Cancel", kIdCancel, false},
                                           AnswerCase{"NotShown", 0, false}),
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

// ---------------------------------------------------------------------------
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

// ---------------------------------------------------------------------------
// A removal that fails is answered No and leaves the file.

struct FailureCase {
  const char* name;
  std::uint32_t attributes;
  sim::Fault fault;
  int answer;
  bool remains;
};

class FailingRemovalTest : public FilesFixtureWithParam<FailureCase> {};

TEST_P(FailingRemovalTest, IsAnsweredNo) {
  const FailureCase& c = GetParam();
  UseApp(false);
  m_machine.WriteFile(kInfPath, test::FillerBytes(1536));
  m_machine.SetAttributesOf(kInfPath, c.attributes);
  m_machine.AddFault(c.fault);
  EXPECT_EQ(Remove(kInfPath), c.answer);
  EXPECT_EQ(m_machine.FileExists(kInfPath), c.remains);
  EXPECT_TRUE(m_machine.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailingRemovalTest,
    ::testing::Values(
        FailureCase{"Deletion", 0, {sim::Op::kDeleteFile, "", 0}, kIdNo, true},
        FailureCase{"ReadOnlyReset",
                    kFileAttributeReadOnly,
                    {sim::Op::kSetFileAttributes, "", 0},
                    kIdNo,
                    true},
        FailureCase{
            "HiddenReset", kFileAttributeHidden, {sim::Op::kSetFileAttributes, "", 0}, kIdNo, true},
        FailureCase{"AttributeRead", 0, {sim::Op::kGetFileAttributes, "", 0}, kIdNo, true},
        FailureCase{"TimeWriteOpen", 0, {sim::Op::kCreateFile, "", 2}, kIdNo, true},
        FailureCase{"TimeWrite", 0, {sim::Op::kSetFileTime, "", 0}, kIdNo, true},
        // The status by name is not needed for the deletion itself.
        FailureCase{"StatusByName", 0, {sim::Op::kFindFile, "", 0}, kIdYes, false},
        // A time that cannot be converted back is not written.
        FailureCase{"TimeConversion", 0, {sim::Op::kSystemTimeToFileTime, "", 0}, kIdYes, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FilesFixture, FailedDeletionLeavesTheLastWriteTimeAsItWas) {
  for (int bias : {0, 300, -540}) {
    m_machine.Config().timeZoneBiasMinutes = bias;
    UseApp(false);
    const std::int64_t lastWrite = kMarch3rd1999 + 12345;
    m_machine.WriteFile(kInfPath, test::FillerBytes(10), lastWrite);
    m_machine.AddFault({sim::Op::kDeleteFile, kInfPath, 0});
    EXPECT_EQ(Remove(kInfPath), kIdNo);
    FindData found;
    ASSERT_TRUE(m_machine.FindFile(kInfPath, &found));
    EXPECT_EQ(found.lastWriteTime.ticks, sim::FileTimeFromUnix(lastWrite)) << "bias " << bias;
  }
}

}  // namespace
}  // namespace uninst
