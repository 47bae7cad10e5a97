// The machine folder: machine.ini, drives, and replacing registry.reg.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/tools/ToolTestFolders.h"
#include "tools/uninst-sim/machine/AtomicFile.h"
#include "tools/uninst-sim/machine/MachineFolder.h"
#include "tools/uninst-sim/regfile/TextCodec.h"

namespace uninst::tool {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;
using testing::WriteText;

TEST(MachineSettings, ReadsEverySetting) {
  Outcome<MachineSettings> settings = ReadMachineSettings(
      "\xEF\xBB\xBF; comment\r\n"
      "# comment\n"
      "[Machine]\n"
      "Windows = Me\n"
      "OEM_Code_Page = 932\r\n"
      "Time_Zone = CET-1CEST,M3.5.0,M10.5.0/3\n"
      "windows_directory = D:\\WIN98\\\n"
      "[files]\n"
      "C:\\A=B.SYS = readonly, HIDDEN system 2000-02-29T23:59:58Z\n"
      "C:\\X.VXD = 1999-03-03T12:00:00Z\n");
  ASSERT_TRUE(settings.Ok()) << settings.Error();
  EXPECT_EQ(settings.Value().family, sim::WindowsFamily::k9x);
  EXPECT_EQ(settings.Value().oemCodePage, 932u);
  EXPECT_EQ(AnsiCodePageOf(settings.Value()), 932u);  // goes with the OEM code page
  EXPECT_EQ(settings.Value().timeZoneBiasMinutes, -60);
  ASSERT_TRUE(settings.Value().daylight);
  EXPECT_EQ(settings.Value().daylight->biasMinutes, -60);
  EXPECT_EQ(settings.Value().daylight->end.minutes, 180);
  EXPECT_EQ(settings.Value().windowsDirectory, std::optional<std::string>("D:\\WIN98\\"));
  ASSERT_EQ(settings.Value().files.size(), 2u);
  EXPECT_EQ(settings.Value().files[0].windowsPath, "C:\\A=B.SYS");
  EXPECT_EQ(settings.Value().files[0].attributes, std::optional<std::uint32_t>(7));
  EXPECT_EQ(settings.Value().files[0].lastWriteUnixSeconds, std::optional<std::int64_t>(951868798));
  EXPECT_EQ(settings.Value().files[1].attributes, std::nullopt);
  EXPECT_EQ(settings.Value().files[1].lastWriteUnixSeconds, std::optional<std::int64_t>(920462400));
  EXPECT_TRUE(settings.Value().warnings.empty());
}

TEST(MachineSettings, TakesTheEditionsPeopleName) {
  const std::pair<const char*, sim::WindowsFamily> editions[] = {
      {"95", sim::WindowsFamily::k9x},  {"98", sim::WindowsFamily::k9x},
      {"ME", sim::WindowsFamily::k9x},  {"nt", sim::WindowsFamily::kNt},
      {"NT4", sim::WindowsFamily::kNt}, {"2000", sim::WindowsFamily::kNt},
      {"xp", sim::WindowsFamily::kNt}};
  for (const auto& [edition, family] : editions) {
    Outcome<MachineSettings> settings =
        ReadMachineSettings(std::string("[MACHINE]\nWINDOWS = ") + edition + "\n");
    ASSERT_TRUE(settings.Ok()) << settings.Error();
    EXPECT_EQ(settings.Value().family, family) << edition;
  }
}

// Read with a warning, in either byte order.
TEST(MachineSettings, ReadsUtf16ByItsByteOrderMark) {
  const std::string text = "[machine]\nwindows = 95\n";
  std::string little = "\xFF\xFE";
  std::string big = "\xFE\xFF";
  for (const char c : text) {
    little += {c, '\0'};
    big += {'\0', c};
  }
  for (const std::string& bytes : {little, big}) {
    Outcome<MachineSettings> settings = ReadMachineSettings(bytes);
    ASSERT_TRUE(settings.Ok()) << settings.Error();
    EXPECT_EQ(settings.Value().family, sim::WindowsFamily::k9x);
    ASSERT_EQ(settings.Value().warnings.size(), 1u);
  }
  EXPECT_FALSE(ReadMachineSettings(little + "x").Ok());
}

TEST(MachineSettings, EmptyWindowsDirectoryMeansNone) {
  Outcome<MachineSettings> settings = ReadMachineSettings(
      "[machine]\nwindows_directory =\nwindows = NT\nansi_code_page = 1252\noem_code_page = 932\n");
  ASSERT_TRUE(settings.Ok());
  EXPECT_EQ(settings.Value().windowsDirectory, std::nullopt);
  EXPECT_EQ(settings.Value().family, sim::WindowsFamily::kNt);
  EXPECT_EQ(AnsiCodePageOf(settings.Value()), 1252u);
  EXPECT_EQ(AnsiCodePageOf(MachineSettings()), 1252u);
}

struct BadSettings {
  std::string text;
  const char* error;
};

class MachineSettingsErrors : public ::testing::TestWithParam<BadSettings> {};

TEST_P(MachineSettingsErrors, NameTheLine) {
  Outcome<MachineSettings> settings = ReadMachineSettings(GetParam().text);
  ASSERT_FALSE(settings.Ok());
  EXPECT_EQ(settings.Error().substr(0, std::string(GetParam().error).size()), GetParam().error)
      << settings.Error();
}

INSTANTIATE_TEST_SUITE_P(
    MachineFolder, MachineSettingsErrors,
    ::testing::Values(
        BadSettings{"oem_code_page = 932\n", "line 1: a setting must follow"},
        BadSettings{"[machine]\n\n[other]\n", "line 3: unknown section"},
        BadSettings{"[machine]\noem_code_page = 0\n", "line 2: oem_code_page"},
        BadSettings{"[machine]\noem_code_page = 93x\n", "line 2: oem_code_page"},
        BadSettings{"[machine]\nansi_code_page = 1200\n",
                    "line 2: ansi_code_page 1200 is not a code page this system can convert"},
        BadSettings{"[machine]\noem_code_page = 4\n", "line 2: oem_code_page 4 is not"},
        BadSettings{"[machine]\nwindows = 3.1\n", "line 2: windows must name an edition"},
        BadSettings{"[machine]\ntime_zone_bias_minutes = 1441\n", "line 2: time_zone"},
        BadSettings{"[machine]\ntime_zone = Mars/Olympus\n",
                    "line 2: time_zone \"Mars/Olympus\" is no zone of this system"},
        BadSettings{"[machine]\ntime_zone = ../../etc/passwd\n",
                    "line 2: time_zone \"../../etc/passwd\" is neither a POSIX rule"},
        BadSettings{"[machine]\ntime_zone = CET-1CEST\n",
                    "line 2: time_zone \"CET-1CEST\" gives no dates of the change"},
        BadSettings{"[machine]\ntime_zone = CET-1CEST,J60,J300\n", "line 2: time_zone"},
        BadSettings{"[machine]\ncolour = blue\n", "line 2: unknown setting"},
        BadSettings{std::string("[\0m\0]\0", 6), "holds NUL bytes"},
        BadSettings{"[machine]\njust words\n", "line 2: expected name = value"},
        BadSettings{"[files]\nX.SYS = readonly\n", "line 2: \"X.SYS\" is not a full path"},
        BadSettings{"[files]\nC:\\X.SYS =\n", "line 2: give attributes"},
        BadSettings{"[files]\nC:\\X.SYS = archive\n", "line 2: \"archive\" is neither"},
        BadSettings{"[files]\nC:\\X.SYS = 1999-02-29T00:00:00Z\n", "line 2: \"1999-02-29"},
        BadSettings{"[files]\nC:\\X.SYS = 1999-03-03T24:00:00Z\n", "line 2:"},
        BadSettings{"[files]\nC:\\X.SYS = 1999-03-03 12:00:00\n", "line 2:"}));

TEST(MachineFolder, FindsDrivesAndRefusesTwoFoldersForOneLetter) {
  ScratchFolder folder;
  WriteText(folder.Path() / "registry.reg", "REGEDIT4\r\n");
  fs::create_directories(folder.Path() / "drive_d");
  fs::create_directories(folder.Path() / "drive_c");
  fs::create_directories(folder.Path() / "drive_cd");
  WriteText(folder.Path() / "drive_e", "a file, not a drive");
  Outcome<MachineFolder> machine = ReadMachineFolder(folder.Path().string());
  ASSERT_TRUE(machine.Ok()) << machine.Error();
  ASSERT_EQ(machine.Value().drives.size(), 2u);
  EXPECT_EQ(machine.Value().drives[0].letter, 'C');
  EXPECT_EQ(machine.Value().drives[1].letter, 'D');

  fs::create_directories(folder.Path() / "DRIVE_C");
  machine = ReadMachineFolder(folder.Path().string());
  ASSERT_FALSE(machine.Ok());
  EXPECT_NE(machine.Error().find("two folders for drive C"), std::string::npos);
}

TEST(MachineFolder, SetsUpTheMachineFromTheDemoFolder) {
  ScratchFolder folder;
  testing::CopyDemoMachine(folder.Path());
  Outcome<MachineFolder> machine = ReadMachineFolder(folder.Path().string());
  ASSERT_TRUE(machine.Ok()) << machine.Error();
  sim::SimMachine simulated;
  SetUpMachine(machine.Value(), simulated);
  EXPECT_TRUE(simulated.GetRegistry().KeyExists("Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK_1.00"));
  EXPECT_EQ(
      simulated.AttributesOf("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\KMNFD.VXD") & kFileAttributeReadOnly,
      kFileAttributeReadOnly);
  EXPECT_EQ(simulated.AttributesOf("C:\\WINDOWS\\INF\\CATALOG\\KMNUFD2.CAT") & kFileAttributeHidden,
            kFileAttributeHidden);
  FindData data;
  ASSERT_TRUE(simulated.FindFile("C:\\WINDOWS\\SYSTEM\\USBFDD.SYS", &data));
  EXPECT_EQ(data.lastWriteTime.ticks, sim::FileTimeFromUnix(920462400));
  // Four drivers carry a version resource; the VxD stub has none.
  for (const char* path :
       {"C:\\WINDOWS\\SYSTEM\\USBFDD.SYS", "C:\\WINDOWS\\SYSTEM32\\DRIVERS\\USBFDD.SYS",
        "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\USBFDVXD.PDR",
        "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\USBFDVSD.VXD"}) {
    EXPECT_GT(simulated.GetFileVersionInfoSize(path), 0u) << path;
  }
  EXPECT_EQ(simulated.GetFileVersionInfoSize("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\KMNFD.VXD"), 0u);
}

// Fails the write after half the bytes, as a full disk would.
FileCalls FailingHalfway() {
  FileCalls calls = SystemFileCalls();
  calls.write = [](int fd, const void* data, std::size_t size) -> ssize_t {
    if (size > 4) return ::write(fd, data, size / 2);
    errno = ENOSPC;
    return -1;
  };
  return calls;
}

struct AtomicFailure {
  const char* name;
  FileCalls (*calls)();
  const char* error;
  // The file changes after it was read: the new text is kept beside it.
  bool changedSinceRead = false;
};

class AtomicWriteFailures : public ::testing::TestWithParam<AtomicFailure> {};

TEST_P(AtomicWriteFailures, LeaveTheOldFileAndNoTemporary) {
  ScratchFolder folder;
  const fs::path target = folder.Path() / "registry.reg";
  WriteText(target, "old content");
  struct stat read {};
  ASSERT_EQ(::stat(target.c_str(), &read), 0);
  if (GetParam().changedSinceRead) WriteText(target, "someone's content");
  const std::string kept = testing::ReadText(target);
  const sim::UniqueFd fd(::open(folder.Path().c_str(), O_RDONLY | O_DIRECTORY));
  const std::string text(1000, 'n');
  const std::string error = ReplaceReadFile(fd.Get(), "registry.reg", {text}, IdentityOf(read),
                                            0644, -1, "", GetParam().calls());
  EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
  EXPECT_EQ(testing::ReadText(target), kept);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()),
            GetParam().changedSinceRead ? 2 : 1);
  if (GetParam().changedSinceRead) {
    EXPECT_EQ(testing::ReadText(folder.Path() / "registry.reg.uninst-sim-unsaved"),
              std::string(1000, 'n'));
  }
}

INSTANTIATE_TEST_SUITE_P(
    MachineFolder, AtomicWriteFailures,
    ::testing::Values(AtomicFailure{"write", FailingHalfway, "cannot write"},
                      AtomicFailure{"fsync",
                                    [] {
                                      FileCalls calls = SystemFileCalls();
                                      calls.fsync = [](int) {
                                        errno = EIO;
                                        return -1;
                                      };
                                      return calls;
                                    },
                                    "cannot flush"},
                      AtomicFailure{"rename",
                                    [] {
                                      FileCalls calls = SystemFileCalls();
                                      calls.rename = [](int, const char*, const char*, unsigned) {
                                        errno = EXDEV;
                                        return -1;
                                      };
                                      return calls;
                                    },
                                    "cannot replace"},
                      AtomicFailure{"changedSinceRead", SystemFileCalls,
                                    "was changed by someone else", true}),
    [](const ::testing::TestParamInfo<AtomicFailure>& info) { return info.param.name; });

TEST(MachineFolder, AtomicWriteReplacesContentAndKeepsTheMode) {
  ScratchFolder folder;
  const fs::path target = folder.Path() / "report.json";
  WriteText(target, "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const sim::UniqueFd fd(::open(folder.Path().c_str(), O_RDONLY | O_DIRECTORY));
  EXPECT_EQ(WriteFileAtomically(fd.Get(), "report.json", "report.json", "new", 0640), "");
  EXPECT_EQ(testing::ReadText(target), "new");
  EXPECT_EQ(fs::status(target).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace uninst::tool
