#include <gtest/gtest.h>

#include <string>

#include "app/Startup.h"
#include "app/Switches.h"
#include "platform/sim/SimMachine.h"

namespace uninst {
namespace {

struct StripCase {
  const char* commandLine;
  std::uint32_t codePage;
  const char* expected;
};

class StripProgramNameTest : public ::testing::TestWithParam<StripCase> {};

TEST_P(StripProgramNameTest, LeavesTheTextAfterTheProgramName) {
  sim::SimMachine machine;
  machine.Config().ansiCodePage = GetParam().codePage;
  EXPECT_STREQ(StripProgramName(GetParam().commandLine, machine), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, StripProgramNameTest,
    ::testing::Values(
        StripCase{"\"C:\\My Tools\\UNINST.EXE\"  /E /V", 437, "/E /V"},
        StripCase{"UNINST.EXE\t \t/E", 437, "/E"}, StripCase{"UNINST.EXE \t ", 437, ""},
        StripCase{"UNINST.EXE", 437, ""},
        // Glued to an unquoted name, a switch is part of the name.
        StripCase{"UNINST.EXE/E /V", 437, "/V"}, StripCase{"UNINST.EXE/E", 437, ""},
        // After a quoted name it is read.
        StripCase{"\"UNINST.EXE\"/E", 437, "/E"},
        // No closing quote: everything is the program name.
        StripCase{"\"C:\\UNINST.EXE /E", 437, ""},
        // A double-byte character whose second byte is a quote does not close the name.
        StripCase{"\"X\x81\" /E\" /V", 932, "/V"}, StripCase{"\"X\x81\" /E\" /V", 437, "/E\" /V"},
        StripCase{"", 437, ""}));

struct SwitchCase {
  const char* commandLine;
  bool languageGiven;
  bool japanese;
  bool directoryGiven;
  const char* directory;
  bool confirm;
};

class ReadSwitchesTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(ReadSwitchesTest, ReadsTheSwitches) {
  const SwitchCase& c = GetParam();
  std::string text = c.commandLine;
  sim::SimMachine machine;
  const Switches switches = ReadSwitches(text.data(), machine);
  EXPECT_EQ(switches.languageGiven, c.languageGiven);
  if (c.languageGiven) {
    EXPECT_EQ(switches.japanese, c.japanese);
  }
  EXPECT_EQ(switches.directoryGiven, c.directoryGiven);
  if (c.directoryGiven) {
    EXPECT_STREQ(switches.directory, c.directory);
  }
  EXPECT_EQ(switches.confirm, c.confirm);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ReadSwitchesTest,
    ::testing::Values(SwitchCase{"", false, false, false, "", false},
                      SwitchCase{"/e", true, false, false, "", false},
                      SwitchCase{"-E", true, false, false, "", false},
                      SwitchCase{"/English", true, false, false, "", false},
                      SwitchCase{"-ENGLISH", true, false, false, "", false},
                      SwitchCase{"/E /J", true, true, false, "", false},
                      SwitchCase{"/J -E", true, false, false, "", false},
                      SwitchCase{"/v", false, false, false, "", true},
                      SwitchCase{"/VERBOSE /X / //V V", false, false, false, "", true},
                      SwitchCase{"/X / //V V \"/V\"", false, false, false, "", false},
                      // A tab does not split: one token that chooses English.
                      SwitchCase{"/E\t/V", true, false, false, "", false},
                      SwitchCase{"  /V   /E  ", true, false, false, "", true},
                      SwitchCase{"/D", false, false, true, "", false},
                      SwitchCase{"/D C:\\WIN", false, false, true, "", false},
                      SwitchCase{"/Dc:\\win", false, false, true, "C:\\WIN", false},
                      SwitchCase{"/DC:\\MY DIR", false, false, true, "C:\\MY", false},
                      SwitchCase{"/DC:\\A /DD:\\B", false, false, true, "D:\\B", false},
                      SwitchCase{"-dc:\\win98\\", false, false, true, "C:\\WIN98\\", false}));

TEST(ReadSwitchesTest, UpperCasesTheWholeTextInPlace) {
  std::string text = "/dc:\\windows\xe4 -v";
  sim::SimMachine machine;
  ReadSwitches(text.data(), machine);
  EXPECT_EQ(std::string(text.c_str()), "/DC:\\WINDOWS\xe4");
  EXPECT_EQ(text.substr(text.find('\0') + 1), "-V");
}

}  // namespace
}  // namespace uninst
