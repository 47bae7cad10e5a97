#include <cstring>
#include <string>
#include <vector>

#include "registry/RegistryString.h"
#include "tests/registry/RegistryFixture.h"

namespace uninst::test {
namespace {

constexpr char kKey[] = "Enum\\USB\\VID_0D7C&PID_FFFF\\0000";
constexpr std::uint32_t kSize = 512;

std::vector<std::uint8_t> Bytes(const std::string& text, bool terminated) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  if (terminated) bytes.push_back(0);
  return bytes;
}

struct ReaderCase {
  const char* name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
  std::uint32_t expected;
  std::string expectedText;  // checked when `expected` is not 0
};

class ReadRegistryStringCases : public RegistryTest,
                                public ::testing::WithParamInterface<ReaderCase> {};

TEST_P(ReadRegistryStringCases, GivesTheTerminatedStringOrNothing) {
  const ReaderCase& c = GetParam();
  Reg().SetValue(kKey, "Driver", c.type, c.data);
  char dest[kSize + 8];
  std::memset(dest, '#', sizeof dest);
  const std::uint32_t result =
      ReadRegistryString(machine, kLocalMachine, kKey, "Driver", dest, kSize);
  EXPECT_EQ(result, c.expected);
  if (result != 0) {
    EXPECT_EQ(std::string(dest), c.expectedText);
    EXPECT_EQ(std::strlen(dest) + 1, result);
  }
  EXPECT_EQ(dest[kSize], '#') << "written past the size";
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadRegistryStringCases,
    ::testing::Values(
        ReaderCase{"SevenCharacters", kRegSz, Bytes("fdc\\000", true), 8, "fdc\\000"},
        ReaderCase{"EmptyString", kRegSz, Bytes("", true), 1, ""},
        ReaderCase{"NoBytesAtAll", kRegSz, {}, 0, ""},
        ReaderCase{"ExpandString", kRegExpandSz, Bytes("%windir%", true), 0, ""},
        ReaderCase{"Binary", kRegBinary, Bytes("abc", true), 0, ""},
        ReaderCase{"Dword", kRegDword, {1, 0, 0, 0}, 0, ""},
        ReaderCase{"Exactly512", kRegSz, Bytes(std::string(511, 'a'), true), 512,
                   std::string(511, 'a')},
        ReaderCase{"Bytes513", kRegSz, Bytes(std::string(512, 'a'), true), 0, ""},
        ReaderCase{"UnterminatedGetsTerminator", kRegSz, Bytes("abc", false), 4, "abc"},
        ReaderCase{"Unterminated511", kRegSz, Bytes(std::string(511, 'b'), false), 512,
                   std::string(511, 'b')},
        ReaderCase{"Unterminated512Refused", kRegSz, Bytes(std::string(512, 'b'), false), 0, ""}),
    [](const ::testing::TestParamInfo<ReaderCase>& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, MissingKeyLeavesTheDestinationUntouched) {
  char buffer[kSize];
  std::strcpy(buffer, "Enum\\NoSuchKey");
  EXPECT_EQ(ReadRegistryString(machine, kLocalMachine, buffer, "Driver", buffer, kSize), 0u);
  EXPECT_STREQ(buffer, "Enum\\NoSuchKey");
}

TEST_F(RegistryTest, FailedOpenLeavesTheDestinationUntouched) {
  Reg().SetString(kKey, "Driver", "fdc\\0000");
  machine.AddFault({sim::Op::kRegOpenKeyEx, kKey, 0, kErrorAccessDenied});
  char buffer[kSize];
  std::strcpy(buffer, kKey);
  EXPECT_EQ(ReadRegistryString(machine, kLocalMachine, buffer, "Driver", buffer, kSize), 0u);
  EXPECT_STREQ(buffer, kKey);
}

TEST_F(RegistryTest, KeyPathAndValueNameMayShareTheDestination) {
  Reg().SetString(kKey, "Driver", "fdc\\0001");
  Reg().SetString(kKey, kKey, "named after its own key");
  char buffer[kSize];
  std::strcpy(buffer, kKey);
  EXPECT_EQ(ReadRegistryString(machine, kLocalMachine, buffer, "Driver", buffer, kSize), 9u);
  EXPECT_STREQ(buffer, "fdc\\0001");
  std::strcpy(buffer, kKey);
  EXPECT_EQ(ReadRegistryString(machine, kLocalMachine, kKey, buffer, buffer, kSize), 24u);
  EXPECT_STREQ(buffer, "named after its own key");
}

TEST_F(RegistryTest, FailedQueryGivesNothingAndClosesTheKey) {
  Reg().SetString(kKey, "Driver", "fdc\\0000");
  machine.AddFault({sim::Op::kRegQueryValueEx, kKey, 1, kErrorAccessDenied});
  char buffer[kSize];
  EXPECT_EQ(ReadRegistryString(machine, kLocalMachine, kKey, "Driver", buffer, kSize), 0u);
  EXPECT_EQ(ReadRegistryString(machine, kLocalMachine, kKey, "Missing", buffer, kSize), 0u);
  EXPECT_EQ(ReadRegistryString(machine, kLocalMachine, kKey, "Driver", buffer, kSize), 9u);
}

}  // namespace
}  // namespace uninst::test
