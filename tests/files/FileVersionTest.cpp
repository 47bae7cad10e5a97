// The version text: which words it is made of, how it is cut, and that it
// always replaces the destination's earlier content.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "files/FileVersion.h"
#include "tests/files/FilesFixture.h"

namespace uninst {
namespace {

using test::FilesFixture;
using test::FilesFixtureWithParam;

const char kDriverPath[] = "C:\\WINDOWS\\SYSTEM\\USBFDD.SYS";

struct VersionCase {
  const char* name;
  std::uint32_t fileMS, fileLS, productMS, productLS;
  int versionKind;
  int capacity;
  const char* text;
  bool result;
};

class FileVersionTest : public FilesFixtureWithParam<VersionCase> {};

TEST_P(FileVersionTest, WritesTheChosenVersion) {
  const VersionCase& c = GetParam();
  m_machine.WriteFile(kDriverPath,
                      test::VersionedImage(c.fileMS, c.fileLS, c.productMS, c.productLS));
  char dest[65];
  std::memset(dest, 'x', sizeof dest);
  EXPECT_EQ(GetFileVersionText(m_machine, kDriverPath, c.versionKind, dest, c.capacity), c.result);
  EXPECT_EQ(std::string(dest), c.text);
  // Nothing is written past the capacity.
  EXPECT_EQ(dest[c.capacity], 'x');
}

INSTANTIATE_TEST_SUITE_P(
    Words, FileVersionTest,
    ::testing::Values(
        VersionCase{"FileVersion", 0x00010002, 0x00030004, 0x00050006, 0x00070008, 1, 64, "1.2.3.4",
                    true},
        VersionCase{"AnyNonzeroKindIsTheFileVersion", 0x00010002, 0x00030004, 0x00050006,
                    0x00070008, -3, 64, "1.2.3.4", true},
        VersionCase{"ProductVersion", 0x00010002, 0x00030004, 0x00050006, 0x00070008, 0, 64,
                    "5.6.7.8", true},
        VersionCase{"NumbersAreUnsigned16Bit", 0xFFFF0002, 0x8000FFFF, 0, 0, 1, 63,
                    "65535.2.32768.65535", true},
        VersionCase{"AllZeroIsStillAText", 0, 0, 0, 0, 1, 64, "0.0.0.0", true},
        VersionCase{"CutToTheCapacity", 0x00010002, 0x00030004, 0, 0, 1, 4, "1.2", true},
        VersionCase{"CapacityOneLeavesNothing", 0x00010002, 0x00030004, 0, 0, 1, 1, "", false}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

struct MissingCase {
  const char* name;
  bool writeInf;    // an INF file, which has no version resource
  sim::Op failing;  // a version call made to fail (only for the image)
  bool inject;
};

class FileVersionMissingTest : public FilesFixtureWithParam<MissingCase> {};

TEST_P(FileVersionMissingTest, WipesTheDestination) {
  const MissingCase& c = GetParam();
  if (c.writeInf) {
    m_machine.WriteFile(kDriverPath, test::FillerBytes(1536));
  } else {
    m_machine.WriteFile(kDriverPath, test::VersionedImage(0x00010002, 0x00030004, 0, 0));
  }
  if (c.inject) m_machine.AddFault({c.failing, "", 0});
  char dest[512] = "C:\\WINDOWS\\INF\\USBFD1.INF";
  EXPECT_FALSE(GetFileVersionText(m_machine, kDriverPath, 1, dest, sizeof dest));
  EXPECT_STREQ(dest, "");
}

INSTANTIATE_TEST_SUITE_P(
    NoVersion, FileVersionMissingTest,
    ::testing::Values(MissingCase{"FileWithoutResource", true, sim::Op::kGetFileVersionInfo, false},
                      MissingCase{"SizeUnknown", false, sim::Op::kGetFileVersionInfoSize, true},
                      MissingCase{"ResourceNotCopied", false, sim::Op::kGetFileVersionInfo, true},
                      MissingCase{"NoRootBlock", false, sim::Op::kQueryFixedFileInfo, true}),
    [](const ::testing::TestParamInfo<MissingCase>& info) { return std::string(info.param.name); });

TEST_F(FilesFixture, VersionTextOfAnAbsentFileIsEmpty) {
  char dest[16] = "old";
  EXPECT_FALSE(GetFileVersionText(m_machine, "C:\\NOWHERE\\A.SYS", 1, dest, sizeof dest));
  EXPECT_STREQ(dest, "");
}

}  // namespace
}  // namespace uninst
