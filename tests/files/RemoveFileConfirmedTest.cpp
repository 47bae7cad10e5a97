// Removal of one file: when it asks, what it deletes, and what a failing
// removal answers.
#include <gtest/gtest.h>

#include <string>

#include "core/Text.h"
#include "tests/files/FilesFixture.h"

namespace uninst {
namespace {

using test::FilesFixture;
using test::FilesFixtureWithParam;
using test::kMarch3rd1999;

const char kInfPath[] = "C:\\WINDOWS\\INF\\USBFD1.INF";

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
