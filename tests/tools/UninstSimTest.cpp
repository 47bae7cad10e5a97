// uninst-sim from its command line: options, refusals that leave the machine
// alone, the demo run with its summary and report, and --dry-run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <random>
#include <sstream>

#include "res/Catalogue.h"
#include "res/Messages.h"
#include "tests/tools/ToolTestFolders.h"
#include "tools/uninst-sim/run/Options.h"
#include "tools/uninst-sim/run/Report.h"
#include "tools/uninst-sim/run/Tool.h"

namespace uninst::tool {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

struct OptionsCase {
  std::vector<std::string> args;
  const char* error;  // "" when the arguments are good
};

class ToolOptions : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ToolOptions, AreCheckedBeforeAnythingRuns) {
  Outcome<Options> options = ParseOptions(GetParam().args);
  if (std::string(GetParam().error).empty()) {
    EXPECT_TRUE(options.Ok()) << options.Error();
  } else {
    ASSERT_FALSE(options.Ok());
    EXPECT_EQ(options.Error(), GetParam().error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    UninstSim, ToolOptions,
    ::testing::Values(
        OptionsCase{{"--machine", "m"}, ""},
        OptionsCase{{"--machine=m", "--answers=yes,N,cancel,OK,o", "--report", "r.json",
                     "--dry-run", "--", "/E", "--machine"},
                    ""},
        OptionsCase{{"--help"}, ""}, OptionsCase{{"--version"}, ""},
        OptionsCase{{}, "--machine DIR is required"},
        OptionsCase{{"--machine"}, "--machine needs a value"},
        OptionsCase{{"--machine", "a", "--machine", "b"}, "--machine given twice"},
        OptionsCase{{"--machine="}, "--machine needs a folder"},
        OptionsCase{{"--machine", "m", "--verbose"}, "unknown option --verbose"},
        OptionsCase{{"--machine", "m", "-x"}, "unknown option -x"},
        OptionsCase{{"--machine", "m", "/E"},
                    "unexpected argument \"/E\" (the program's switches go after --)"},
        OptionsCase{{"--machine", "m", "--answers", "yes,maybe"},
                    "unknown answer \"maybe\" in --answers (use yes, no, cancel, ok)"},
        OptionsCase{{"--machine", "m", "--answers", "yes,,no"},
                    "unknown answer \"\" in --answers (use yes, no, cancel, ok)"},
        OptionsCase{{"--machine", "m", "--dry-run=yes"}, "--dry-run takes no value"},
        OptionsCase{{"--machine", "m", "--report", "a", "--report", "b"},
                    "--report given twice (--json is --report -)"},
        OptionsCase{{"--machine", "m", "--json", "--report", "b"},
                    "--report given twice (--json is --report -)"},
        OptionsCase{{"--machine", "m", "--json=yes"}, "--json takes no value"},
        OptionsCase{{"--machine", "m", "--explain=keys"}, "--explain takes no value but =all"},
        OptionsCase{{"--machine", "m", "--undo", "--strict"},
                    "--undo takes only --machine and --quiet"}));

TEST(UninstSim, ReadsTheShortFormsAndBlanksInAnswers) {
  Outcome<Options> options = ParseOptions({"-n", "-q", "--strict", "--json", "--explain=all",
                                           "--machine", "m", "--answers", " y , No"});
  ASSERT_TRUE(options.Ok()) << options.Error();
  const Options& o = options.Value();
  EXPECT_TRUE(o.dryRun && o.quiet && o.strict);
  EXPECT_EQ(o.reportPath, "-");
  EXPECT_EQ(o.explain, ExplainLevel::kAll);
  EXPECT_EQ(o.answers, (std::vector<int>{kIdYes, kIdNo}));
  EXPECT_EQ(ParseOptions({"--machine", "m", "--explain"}).Value().explain, ExplainLevel::kRemoved);
}

TEST(UninstSim, BuildsTheProcessCommandLine) {
  Outcome<Options> options = ParseOptions({"--machine", "m", "--", "/E", "/DC:\\WIN 98"});
  ASSERT_TRUE(options.Ok());
  EXPECT_EQ(ProgramCommandLine(options.Value()), "UNINST.EXE /E /DC:\\WIN 98");
  EXPECT_EQ(options.Value().answers, std::nullopt);
}

using testing::RunWith;
using testing::ToolRun;

struct RefusedCase {
  const char* name;
  void (*spoil)(const fs::path& machine);
  std::vector<std::string> extraArgs;
  const char* error;
};

class RefusedRuns : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedRuns, ExitWithTwoAndLeaveTheMachineAlone) {
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  testing::CopyDemoMachine(machine);
  GetParam().spoil(machine);
  const auto before = testing::TreePicture(scratch.Path());
  std::vector<std::string> args = {"--machine", machine.string()};
  // "MACHINE" in an argument stands for the machine folder.
  for (std::string arg : GetParam().extraArgs) {
    if (arg.rfind("MACHINE", 0) == 0) arg.replace(0, 7, machine.string());
    args.push_back(arg);
  }
  const ToolRun run = RunWith(args);
  EXPECT_EQ(run.status, kExitUsage);
  EXPECT_NE(run.err.find(GetParam().error), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(testing::TreePicture(scratch.Path()), before);
}

void LeaveAlone(const fs::path&) {}

INSTANTIATE_TEST_SUITE_P(
    UninstSim, RefusedRuns,
    ::testing::Values(
        RefusedCase{"NoAnswersWithoutTerminal", LeaveAlone, {"--", "/E"}, "need --answers"},
        RefusedCase{
            "UnknownOption", LeaveAlone, {"--answers", "yes", "--fast"}, "unknown option --fast"},
        RefusedCase{"MissingFolder",
                    [](const fs::path& machine) { fs::remove_all(machine); },
                    {"--answers", "yes"},
                    "does not exist"},
        RefusedCase{"MissingRegistry",
                    [](const fs::path& machine) { fs::remove(machine / "registry.reg"); },
                    {"--answers", "yes"},
                    "registry.reg is missing"},
        RefusedCase{"MalformedRegistry",
                    [](const fs::path& machine) {
                      testing::WriteText(machine / "registry.reg",
                                         "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n"
                                         "\"v\"=hex:01,0x\r\n");
                    },
                    {"--answers", "yes"},
                    "registry.reg: line 4: expected ','"},
        RefusedCase{"KeyNameTooLongForNt",
                    [](const fs::path& machine) {
                      testing::WriteText(machine / "machine.ini", "[machine]\nwindows = nt\n");
                      testing::WriteText(machine / "registry.reg",
                                         "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\" +
                                             std::string(256, 'k') + "]\r\n");
                    },
                    {"--answers", "yes"},
                    "registry.reg: line 3: a key name is longer than 255 characters"},
        RefusedCase{"RootFileOfAnotherRoot",
                    [](const fs::path& machine) {
                      testing::WriteText(machine / "HKCU.reg",
                                         "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum]\r\n");
                    },
                    {"--answers", "yes"},
                    "HKCU.reg holds keys of HKEY_LOCAL_MACHINE, but a file of this name holds "
                    "HKEY_CURRENT_USER alone"},
        RefusedCase{"MachineRootInTwoFiles",
                    [](const fs::path& machine) {
                      testing::WriteText(machine / "hklm.reg",
                                         "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum]\r\n");
                    },
                    {"--answers", "yes"},
                    "/registry.reg and "},
        RefusedCase{"MalformedSettings",
                    [](const fs::path& machine) {
                      testing::WriteText(machine / "machine.ini", "[machine]\noem = 1\n");
                    },
                    {"--answers", "yes"},
                    "machine.ini: line 2: unknown setting"},
        RefusedCase{"UnwritableValue",
                    [](const fs::path& machine) {
                      testing::WriteText(machine / "registry.reg",
                                         "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n"
                                         "\"a\rb\"=\"x\"\r\n");
                    },
                    {"--answers", "yes"},
                    "cannot be written back"},
        RefusedCase{"ReportFolderMissing",
                    LeaveAlone,
                    {"--answers", "yes", "--report", "/nonexistent-folder/r.json"},
                    "does not exist"},
        RefusedCase{"ReportInsideMachine",
                    LeaveAlone,
                    {"--dry-run", "--answers", "yes", "--report", "MACHINE/registry.reg"},
                    "registry.reg is inside the machine folder"},
        RefusedCase{"ReportIsFolder",
                    LeaveAlone,
                    {"--answers", "yes", "--report", "MACHINE/drive_c"},
                    "drive_c is a folder"},
        RefusedCase{"MachineIsFile",
                    [](const fs::path& machine) {
                      fs::remove_all(machine);
                      testing::WriteText(machine, "a file");
                    },
                    {"--answers", "yes"},
                    "machine is a file, not a folder"},
        // Each warning: --strict refuses the machine that causes it.
        RefusedCase{"WindowsDirectoryMissing",
                    [](const fs::path& machine) {
                      fs::rename(machine / "drive_c/WINDOWS", machine / "drive_c/WIN98");
                    },
                    {"--strict", "-q", "--answers", "yes,no"},
                    "uninst-sim: warning: the windows directory C:\\WINDOWS does not exist in "
                    "drive_c\n"},
        RefusedCase{"SwitchDirectoryMissing",
                    LeaveAlone,
                    {"--strict", "-q", "--answers", "yes,no", "--", "/DC:\\WIN98"},
                    "the windows directory C:\\WIN98 (given by /D) does not exist in drive_c"},
        RefusedCase{
            "NoDriveC",
            [](const fs::path& machine) { fs::rename(machine / "drive_c", machine / "drive_d"); },
            {"--strict", "-q", "--answers", "yes,no"},
            "the windows directory C:\\WINDOWS is on drive C:, which has no folder "
            "drive_c"},
        RefusedCase{
            "FilesEntryMatchesNothing",
            [](const fs::path& machine) { fs::remove(machine / "drive_c/WINDOWS/INF/OEM4.INF"); },
            {"--strict", "-q", "--answers", "yes,no"},
            "uninst-sim: warning: machine.ini: the [files] entry C:\\WINDOWS\\INF\\"
            "OEM4.INF matches no file of the machine\n"
            "uninst-sim: --strict: the warnings above refuse the run; nothing was "
            "changed\n"},
        RefusedCase{"Utf16Settings",
                    [](const fs::path& machine) {
                      std::string utf16 = "\xFF\xFE";
                      for (const char c : testing::ReadText(machine / "machine.ini")) {
                        utf16 += {c, '\0'};
                      }
                      testing::WriteText(machine / "machine.ini", utf16);
                    },
                    {"--strict", "-q", "--answers", "yes,no"},
                    "machine.ini is UTF-16 little-endian text: read as such"},
        RefusedCase{"AnswersTooShort",
                    LeaveAlone,
                    {"--strict", "-q", "--answers", "yes"},
                    "message box 2: no answer left in --answers"},
        RefusedCase{"AnswersTooLong",
                    LeaveAlone,
                    {"--strict", "-q", "--answers", "yes,no,no"},
                    "--answers gives 3 answers for 2 message boxes: 1 left over"},
        RefusedCase{"AnswersTooLongInADryRun",
                    LeaveAlone,
                    {"--strict", "-n", "-q", "--answers", "yes , no,no"},
                    "1 left over\nuninst-sim: --strict: the warnings above refuse the run; it "
                    "was a dry run\n"},
        RefusedCase{"DanglingSettingsLink",
                    [](const fs::path& machine) {
                      fs::remove(machine / "machine.ini");
                      fs::create_symlink("nowhere.ini", machine / "machine.ini");
                    },
                    {"--answers", "yes"},
                    "machine.ini is a dangling symbolic link"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

// What the demo run must remove, and neighbours it must leave.
const char* const kRemovedKeys[] = {
    "Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK_1.00",
    "Enum\\ESDI\\KELMORINUSB_FLOPPY_DISK_1.00",
    "Enum\\USB\\VID_0D7C&PID_FFFF",
    "Enum\\USB\\VID_0D7C&PID_0000",
    "System\\CurrentControlSet\\Services\\Class\\fdc\\0001",
    "System\\CurrentControlSet\\Services\\Class\\fdc\\0006",
    "System\\CurrentControlSet\\Services\\Class\\fdc\\0008",
    "System\\CurrentControlSet\\Services\\Class\\fdc\\0009",
};
const char* const kKeptKeys[] = {
    "Enum\\FLOP\\GENERIC_NEC_FLOPPY_DISK_\\BIOS&*PNP0700&0000",
    "Enum\\ESDI\\GENERIC_IDE__DISK_TYPE47_",
    "Enum\\USB\\ROOT_HUB",
    "Enum\\USB\\VID_0D7C&PID_0001",
    "System\\CurrentControlSet\\Services\\Class\\fdc",
    "System\\CurrentControlSet\\Services\\Class\\fdc\\0000",
    "System\\CurrentControlSet\\Services\\Class\\fdc\\0010",
    "System\\CurrentControlSet\\Services\\Class\\DiskDrive\\0000",
};
const char* const kKeptFiles[] = {
    "WINDOWS/INF/MSFDC.INF",
    "WINDOWS/INF/OEM9.INF",
    "WINDOWS/INF/OTHER/ACMESCAN.INF",
    "WINDOWS/SYSTEM/IOSUBSYS/HSFLOP.PDR",
    "WINDOWS/WIN.INI",
    "AUTOEXEC.BAT",
    "WINDOWS/CATROOT/{F750E6C3-38EE-11D1-85E5-00C04FC295EE}/ACMESCAN.CAT",
};

constexpr char kRoot[] = "HKEY_LOCAL_MACHINE\\";

bool Mentions(const std::string& text, const std::string& line) {
  return text.find("\n  " + line + "\n") != std::string::npos;
}

// The smallest machine of docs/MACHINE.md goes through each step it shows:
// fdc\0001 goes with the named device, its INF copy OEM1.INF stays.
TEST(UninstSim, MinimalMachineShowsEachStep) {
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  fs::copy(testing::DemoMachine() / ".." / "minimal-machine", machine, fs::copy_options::recursive);
  const ToolRun run = RunWith({"--machine", machine.string(), "--answers", "yes,no", "--", "/E"});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("Registry keys deleted (7):"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Registry values deleted (2):"), std::string::npos);
  EXPECT_NE(run.out.find("Files deleted (7):"), std::string::npos);
  for (const char* file :
       {"WINDOWS/INF/OEM2.INF", "WINDOWS/INF/OTHER/OEM2.INF", "WINDOWS/INF/OEM3.INF",
        "WINDOWS/INF/KMNUFD1.INF", "WINDOWS/CATROOT/KMNUFD1.CAT", "WINDOWS/SYSTEM/USBFDD.SYS",
        "WINDOWS/SYSTEM/IOSUBSYS/KMNFD.VXD"}) {
    EXPECT_FALSE(fs::exists(machine / "drive_c" / file)) << file;
  }
  EXPECT_TRUE(fs::exists(machine / "drive_c/WINDOWS/INF/OEM0.INF"));
  EXPECT_TRUE(fs::exists(machine / "drive_c/WINDOWS/INF/OEM1.INF"));
}

TEST(UninstSim, DemoRunRemovesTheDriveAndKeepsItsNeighbours) {
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  testing::CopyDemoMachine(machine);
  const fs::path report = scratch.Path() / "report.json";
  const ToolRun run = RunWith({"--machine", machine.string(), "--answers", "yes,no", "--report",
                               report.string(), "--", "/E"});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  EXPECT_EQ(run.err, "");

  EXPECT_NE(run.out.find("Registry keys deleted (21):"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Registry values deleted (8):"), std::string::npos);
  EXPECT_NE(run.out.find("Files deleted (23):"), std::string::npos);
  EXPECT_NE(run.out.find("Restart requested: no\nUndo record: .uninst-sim-undo/1"),
            std::string::npos);
  EXPECT_TRUE(Mentions(run.out, "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\KMNFD.VXD"));
  EXPECT_TRUE(
      Mentions(run.out, std::string(kRoot) +
                            "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\"
                            "Catalogs  value \"C:\\WINDOWS\\INF\\KMNUFD1.INF\" = \"C:\\WINDOWS\\"
                            "CATROOT\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\KMNUFD1.CAT\""))
      << run.out;
  // Sorted: a deleted key comes before the keys below it.
  EXPECT_LT(
      run.out.find(std::string("\n  ") + kRoot + "Enum\\ESDI\\KELMORINUSB_FLOPPY_DISK_1.00\n"),
      run.out.find(std::string("\n  ") + kRoot + "Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK_1.00\n"));
  for (const char* key : kRemovedKeys)
    EXPECT_TRUE(Mentions(run.out, kRoot + std::string(key))) << key;
  for (const char* key : kKeptKeys)
    EXPECT_FALSE(Mentions(run.out, kRoot + std::string(key))) << key;

  // Read without holding the folder, which the second run below needs alone.
  Outcome<RegDocument> after = ReadRegFile(testing::ReadText(machine / "registry.reg"));
  ASSERT_TRUE(after.Ok()) << after.Error();
  const sim::Registry& registry = after.Value().registry;
  for (const char* key : kRemovedKeys) EXPECT_FALSE(registry.KeyExists(key)) << key;
  for (const char* key : kKeptKeys) EXPECT_TRUE(registry.KeyExists(key)) << key;
  const std::string setup = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\";
  EXPECT_EQ(registry.Values(setup + "INF\\OEM Name").size(), 1u);
  EXPECT_EQ(registry.Values(setup + "Catalogs").size(), 1u);
  EXPECT_TRUE(registry.GetValue(setup + "Catalogs\\Settings", "Version").has_value());
  for (const char* file : kKeptFiles) EXPECT_TRUE(fs::exists(machine / "drive_c" / file)) << file;
  EXPECT_FALSE(fs::exists(machine / "drive_c/WINDOWS/SYSTEM/USBFDD.SYS"));

  const std::string json = testing::ReadText(report);
  EXPECT_EQ(json.find("{\n  \"schemaVersion\": 2,\n  \"commandLine\": \"UNINST.EXE /E\""), 0u)
      << json;
  EXPECT_NE(json.find("\"dryRun\": false"), std::string::npos);
  EXPECT_NE(json.find("\"restartRequested\": false"), std::string::npos);
  EXPECT_NE(json.find("{\"caption\": \"Corrindo Driver for Windows\", \"text\": \"This program "
                      "will uninstall the driver files from your system.\\n\\nDo you want to "
                      "continue?\", \"style\": 36, \"styleNames\": \"MB_YESNO|MB_ICONQUESTION\", "
                      "\"buttons\": [\"Yes\", \"No\"], \"icon\": "
                      "\"question\", \"answer\": \"Yes\"}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("    \"C:\\\\WINDOWS\\\\SYSTEM32\\\\DRIVERS\\\\USBFDD.SYS\""),
            std::string::npos);
  EXPECT_NE(
      json.find("{\"key\": \"HKEY_LOCAL_MACHINE\\\\Software\\\\Microsoft\\\\Windows\\\\"
                "CurrentVersion\\\\Setup\\\\SetupX\\\\INF\\\\OEM Name\", \"name\": "
                "\"C:\\\\WINDOWS\\\\INF\\\\KMNUFD2.INF\", \"data\": {\"type\": \"REG_SZ\", "
                "\"typeNumber\": 1, \"hex\": \"4b656c6d6f72696e00\", \"text\": \"Kelmorin\"}}"),
      std::string::npos);

  // Nothing is left of the drive: a second run finds nothing to delete.
  const ToolRun second =
      RunWith({"--machine", machine.string(), "--answers", "yes,ok", "--", "/E"});
  EXPECT_EQ(second.status, kExitNothingRemoved);
  EXPECT_NE(second.out.find("Registry keys deleted (0)\nRegistry values deleted (0)\n"
                            "Files deleted (0)\nRestart requested: no\n"),
            std::string::npos)
      << second.out;
}

// --explain=all over the demo machine, with the report on standard output.
const ToolRun& ExplainedDemoRun() {
  static const struct Explained {
    ScratchFolder scratch;
    ToolRun run;
    Explained() {
      testing::CopyDemoMachine(scratch.Path() / "machine");
      // The report goes to standard output, what people read to standard error.
      run = RunWith({"--machine", (scratch.Path() / "machine").string(), "--dry-run", "--answers",
                     "yes,no", "--explain=all", "--report", "-", "--", "/E"});
    }
  } explained;
  return explained.run;
}

// The lines of the summary's section `title`.
std::vector<std::string> SectionLines(const std::string& out, const std::string& title) {
  std::vector<std::string> lines;
  std::size_t at = out.find("\n" + title + " (");
  at = out.find('\n', at + 1);
  while (at != std::string::npos && out.compare(at + 1, 2, "  ") == 0) {
    const std::size_t end = out.find('\n', at + 1);
    lines.push_back(out.substr(at + 3, end - at - 3));
    at = end;
  }
  return lines;
}

TEST(UninstSim, ExplainGivesEveryRemovalItsChain) {
  const ToolRun& run = ExplainedDemoRun();
  ASSERT_EQ(run.status, kExitOk) << run.err;
  std::vector<std::string> headings;
  for (const std::string& key : SectionLines(run.err, "Registry keys deleted")) {
    headings.push_back("key " + key);
  }
  for (const std::string& value : SectionLines(run.err, "Registry values deleted")) {
    headings.push_back("value " + value.substr(0, value.find("\" = ") + 1));
  }
  for (const std::string& file : SectionLines(run.err, "Files deleted")) {
    headings.push_back("file " + file);
  }
  EXPECT_EQ(headings.size(), 21u + 8u + 23u);
  for (const std::string& heading : headings) {
    EXPECT_NE(run.err.find("\n  " + heading + ": removed\n    1. "), std::string::npos) << heading;
  }
}

// What each kind of chain holds: the heading of an explanation, and the text
// of one of its steps.
struct ChainCase {
  const char* heading;
  const char* step;
};

class DemoChains : public ::testing::TestWithParam<ChainCase> {};

TEST_P(DemoChains, NameWhatLedThere) {
  const std::string& out = ExplainedDemoRun().err;
  const std::size_t at = out.find(std::string("\n  ") + GetParam().heading + "\n");
  ASSERT_NE(at, std::string::npos) << out;
  std::size_t end = at + 1;
  do {
    end = out.find("\n  ", end + 1);
  } while (end != std::string::npos && out[end + 3] == ' ');
  const std::string chain = out.substr(at, end - at);
  EXPECT_NE(chain.find(GetParam().step), std::string::npos) << chain;
}

INSTANTIATE_TEST_SUITE_P(
    UninstSim, DemoChains,
    ::testing::Values(
        ChainCase{"key HKEY_LOCAL_MACHINE\\Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK_1.00: removed",
                  "2. device key: HKEY_LOCAL_MACHINE\\Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK_1.00 "
                  "(its name starts with KELMORINUSB_FLOPPY_DISK)"},
        ChainCase{"key HKEY_LOCAL_MACHINE\\Enum\\ESDI\\KELMORINUSB_FLOPPY_DISK_1.00\\USB&VID_0D7C&"
                  "PID_FFFF&0001: removed",
                  "3. below the deleted key: HKEY_LOCAL_MACHINE\\Enum\\ESDI\\"},
        ChainCase{"key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\fdc\\0003: "
                  "removed",
                  "value \"Driver\" = \"fdc\\0003\" (names the class key)"},
        ChainCase{"key HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_0D7C&PID_0000: removed",
                  "1. drive branch sweep: HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_0D7C&PID_0000"},
        ChainCase{"key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\fdc\\0009: "
                  "removed",
                  "value \"InfPath\" (not present: no INF copies)"},
        ChainCase{"file C:\\WINDOWS\\INF\\OEM2.INF: removed",
                  "value \"InfSection\" = \"kmncrn.dev\" (the drive's INF section)"},
        ChainCase{"file C:\\WINDOWS\\INF\\OEM4.INF: removed",
                  "1. floppy class sweep: HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\"},
        ChainCase{"file C:\\WINDOWS\\INF\\OTHER\\KELMORINKMNUFD2.INF: removed",
                  "(the catalogued INF path itself)"},
        ChainCase{"file C:\\WINDOWS\\INF\\CATALOG\\KMNUFD2.CAT: removed",
                  "(the file the value names)"},
        ChainCase{"value HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\"
                  "SetupX\\INF\\OEM Name  value \"C:\\WINDOWS\\INF\\KMNUFD2.INF\": removed",
                  "= \"Kelmorin\" (a string named after a catalogued INF path)"},
        ChainCase{"file C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\KMNFD.VXD: removed", "1. driver file table"},
        ChainCase{
            "key HKEY_LOCAL_MACHINE\\Enum\\FLOP\\GENERIC_NEC_FLOPPY_DISK_: kept, its name does "
            "not start with KELMORINUSB_FLOPPY_DISK",
            "1. named device sweep: HKEY_LOCAL_MACHINE\\Enum\\FLOP"},
        ChainCase{"key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\fdc\\0010: "
                  "kept, its \"InfSection\" is not KMNCRN.DEV",
                  "value \"InfSection\" = \"FDC_OTHER\""},
        ChainCase{"file C:\\WINDOWS\\inf\\other\\OEM3.INF: absent, not present",
                  "value \"InfPath\" = \"OEM3.INF\""}));

// The demo machine as each family and language, asked about every file
// with /V: VxDs show their versions on Windows 98 only; a Japanese machine
// keeps double-byte registry names and shows its texts as UTF-8. An undo then
// gives the folder back byte for byte.
struct FamilyCase {
  const char* name;
  const char* settings;  // replaces the demo's [machine] lines
  const char* language;
  bool vxdVersions;
};

class DemoFamilies : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(DemoFamilies, ShowVersionsAndTextsAsTheMachineWould) {
  const FamilyCase& c = GetParam();
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  testing::CopyDemoMachine(machine);
  std::string ini = testing::ReadText(machine / "machine.ini");
  const std::string demoSettings = "windows = 98\noem_code_page = 437\nansi_code_page = 1252\n";
  ASSERT_NE(ini.find(demoSettings), std::string::npos);
  testing::WriteText(machine / "machine.ini",
                     ini.replace(ini.find(demoSettings), demoSettings.size(), c.settings));
  // A kept key and a key below a removed one named in code page 932, with
  // trail bytes that are ASCII: ']' in 0x83 0x5D and '\\' in 0x95 0x5C.
  const bool japanese = std::string(c.language) == "/J";
  const std::string keptKey =
      "[HKEY_LOCAL_MACHINE\\Software\\\x93\xFA\x96\x7B]\r\n"
      "\"\x96\xBC\"=\"\x95\x5C\x8E\xA6\"\r\n";
  if (japanese) {
    std::ofstream(machine / "registry.reg", std::ios::app | std::ios::binary)
        << keptKey << "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_0D7C&PID_FFFF\\\x83\x5D]\r\n";
  }
  const auto before = testing::TreePicture(machine);
  const fs::path report = scratch.Path() / "report.json";
  const ToolRun run = RunWith({"--machine", machine.string(), "--answers",
                               "yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,"
                               "yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,yes,ok,ok",
                               "--report", report.string(), "--", "/V", c.language});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  EXPECT_NE(run.out.find("(v1.0.2.5)"), std::string::npos) << run.out;  // a PE driver
  EXPECT_EQ(run.out.find("(v1.0.0.7)") != std::string::npos, c.vxdVersions) << run.out;
  EXPECT_EQ(run.out.find("(v1.0.0.3)") != std::string::npos, c.vxdVersions);
  const std::string caption = japanese ? CatalogueText(1) : CatalogueText(kLanguageBaseEnglish + 1);
  EXPECT_NE(run.out.find("+-- " + caption), std::string::npos) << run.out;
  EXPECT_NE(testing::ReadText(report).find("\"caption\": \"" + caption), std::string::npos);
  if (japanese) {
    EXPECT_TRUE(
        Mentions(run.out, kRoot + std::string("Enum\\USB\\VID_0D7C&PID_FFFF\\\xE3\x82\xBE")))
        << run.out;
    EXPECT_NE(testing::ReadText(machine / "registry.reg").find(keptKey), std::string::npos);
  }
  // The undo gives back every byte, attribute and time.
  const ToolRun undo = RunWith({"--machine", machine.string(), "--undo"});
  EXPECT_EQ(undo.status, kExitOk) << undo.err;
  EXPECT_EQ(testing::TreePicture(machine), before);
}

INSTANTIATE_TEST_SUITE_P(
    UninstSim, DemoFamilies,
    ::testing::Values(FamilyCase{"Windows98", "windows = 98\n", "/E", true},
                      FamilyCase{"WindowsNt", "windows = nt\n", "/E", false},
                      FamilyCase{"JapaneseWindows98",
                                 "windows = 98\noem_code_page = 932\nansi_code_page = 932\n", "/J",
                                 true}),
    [](const ::testing::TestParamInfo<FamilyCase>& info) { return info.param.name; });

// A real run over a machine grown at random, answered at random, and its
// undo give back the folder byte for byte.
TEST(UninstSim, UndoGivesBackARandomMachine) {
  std::random_device device;
  const unsigned seed = device();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  testing::CopyDemoMachine(machine);
  std::ofstream registry(machine / "registry.reg", std::ios::app | std::ios::binary);
  const char* const branches[] = {"Enum\\USB\\VID_0D7C&PID_FFFF", "Enum\\Root\\Other",
                                  "System\\CurrentControlSet\\Services\\Class\\fdc\\0002"};
  for (int k = 0; k < 20; ++k) {
    registry << "[HKEY_LOCAL_MACHINE\\" << branches[random() % 3] << "\\K" << random() % 8
             << "]\r\n\"v" << random() % 4 << "\"=hex:" << std::hex << random() % 256 << std::dec
             << "\r\n";
  }
  registry.close();
  const char* const folders[] = {"WINDOWS/INF", "WINDOWS/SYSTEM", "WINDOWS/SYSTEM/IOSUBSYS"};
  for (int f = 0; f < 15; ++f) {
    const fs::path file = machine / "drive_c" / folders[random() % 3] /
                          ("R" + std::to_string(random() % 1000) + ".INF");
    testing::WriteText(file, std::string(random() % 300, static_cast<char>(random())));
    const std::string dos = "0x" + std::to_string(random() % 7);
    ::setxattr(file.c_str(), sim::kDosAttributeName, dos.data(), dos.size(), 0);
    const timespec times[2] = {
        {static_cast<time_t>(random()), static_cast<long>(random() % 1000000000)},
        {static_cast<time_t>(random()), 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
  }
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(machine / "drive_c")) {
    if (!entry.is_regular_file() || random() % 3 != 0) continue;
    const std::string dos = "0x" + std::to_string(random() % 7);
    ::setxattr(entry.path().c_str(), sim::kDosAttributeName, dos.data(), dos.size(), 0);
    if (random() % 2 == 0) fs::permissions(entry.path(), fs::perms::owner_read);
  }
  std::string answers = "yes";
  for (int box = 0; box < 40; ++box) answers += random() % 4 == 0 ? ",no" : ",yes";
  const auto before = testing::TreePicture(machine);
  const ToolRun run =
      RunWith({"--machine", machine.string(), "--answers", answers, "--", "/E", "/V"});
  ASSERT_EQ(run.status, kExitOk) << run.err;
  const ToolRun undo = RunWith({"--machine", machine.string(), "--undo"});
  ASSERT_EQ(undo.status, kExitOk) << undo.err;
  EXPECT_EQ(testing::TreePicture(machine), before);
}

// Runs the tool in a child whose view of `machine` is a read-only mount,
// private to it; the exit status, or 77 when no such mount can be made.
int RunOnReadOnlyMount(const fs::path& machine, const fs::path& temp,
                       const std::vector<std::string>& args) {
  const pid_t child = ::fork();
  if (child == 0) {
    const char* path = machine.c_str();
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(path, path, nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
      ::_exit(77);
    }
    ::setenv("TMPDIR", temp.c_str(), 1);
    ::_exit(RunWith(args).status);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(UninstSim, DryRunOnAReadOnlyFolderWritesNothingAnywhere) {
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  const fs::path temp = scratch.Path() / "tmp";
  testing::CopyDemoMachine(machine);
  fs::create_directory(temp);
  const auto before = testing::TreePicture(scratch.Path());
  const std::vector<std::string> args = {
      "--machine", machine.string(), "--dry-run", "--answers", "yes,yes", "--", "/E"};
  const int status = RunOnReadOnlyMount(machine, temp, args);
  if (status == 77) GTEST_SKIP() << "no private read-only mount can be made here";
  EXPECT_EQ(status, kExitOk);
  EXPECT_EQ(testing::TreePicture(scratch.Path()), before);

  const fs::path report = scratch.Path() / "dry.json";
  std::vector<std::string> reported = args;
  reported.insert(reported.end() - 2, {"--report", report.string()});
  const ToolRun run = RunWith(reported);
  ASSERT_EQ(run.status, kExitOk) << run.err;
  EXPECT_NE(run.out.find("Dry run: the machine folder was not changed"), std::string::npos);
  EXPECT_NE(run.out.find("Files deleted (23):"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Restart requested: yes"), std::string::npos);
  EXPECT_NE(testing::ReadText(report).find("\"dryRun\": true"), std::string::npos);
  fs::remove(report);
  EXPECT_EQ(testing::TreePicture(scratch.Path()), before);
}

// The disk fills up while registry.reg is written back.
FileCalls FullDisk() {
  FileCalls calls = SystemFileCalls();
  calls.write = [](int, const void*, std::size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  return calls;
}

TEST(UninstSim, FailedSaveIsSaidFirstAndTheDeletedFilesAreListed) {
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  testing::CopyDemoMachine(machine);
  // A save killed earlier left its marked temporary file; this run removes
  // it, and a person's file of a like name stays.
  const fs::path leftover = machine / ".registry.reg.uninst-sim-save-ab12cd34ef56";
  testing::WriteText(leftover, "half a regis");
  ASSERT_EQ(::setxattr(leftover.c_str(), "user.uninst-sim.temporary", "", 0, 0), 0);
  testing::WriteText(machine / ".registry.reg.backup", "a person's own");
  const std::string registry = testing::ReadText(machine / "registry.reg");
  const fs::path report = scratch.Path() / "report.json";
  const ToolRun run = RunWith({"--machine", machine.string(), "--answers", "yes,no", "--report",
                               report.string(), "--", "/E"},
                              "", false, FullDisk());
  EXPECT_EQ(run.status, kExitOutputFailed);
  EXPECT_EQ(run.err.find("uninst-sim: removed .registry.reg.uninst-sim-save-ab12cd34ef56, left "
                         "by a save"),
            0u)
      << run.err;
  EXPECT_NE(run.err.find("\nuninst-sim: registry.reg could not be saved"), std::string::npos);
  EXPECT_NE(run.err.find("No space left on device"), std::string::npos);
  EXPECT_LT(run.out.find("registry.reg could NOT be saved"), run.out.find("Changes:")) << run.out;
  EXPECT_NE(run.out.find("Registry keys deleted, not saved (21):"), std::string::npos);
  EXPECT_NE(run.out.find("Files deleted (23):"), std::string::npos);
  EXPECT_EQ(testing::ReadText(machine / "registry.reg"), registry);
  EXPECT_FALSE(fs::exists(machine / "drive_c/WINDOWS/SYSTEM/USBFDD.SYS"));
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_EQ(testing::ReadText(machine / ".registry.reg.backup"), "a person's own");
  const std::string json = testing::ReadText(report);
  EXPECT_NE(json.find("\"registrySave\": \"failed\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"registrySaveError\": \"cannot write"), std::string::npos);
  EXPECT_NE(json.find("\"C:\\\\WINDOWS\\\\SYSTEM\\\\USBFDD.SYS\""), std::string::npos);
}

TEST(UninstSim, TerminalTextEscapesControls) {
  EXPECT_EQ(TerminalText("C:\\A\x1B]0;owned\x07\x7F\x9B\xC2\x9B\xC3\xA9\xE3\x81\x82"),
            "C:\\A\\x1B]0;owned\\x07\\x7F\\x9B\\xC2\\x9B\xC3\xA9\xE3\x81\x82");
}

TEST(UninstSim, AsksTheTerminalAndRetriesUnknownKeys) {
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  testing::CopyDemoMachine(machine);
  const auto before = testing::TreePicture(machine);
  // The opening question: a wrong key, then No.
  const ToolRun run = RunWith({"--machine", machine.string()}, "x\nn\n", true);
  EXPECT_EQ(run.status, kExitNothingRemoved) << run.err;
  EXPECT_NE(run.out.find("+-- [Y]es [N]o\n? Please press [Y]es [N]o, then Enter.\n? > No\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(testing::TreePicture(machine), before);
}

// Ctrl-C while the person is asked: the read of the terminal is interrupted.
class InterruptedKeys : public std::streambuf {
 protected:
  int_type underflow() override {
    std::raise(SIGINT);
    return traits_type::eof();
  }
};

TEST(UninstSim, InterruptAtAPromptIsAnInterrupt) {
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  testing::CopyDemoMachine(machine);
  const auto before = testing::TreePicture(machine);
  InterruptedKeys keys;
  std::istream in(&keys);
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunTool({"--machine", machine.string()}, {in, true, out, err}), 128 + SIGINT);
  EXPECT_EQ(
      err.str(),
      "uninst-sim: interrupted by SIGINT: the run was stopped; what it did is listed above\n");
  EXPECT_EQ(testing::TreePicture(machine), before);
}

// The report on standard output is all there is; -q leaves it alone there.
TEST(UninstSim, JsonOnStandardOutputStandsAlone) {
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  testing::CopyDemoMachine(machine);
  const ToolRun json =
      RunWith({"--machine", machine.string(), "-n", "--answers", "yes,no", "--json", "--", "/E"});
  EXPECT_EQ(json.status, kExitOk);
  EXPECT_EQ(json.out.find("{\n  \"schemaVersion\": 2,\n  \"commandLine\": \"UNINST.EXE /E\""), 0u)
      << json.out;
  EXPECT_EQ(json.out.rfind("\n}\n"), json.out.size() - 3);
  EXPECT_EQ(json.err.find("Machine: Windows 95/98/Me family, ANSI code page 1252, OEM code page "
                          "437, windows directory C:\\WINDOWS, 55 registry keys, 30 files\n"),
            0u)
      << json.err;
  EXPECT_NE(json.err.find("Files deleted (23):"), std::string::npos);
  const ToolRun quiet = RunWith({"--machine", machine.string(), "-n", "-q", "--answers", "yes,no"});
  EXPECT_EQ(quiet.status, kExitOk);
  EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST(UninstSim, ListAnswersComeFirstThenTheTerminal) {
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  testing::CopyDemoMachine(machine);
  // Every removal question answered No from the terminal, Enter at the end.
  std::string keys;
  for (int i = 0; i < 40; ++i) keys += "no\n";
  const ToolRun run =
      RunWith({"--machine", machine.string(), "--answers", "y", "--", "/E", "/V"}, keys, true);
  EXPECT_EQ(run.status, kExitOk);
  EXPECT_NE(
      run.out.find("| C:\\WINDOWS\\SYSTEM\\USBFDD.SYS:\n|   1024 bytes 1999/03/03 (v1.0.2.5)\n"),
      std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Files deleted (0)\n"), std::string::npos);
  EXPECT_NE(run.err.find("uninst-sim: warning: message box"), std::string::npos);
}

TEST(UninstSim, AnswerTheBoxDoesNotOfferIsRefused) {
  ScratchFolder scratch;
  const fs::path machine = scratch.Path() / "machine";
  testing::CopyDemoMachine(machine);
  const auto before = testing::TreePicture(machine);
  const ToolRun run = RunWith({"--machine", machine.string(), "--answers", "ok"});
  EXPECT_EQ(run.status, kExitNothingRemoved);
  EXPECT_EQ(run.err,
            "uninst-sim: warning: message box 1: the answer OK from --answers is not one of its "
            "buttons\n");
  EXPECT_EQ(testing::TreePicture(machine), before);
}

// The program's version is its version resource's.
TEST(UninstSim, VersionNamesTheProgramItRuns) {
  const std::string rc =
      testing::ReadText(fs::path(__FILE__).parent_path() / ".." / ".." / "res" / "uninst.rc");
  const std::size_t at = rc.find("FILEVERSION ");
  ASSERT_NE(at, std::string::npos);
  std::string version = rc.substr(at + 12, rc.find('\n', at) - at - 12);
  version.erase(std::remove(version.begin(), version.end(), ' '), version.end());
  std::replace(version.begin(), version.end(), ',', '.');
  EXPECT_NE(std::string(VersionText()).find("UNINST.EXE " + version + " "), std::string::npos)
      << VersionText();
}

TEST(UninstSim, HelpExplainsTheOptions) {
  const ToolRun run = RunWith({"--help"});
  EXPECT_EQ(run.status, kExitOk);
  for (const char* word : {"--machine", "--answers", "--report", "--dry-run", "registry.reg",
                           "machine.ini", "Exit status"}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace uninst::tool
