// The simulated machine's system and user-interface calls, fault injection
// and handle counting.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "platform/sim/CodePage.h"
#include "res/Catalogue.h"
#include "res/Messages.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/SimFixture.h"

namespace uninst::sim {
namespace {

class SimCalls : public ::testing::Test {
 protected:
  SimMachine& Machine() { return m_world.machine; }

  testsupport::SimWorld m_world;
};

TEST_F(SimCalls, MessageBoxesAreRecordedAndAnsweredInTurn) {
  Machine().SetAnswers({kIdYes, kIdCancel});
  EXPECT_EQ(kIdYes, Machine().MessageBox("first", "Caption", kMbYesNo | kMbIconQuestion));
  EXPECT_EQ(kIdCancel, Machine().MessageBox("second", "Caption", kMbYesNoCancel));
  EXPECT_EQ(0, Machine().MessageBox("third", nullptr, kMbOk));
  EXPECT_EQ(1, Machine().UnansweredBoxes());
  ASSERT_EQ(3u, Machine().Boxes().size());
  EXPECT_EQ("first", Machine().Boxes()[0].text);
  EXPECT_EQ("Caption", Machine().Boxes()[0].caption);
  EXPECT_EQ(kMbYesNo | kMbIconQuestion, Machine().Boxes()[0].style);
  EXPECT_EQ(kIdCancel, Machine().Boxes()[1].answer);
  EXPECT_EQ("", Machine().Boxes()[2].caption);

  Machine().SetResponder(
      [](const MessageBoxRecord& box) { return box.text == "restart?" ? kIdNo : kIdOk; });
  EXPECT_EQ(kIdNo, Machine().MessageBox("restart?", "Caption", kMbYesNo));
  EXPECT_EQ(1, Machine().UnansweredBoxes());
  // An answer that is none of the box's buttons is never given.
  EXPECT_EQ(0, Machine().MessageBox("restart?", "Caption", kMbOk));
  EXPECT_EQ(2, Machine().UnansweredBoxes());
}

TEST_F(SimCalls, SystemInformationComesFromTheConfiguration) {
  Machine().Config().commandLine = "UNINST.EXE /V /E";
  EXPECT_STREQ("UNINST.EXE /V /E", Machine().GetCommandLine());
  EXPECT_EQ(437u, Machine().GetOEMCP());
  EXPECT_EQ(0u, Machine().SetErrorMode(kSemFailCriticalErrors));
  EXPECT_EQ(kSemFailCriticalErrors, Machine().SetErrorMode(0));
  EXPECT_EQ(0u, Machine().ErrorMode());
  EXPECT_TRUE(Machine().ExitWindowsEx(0, 0));
  EXPECT_FALSE(Machine().RestartRequested());
  EXPECT_TRUE(Machine().ExitWindowsEx(kEwxReboot, 0));
  EXPECT_TRUE(Machine().RestartRequested());
}

// A too small buffer is part of the platform contract suite.
TEST_F(SimCalls, WindowsDirectoryComesFromTheConfiguration) {
  char buffer[11];
  EXPECT_EQ(10u, Machine().GetWindowsDirectory(buffer, 11));
  EXPECT_STREQ("C:\\WINDOWS", buffer);
  Machine().Config().windowsDirectory.reset();
  EXPECT_EQ(0u, Machine().GetWindowsDirectory(buffer, sizeof(buffer)));
  Machine().Config().windowsDirectory = "";
  EXPECT_EQ(0u, Machine().GetWindowsDirectory(buffer, sizeof(buffer)));
}

TEST_F(SimCalls, LeadBytesAreThoseOfAnsiCodePage932Only) {
  struct Case {
    std::uint8_t byte;
    bool lead;
  };
  const Case cases[] = {{0x80, false}, {0x81, true}, {0x9F, true},  {0xA0, false}, {0xDF, false},
                        {0xE0, true},  {0xFC, true}, {0xFD, false}, {'A', false}};
  for (const Case& c : cases) {
    Machine().Config().ansiCodePage = 932;
    EXPECT_EQ(c.lead, Machine().IsDBCSLeadByte(c.byte)) << int{c.byte};
    Machine().Config().ansiCodePage = 1252;
    Machine().Config().oemCodePage = 932;
    EXPECT_FALSE(Machine().IsDBCSLeadByte(c.byte)) << int{c.byte};
  }
}

// A Japanese machine gives the texts in code page 932, byte for byte; a
// Western one has no character for the Japanese ones.
TEST_F(SimCalls, LoadStringGivesCatalogueTextsByID) {
  char buffer[512];
  Machine().Config().ansiCodePage = 932;
  for (std::size_t i = 0; i < CatalogueMessageCount(); ++i) {
    const CatalogueMessage& message = CatalogueMessages()[i];
    const std::string japanese = *sim::Utf8ToCodePage(932, message.japanese);
    EXPECT_EQ(static_cast<int>(japanese.size()),
              Machine().LoadString(message.number, buffer, sizeof(buffer)));
    EXPECT_EQ(japanese, buffer);
    EXPECT_EQ(static_cast<int>(std::strlen(message.english)),
              Machine().LoadString(kLanguageBaseEnglish + message.number, buffer, sizeof(buffer)));
    EXPECT_STREQ(message.english, buffer);
  }
  Machine().Config().ansiCodePage = 1252;
  Machine().LoadString(1, buffer, sizeof(buffer));
  EXPECT_EQ(std::string(buffer).substr(0, 9), "???????? ");
  for (const std::uint32_t id : {0u, 28u, 47u, 50u, 78u, 61440u}) {
    std::strcpy(buffer, "old");
    EXPECT_EQ(0, Machine().LoadString(id, buffer, sizeof(buffer))) << id;
    EXPECT_STREQ("", buffer);
  }
}

TEST_F(SimCalls, LoadStringCutsOnlyBetweenCharacters) {
  Machine().Config().ansiCodePage = 932;
  // Starts with double-byte characters.
  const std::string caption = *sim::Utf8ToCodePage(932, CatalogueText(1));
  struct Case {
    int size;
    int length;
  };
  for (const Case& c : {Case{1, 0}, Case{2, 0}, Case{3, 2}, Case{4, 2}, Case{5, 4}}) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(c.length, Machine().LoadString(1, buffer, c.size)) << c.size;
    EXPECT_EQ(caption.substr(0, static_cast<std::size_t>(c.length)), buffer);
    EXPECT_EQ('x', buffer[c.size]) << "wrote past the buffer";
  }
  char english[6];
  EXPECT_EQ(5, Machine().LoadString(51, english, sizeof(english)));
  EXPECT_STREQ("Corri", english);
  EXPECT_EQ(0, Machine().LoadString(51, english, 0));
}

TEST_F(SimCalls, FaultsMatchOperationAndPathIgnoringCase) {
  Machine().GetRegistry().CreateKey("Enum\\FLOP\\Device");
  Machine().AddFault({Op::kRegOpenKeyEx, "enum\\flop", 0, kErrorAccessDenied});
  RegHandle key = 0;
  EXPECT_EQ(kErrorAccessDenied, Machine().RegOpenKeyEx(kLocalMachine, "ENUM\\FLOP", 1, &key));
  EXPECT_EQ(kErrorAccessDenied, Machine().RegOpenKeyEx(kLocalMachine, "Enum\\FLOP\\", 1, &key));
  EXPECT_EQ(kErrorSuccess, Machine().RegOpenKeyEx(kLocalMachine, "Enum", 1, &key));
  RegHandle relative = 0;
  EXPECT_EQ(kErrorAccessDenied, Machine().RegOpenKeyEx(key, "flop", 1, &relative))
      << "a path relative to an open key is matched in full";
  EXPECT_EQ(kErrorSuccess, Machine().RegOpenKey(kLocalMachine, "Enum\\FLOP", &relative))
      << "another operation";
  Machine().RegCloseKey(key);
  Machine().RegCloseKey(relative);
}

TEST_F(SimCalls, HandleCallsMatchThePathTheHandleWasOpenedWith) {
  Machine().GetRegistry().CreateKey("Enum\\FLOP\\Device");
  Machine().WriteFile("C:\\WINDOWS\\floppy.sys", {1, 2, 3});
  Machine().AddFault({Op::kRegEnumKey, "Enum\\FLOP", 2, 1234});
  Machine().AddFault({Op::kGetFileSize, "c:\\windows\\FLOPPY.SYS", 0, 1235});
  RegHandle key = 0;
  ASSERT_EQ(kErrorSuccess, Machine().RegOpenKey(kLocalMachine, "enum\\flop", &key));
  char name[32];
  EXPECT_EQ(kErrorSuccess, Machine().RegEnumKey(key, 0, name, sizeof(name)));
  EXPECT_EQ(1234, Machine().RegEnumKey(key, 0, name, sizeof(name))) << "the second match fails";
  EXPECT_EQ(kErrorSuccess, Machine().RegEnumKey(key, 0, name, sizeof(name)));
  Machine().RegCloseKey(key);

  const FileHandle file = Machine().CreateFile("C:\\Windows\\Floppy.sys", kGenericRead, 0, true);
  ASSERT_NE(kInvalidFile, file);
  EXPECT_EQ(kInvalidFileSize, Machine().GetFileSize(file));
  EXPECT_EQ(1235, Machine().LastError());
  Machine().CloseHandle(file);
  EXPECT_EQ(0u, Machine().OpenHandleCount());
}

TEST_F(SimCalls, CallNumbersCountEveryPlatformCall) {
  EXPECT_EQ(0u, Machine().CallCount());
  Machine().FailCallNumber(3, 77);
  EXPECT_EQ(437u, Machine().GetOEMCP());
  EXPECT_EQ(0u, Machine().SetErrorMode(1));
  EXPECT_EQ(0u, Machine().GetOEMCP()) << "the third call fails";
  EXPECT_EQ(77, Machine().LastError());
  EXPECT_EQ(437u, Machine().GetOEMCP());
  EXPECT_EQ(4u, Machine().CallCount());
  Machine().WriteFile("C:\\x", {1});
  Machine().GetRegistry().CreateKey("K");
  EXPECT_EQ(4u, Machine().CallCount()) << "setting the machine up is no platform call";
}

// Each call's failure form, and that a failed call changes nothing.
struct Target {
  SimMachine& m;
  RegHandle key;
  FileHandle file;
};

struct FailureCase {
  const char* label;
  std::function<bool(const Target&)> failsWithoutEffect;
};

class FailureForms : public SimCalls, public ::testing::WithParamInterface<FailureCase> {
 protected:
  void SetUp() override {
    Machine().GetRegistry().SetString("Key\\Sub", "Value", "text");
    Machine().WriteFile("C:\\f.sys", testsupport::BuildPeImage({}));
    Machine().SetAttributesOf("C:\\f.sys", kFileAttributeHidden);
    ASSERT_EQ(kErrorSuccess, Machine().RegOpenKey(kLocalMachine, "Key", &m_key));
    m_file = Machine().CreateFile("C:\\f.sys", kGenericRead | kGenericWrite, 0, true);
    ASSERT_NE(kInvalidFile, m_file);
  }

  RegHandle m_key = 0;
  FileHandle m_file = kInvalidFile;
};

TEST_P(FailureForms, FailedCallReturnsItsFailureAndChangesNothing) {
  const std::size_t handles = Machine().OpenHandleCount();
  Machine().FailCallNumber(Machine().CallCount() + 1, kErrorAccessDenied);
  EXPECT_TRUE(GetParam().failsWithoutEffect(Target{Machine(), m_key, m_file}));
  EXPECT_EQ(handles, Machine().OpenHandleCount());
  EXPECT_TRUE(Machine().GetRegistry().GetValue("Key\\Sub", "Value"));
  EXPECT_TRUE(Machine().FileExists("C:\\f.sys"));
  EXPECT_EQ(kFileAttributeHidden, Machine().AttributesOf("C:\\f.sys"));
  EXPECT_TRUE(Machine().Boxes().empty());
  EXPECT_FALSE(Machine().RestartRequested());
  EXPECT_EQ(0u, Machine().ErrorMode());
  EXPECT_EQ(kErrorSuccess, Machine().RegCloseKey(m_key));
  EXPECT_TRUE(Machine().CloseHandle(m_file));
}

bool Denied(long result) { return result == kErrorAccessDenied; }

const FailureCase kFailureCases[] = {
    {"RegOpenKey",
     [](const Target& on) {
       RegHandle k = 1;
       return Denied(on.m.RegOpenKey(kLocalMachine, "Key", &k)) && k == 0;
     }},
    {"RegOpenKeyEx",
     [](const Target& on) {
       RegHandle k = 1;
       return Denied(on.m.RegOpenKeyEx(kLocalMachine, "Key", 1, &k)) && k == 0;
     }},
    {"RegEnumKey",
     [](const Target& on) {
       char name[8] = "old";
       return Denied(on.m.RegEnumKey(on.key, 0, name, 8)) && std::string(name) == "old";
     }},
    {"RegQueryInfoKey",
     [](const Target& on) {
       std::uint32_t count = 99;
       return Denied(on.m.RegQueryInfoKey(on.key, &count)) && count == 99;
     }},
    {"RegQueryValueEx",
     [](const Target& on) {
       std::uint32_t size = 0;
       return Denied(on.m.RegQueryValueEx(on.key, "x", nullptr, nullptr, &size)) && size == 0;
     }},
    {"RegDeleteKey",
     [](const Target& on) { return Denied(on.m.RegDeleteKey(kLocalMachine, "Key")); }},
    {"RegDeleteValue", [](const Target& on) { return Denied(on.m.RegDeleteValue(on.key, "")); }},
    {"RegCloseKey",
     [](const Target& on) {
       return Denied(on.m.RegCloseKey(on.key)) && on.m.OpenHandleCount() == 2;
     }},
    {"GetOEMCP", [](const Target& on) { return on.m.GetOEMCP() == 0; }},
    {"GetWindowsDirectory",
     [](const Target& on) {
       char buffer[64] = "old";
       return on.m.GetWindowsDirectory(buffer, 64) == 0 && std::string(buffer) == "old";
     }},
    {"SetErrorMode", [](const Target& on) { return on.m.SetErrorMode(5) == 0; }},
    {"IsDBCSLeadByteCannotFail",
     [](const Target& on) {
       on.m.Config().ansiCodePage = 932;
       return on.m.IsDBCSLeadByte(0x81);
     }},
    {"GetCommandLine", [](const Target& on) { return std::string(on.m.GetCommandLine()).empty(); }},
    {"MessageBox",
     [](const Target& on) {
       on.m.SetAnswers({kIdYes});
       return on.m.MessageBox("t", "c", 0) == 0 && on.m.UnansweredBoxes() == 0;
     }},
    {"ExitWindowsEx", [](const Target& on) { return !on.m.ExitWindowsEx(kEwxReboot, 0); }},
    {"LoadString",
     [](const Target& on) {
       char buffer[16] = "old";
       return on.m.LoadString(51, buffer, 16) == 0 && buffer[0] == '\0';
     }},
    {"CreateFile",
     [](const Target& on) {
       return on.m.CreateFile("C:\\WINDOWS", kGenericRead, 1, false) == kInvalidFile;
     }},
    {"CloseHandle",
     [](const Target& on) { return !on.m.CloseHandle(on.file) && on.m.OpenHandleCount() == 2; }},
    {"GetFileTime",
     [](const Target& on) {
       FileTime time{7};
       return !on.m.GetFileTime(on.file, &time, &time, &time) && time.ticks == 7;
     }},
    {"GetFileSize", [](const Target& on) { return on.m.GetFileSize(on.file) == kInvalidFileSize; }},
    {"SetFileTime",
     [](const Target& on) {
       const FileTime epoch{FileTimeFromUnix(0)};
       const bool failed = !on.m.SetFileTime(on.file, &epoch, &epoch, &epoch);
       FindData after;
       on.m.FindFile("C:\\f.sys", &after);
       const std::uint64_t written = FileTimeFromUnix(920419200);  // WriteFile's default
       return failed && after.lastWriteTime.ticks == written && after.creationTime.ticks == written;
     }},
    {"FindFile",
     [](const Target& on) {
       FindData data;
       return !on.m.FindFile("C:\\f.sys", &data) && data.size == 0;
     }},
    {"GetFileAttributes",
     [](const Target& on) {
       return on.m.GetFileAttributes("C:\\f.sys") == kInvalidFileAttributes;
     }},
    {"SetFileAttributes", [](const Target& on) { return !on.m.SetFileAttributes("C:\\f.sys", 0); }},
    {"DeleteFile", [](const Target& on) { return !on.m.DeleteFile("C:\\f.sys"); }},
    {"FileTimeToLocalFileTime",
     [](const Target& on) {
       FileTime time{5};
       return !on.m.FileTimeToLocalFileTime(FileTime{1}, &time) && time.ticks == 5;
     }},
    {"LocalFileTimeToFileTime",
     [](const Target& on) {
       FileTime time{5};
       return !on.m.LocalFileTimeToFileTime(FileTime{1}, &time) && time.ticks == 5;
     }},
    {"FileTimeToSystemTime",
     [](const Target& on) {
       SystemTime fields;
       return !on.m.FileTimeToSystemTime(FileTime{1}, &fields) && fields.year == 0;
     }},
    {"SystemTimeToFileTime",
     [](const Target& on) {
       FileTime time{5};
       return !on.m.SystemTimeToFileTime(SystemTime{1999, 1, 0, 1, 0, 0, 0, 0}, &time) &&
              time.ticks == 5;
     }},
    {"GetFileVersionInfoSize",
     [](const Target& on) { return on.m.GetFileVersionInfoSize("C:\\f.sys") == 0; }},
    {"GetFileVersionInfo",
     [](const Target& on) {
       std::uint8_t block[512] = {};
       return !on.m.GetFileVersionInfo("C:\\f.sys", sizeof(block), block) && block[0] == 0;
     }},
    {"QueryFixedFileInfo",
     [](const Target& on) {
       const std::vector<std::uint8_t> block = testsupport::BuildVersionInfoBlock({}, {});
       FixedFileInfo info;
       return !on.m.QueryFixedFileInfo(block.data(), &info) && info.signature == 0;
     }},
};

INSTANTIATE_TEST_SUITE_P(Calls, FailureForms, ::testing::ValuesIn(kFailureCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) {
                           return info.param.label;
                         });

TEST_F(SimCalls, VersionCallsWorkWithoutFaults) {
  Machine().WriteFile("C:\\v.sys", testsupport::BuildPeImage({}));
  const std::uint32_t size = Machine().GetFileVersionInfoSize("C:\\v.sys");
  ASSERT_GT(size, 0u);
  std::vector<std::uint8_t> block(size);
  ASSERT_TRUE(Machine().GetFileVersionInfo("C:\\v.sys", size, block.data()));
  FixedFileInfo info;
  EXPECT_TRUE(Machine().QueryFixedFileInfo(block.data(), &info));
  EXPECT_EQ(0x00010000u, info.fileVersionMS);
}

TEST_F(SimCalls, LocalTimeIsUtcMinusTheBias) {
  Machine().Config().timeZoneBiasMinutes = -540;  // UTC+9
  const FileTime utc{FileTimeFromUnix(920419200)};
  FileTime local;
  ASSERT_TRUE(Machine().FileTimeToLocalFileTime(utc, &local));
  EXPECT_EQ(FileTimeFromUnix(920419200 + 9 * 3600), local.ticks);
  FileTime back;
  ASSERT_TRUE(Machine().LocalFileTimeToFileTime(local, &back));
  EXPECT_EQ(utc.ticks, back.ticks);
  EXPECT_FALSE(Machine().LocalFileTimeToFileTime(FileTime{0}, &back)) << "before 1601";
  Machine().Config().timeZoneBiasMinutes = 60;
  EXPECT_FALSE(Machine().FileTimeToLocalFileTime(FileTime{0}, &local));
  EXPECT_FALSE(Machine().FileTimeToLocalFileTime(FileTime{0x8000000000000000ULL}, &local));
}

TEST_F(SimCalls, CalendarConversionRoundTripsEveryMillisecondInRange) {
  std::mt19937_64 random(20240229);
  std::uniform_int_distribution<std::uint64_t> ticks(0, 0x7FFFFFFFFFFFFFFFULL);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t time = ticks(random) / 10000 * 10000;
    SystemTime fields;
    ASSERT_TRUE(Machine().FileTimeToSystemTime(FileTime{time}, &fields)) << time;
    FileTime back;
    ASSERT_TRUE(Machine().SystemTimeToFileTime(fields, &back)) << time;
    ASSERT_EQ(time, back.ticks);
  }
  SystemTime fields;
  EXPECT_FALSE(Machine().FileTimeToSystemTime(FileTime{0x8000000000000000ULL}, &fields));
  const SystemTime last{30827, 12, 0, 31, 23, 59, 59, 999};
  FileTime time;
  EXPECT_TRUE(Machine().SystemTimeToFileTime(last, &time));
  EXPECT_FALSE(Machine().SystemTimeToFileTime(SystemTime{30828, 1, 0, 1, 0, 0, 0, 0}, &time));
}

TEST_F(SimCalls, LeapDaysFollowTheGregorianRules) {
  struct Case {
    std::uint16_t year;
    bool leap;
  };
  for (const Case& c : {Case{1999, false}, Case{1900, false}, Case{2100, false}, Case{1996, true},
                        Case{2000, true}, Case{2400, true}}) {
    FileTime time;
    EXPECT_EQ(c.leap,
              Machine().SystemTimeToFileTime(SystemTime{c.year, 2, 0, 29, 0, 0, 0, 0}, &time))
        << c.year;
    SystemTime next;
    if (c.leap) {
      ASSERT_TRUE(Machine().FileTimeToSystemTime(time, &next));
      EXPECT_EQ(29, next.day);
    }
  }
}

TEST_F(SimCalls, OpenHandlesAreCountedUntilClosed) {
  Machine().GetRegistry().CreateKey("A");
  Machine().WriteFile("C:\\a", {1});
  RegHandle first = 0;
  RegHandle second = 0;
  ASSERT_EQ(kErrorSuccess, Machine().RegOpenKey(kLocalMachine, "A", &first));
  ASSERT_EQ(kErrorSuccess, Machine().RegOpenKeyEx(kLocalMachine, "a", 1, &second));
  const FileHandle file = Machine().CreateFile("C:\\a", kGenericRead, kFileShareRead, false);
  EXPECT_NE(first, second);
  EXPECT_EQ(3u, Machine().OpenHandleCount());
  Machine().RegCloseKey(first);
  Machine().CloseHandle(file);
  EXPECT_EQ(1u, Machine().OpenHandleCount());
  Machine().RegCloseKey(second);
  EXPECT_EQ(0u, Machine().OpenHandleCount());
  EXPECT_STREQ("RegEnumKey", OpName(Op::kRegEnumKey));
  EXPECT_STREQ("GetCommandLine", OpName(Op::kGetCommandLine));
}

}  // namespace
}  // namespace uninst::sim
