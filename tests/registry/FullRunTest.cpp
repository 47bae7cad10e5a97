// Whole runs over a fully installed machine: what stays, what goes, and in
// which order the files are offered; runs over machines set up to lead the
// sweeps into another program's keys and files; then the same runs with each
// platform call in turn failing.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/UninstallApp.h"
#include "tests/registry/RegistryFixture.h"
#include "tests/support/FullInstall.h"

namespace uninst::test {
namespace {

bool IsBelowOrEqual(const std::string& key, const std::string& removed) {
  return key == removed || key.rfind(removed + "\\", 0) == 0;
}

// Every key of the machine except those a full uninstall removes.
std::vector<std::string> KeysAfterUninstall(sim::Registry& registry, const FullInstall& install) {
  std::vector<std::string> keys;
  for (const std::string& key : registry.AllKeys()) {
    bool removed = false;
    for (const std::string& gone : install.removedKeys) removed |= IsBelowOrEqual(key, gone);
    if (!removed) keys.push_back(key);
  }
  return keys;
}

using Seed = std::function<FullInstall(sim::SimMachine&)>;

// A machine with drive C and what `seed` installs, answering Yes to every box.
struct InstalledMachine {
  explicit InstalledMachine(const Seed& seed = SeedFullInstall) {
    machine.MapDrive('C', scratch.Path());
    install = seed(machine);
    survivors = KeysAfterUninstall(machine.GetRegistry(), install);
    machine.SetResponder([](const sim::MessageBoxRecord&) { return kIdYes; });
  }
  bool Uninstall(const char* commandLine) {
    UninstallApp app(machine);
    app.SetCommandLine(commandLine);
    return app.InitInstance();
  }
  // Every key that is not the drive's, and every neighbouring value and file,
  // is still there.
  void ExpectNeighboursKept(const std::string& context) {
    sim::Registry& registry = machine.GetRegistry();
    for (const std::string& key : survivors) {
      EXPECT_TRUE(registry.KeyExists(key)) << key << context;
    }
    for (const auto& [key, name] : install.keptValues) {
      EXPECT_TRUE(registry.GetValue(key, name).has_value()) << key << " " << name << context;
    }
    for (const std::string& file : install.keptFiles) {
      EXPECT_TRUE(machine.FileExists(file)) << file << context;
    }
  }
  void ExpectDriveRemoved() {
    sim::Registry& registry = machine.GetRegistry();
    for (const std::string& key : install.removedKeys) EXPECT_FALSE(registry.KeyExists(key)) << key;
    for (const auto& [key, name] : install.removedValues) {
      EXPECT_FALSE(registry.GetValue(key, name).has_value()) << key << " " << name;
    }
    for (const std::string& file : install.removedFiles) {
      EXPECT_FALSE(machine.FileExists(file)) << file;
    }
  }

  ScratchFolder scratch;
  sim::SimMachine machine;
  FullInstall install;
  std::vector<std::string> survivors;
};

const std::string kClass = "System\\CurrentControlSet\\Services\\Class";
const std::string kDiskDrive = kClass + "\\DiskDrive";
const std::string kWindows = "C:\\WINDOWS";
// Another program's keys, which the links and names below lead to.
const std::string kOther = "Software\\OtherMaker";
const std::string kOtherDrive = "Enum\\FLOP\\OTHER_DRIVE";
const std::string kUsbFfff = "Enum\\USB\\VID_0D7C&PID_FFFF";
const std::string kUsb0000 = "Enum\\USB\\VID_0D7C&PID_0000";
const std::string kOwnEsdi = "Enum\\ESDI\\KELMORINUSB_FLOPPY_DISK_X";
const std::string kOwnDriverFile = kWindows + "\\SYSTEM\\USBFDD.SYS";

void Instance(sim::SimMachine& m, const std::string& key, const std::string& driver) {
  m.GetRegistry().SetString(key, "Driver", driver);
  m.GetRegistry().SetString(kClass + "\\" + driver, "DriverDesc", "Floppy disk drive");
}

void Link(sim::SimMachine& m, const std::string& path, const std::string& target) {
  EXPECT_TRUE(m.GetRegistry().CreateLink(path, target)) << path;
}

// A key whose name the code page holds only as the best fit "A\B" beside a
// link "A": read byte for byte, the name would lead through the link.
void NameBeyondCodePage(sim::SimMachine& m, FullInstall& install) {
  EXPECT_TRUE(m.GetRegistry().CreateKeyBeyondCodePage(kUsb0000, "A\\B"));
  Link(m, kUsb0000 + "\\A", kOther);
  install.removedKeys.push_back(kUsb0000);
}

// The windows directory 0x95 0x5C of code page 932, whose second byte is a
// backslash: its driver file goes, the one of the folder beside it stays.
void DoubleByteDirectory(sim::SimMachine& m, FullInstall& install) {
  m.WriteFile("C:\\\x95\\\\SYSTEM\\USBFDD.SYS", {'d'});
  m.WriteFile("C:\\\x95\\SYSTEM\\USBFDD.SYS", {'d'});
  install.removedFiles.push_back("C:\\\x95\\\\SYSTEM\\USBFDD.SYS");
  install.keptFiles.push_back("C:\\\x95\\SYSTEM\\USBFDD.SYS");
}

struct Attack {
  const char* label;
  std::uint32_t codePage;
  const char* commandLine;
  void (*seed)(sim::SimMachine&, FullInstall&);
};

const Attack kAttacks[] = {
    {"LinkAtAVendorProductBranch", 1252, "/E",
     [](sim::SimMachine& m, FullInstall& install) {
       // The link stays: the branch cannot be opened as the drive's own.
       Link(m, kUsbFfff, kOther);
       Instance(m, kUsb0000 + "\\Own", "DiskDrive\\0007");
       install.removedKeys.insert(install.removedKeys.end(), {kUsb0000, kDiskDrive + "\\0007"});
     }},
    {"LinkInTheClassPathOfDriver", 1252, "/E",
     [](sim::SimMachine& m, FullInstall& install) {
       m.GetRegistry().SetString(kUsb0000 + "\\Lnk0", "Driver", "Lnk\\0000");
       Link(m, kClass + "\\Lnk", kOther);
       install.removedKeys.push_back(kUsb0000);
     }},
    {"LinkAtANamedDeviceKey", 1252, "/E",
     [](sim::SimMachine& m, FullInstall& install) {
       // The link is deleted as a link, without a visit of its instances.
       Link(m, "Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK_LINK", kOtherDrive);
       Instance(m, kOwnEsdi + "\\0002", "DiskDrive\\0008");
       install.removedKeys.insert(
           install.removedKeys.end(),
           {"Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK_LINK", kOwnEsdi, kDiskDrive + "\\0008"});
     }},
    {"LinkAtTheFloppyClass", 1252, "/E",
     [](sim::SimMachine& m, FullInstall& install) {
       Link(m, kClass + "\\fdc", kOther);
       m.WriteFile(kOwnDriverFile, {'d'});
       install.removedFiles.push_back(kOwnDriverFile);
     }},
    {"NameBeyondTheWesternCodePage", 1252, "/E", NameBeyondCodePage},
    {"NameBeyondTheJapaneseCodePage", 932, "/E", NameBeyondCodePage},
    {"DoubleByteWindowsDirectory", 932, "/E /DC:\\\x95\\", DoubleByteDirectory},
    {"DoubleByteWindowsDirectoryAndBackslash", 932, "/E /dc:\\\x95\\\\", DoubleByteDirectory},
    {"UpperCasingKeepsSecondBytes", 932, "/E /dc:\\\x83t",
     [](sim::SimMachine& m, FullInstall& install) {
       // 0x83 0x74 is not 0x83 0x54, another character.
       m.WriteFile("C:\\\x83t\\SYSTEM\\USBFDD.SYS", {'d'});
       m.WriteFile("C:\\\x83T\\SYSTEM\\USBFDD.SYS", {'d'});
       install.removedFiles.push_back("C:\\\x83t\\SYSTEM\\USBFDD.SYS");
       install.keptFiles.push_back("C:\\\x83T\\SYSTEM\\USBFDD.SYS");
     }},
    {"NameLongerThanTheBuffer", 1252, "/E",
     [](sim::SimMachine& m, FullInstall& install) {
       // Enumerated first; the instance after it is still visited.
       m.GetRegistry().CreateKey(kOwnEsdi + "\\0000" + std::string(600, 'L'));
       Instance(m, kOwnEsdi + "\\0001", "DiskDrive\\0009");
       install.removedKeys.insert(install.removedKeys.end(), {kOwnEsdi, kDiskDrive + "\\0009"});
     }},
};

// What the attacks lead to: another program's keys with the drive's INF
// section, and another drive's device key and class key.
FullInstall SeedOtherProgram(sim::SimMachine& machine) {
  FullInstall install;
  sim::Registry& registry = machine.GetRegistry();
  registry.SetString(kOther + "\\0000", "InfSection", "KMNCRN.DEV");
  registry.SetString(kOther + "\\0000", "InfPath", "OTHER.INF");
  registry.SetString(kOther + "\\B", "Owner", "Other program");
  Instance(machine, kOtherDrive + "\\0000", "DiskDrive\\0001");
  install.keptValues = {{kOther + "\\0000", "InfPath"}, {kDiskDrive + "\\0001", "DriverDesc"}};
  for (const char* folder : {"\\INF\\", "\\INF\\OTHER\\"}) {
    machine.WriteFile(kWindows + folder + "OTHER.INF", {'i'});
    install.keptFiles.push_back(kWindows + folder + "OTHER.INF");
  }
  return install;
}

// Every attack of the Western code page on one machine.
FullInstall SeedWesternAttacks(sim::SimMachine& machine) {
  FullInstall install = SeedOtherProgram(machine);
  for (const Attack& attack : kAttacks) {
    if (attack.codePage == 1252) attack.seed(machine, install);
  }
  return install;
}

class AttackCases : public ::testing::TestWithParam<Attack> {};

// The other program's keys, values and files stay, and every key not of the
// drive's; the drive's go.
TEST_P(AttackCases, DeleteOnlyWhatIsTheDrives) {
  const Attack& attack = GetParam();
  InstalledMachine m([&attack](sim::SimMachine& machine) {
    machine.Config().ansiCodePage = attack.codePage;
    FullInstall install = SeedOtherProgram(machine);
    attack.seed(machine, install);
    return install;
  });
  EXPECT_FALSE(m.Uninstall(attack.commandLine));
  m.ExpectNeighboursKept("");
  m.ExpectDriveRemoved();
  EXPECT_EQ(m.machine.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Attacks, AttackCases, ::testing::ValuesIn(kAttacks),
                         [](const ::testing::TestParamInfo<Attack>& info) {
                           return std::string(info.param.label);
                         });

class FullRunCases : public ::testing::TestWithParam<const char*> {};

TEST_P(FullRunCases, LeavesExactlyWhatDoesNotBelongToTheDrive) {
  InstalledMachine m;
  EXPECT_FALSE(m.Uninstall(GetParam()));
  EXPECT_EQ(m.machine.GetRegistry().AllKeys(), m.survivors);
  m.ExpectNeighboursKept("");
  m.ExpectDriveRemoved();
  EXPECT_TRUE(m.machine.RestartRequested());
  EXPECT_EQ(m.machine.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, FullRunCases, ::testing::Values("/E", "/V /E", "/J /V"));

TEST(FullRunTest, OffersTheFilesInPhaseOrder) {
  InstalledMachine m;
  EXPECT_FALSE(m.Uninstall("/V /E"));
  EXPECT_EQ(OfferedFiles(m.machine), m.install.removedFiles);
}

// Whichever single platform call fails, the run ends normally, closes every
// handle and never touches anything that is not the drive's, also on a
// machine set up to lead it astray. The sweep is the longest test by far:
// each machine is a suite of its own, so that they run as two processes side
// by side.
class SingleFailure : public ::testing::TestWithParam<Seed> {};

TEST_P(SingleFailure, LeavesEverythingElseWhole) {
  std::uint64_t calls = 0;
  {
    InstalledMachine clean(GetParam());
    const std::uint64_t before = clean.machine.CallCount();
    clean.Uninstall("/V /E");
    calls = clean.machine.CallCount() - before;
  }
  ASSERT_GT(calls, 50u);
  for (std::uint64_t n = 1; n <= calls && !::testing::Test::HasFailure(); ++n) {
    InstalledMachine m(GetParam());
    m.machine.KeepCallLog();
    const std::uint64_t failing = m.machine.CallCount() + n;
    m.machine.FailCallNumber(failing);
    EXPECT_FALSE(m.Uninstall("/V /E"));
    const std::string context = " (call " + std::to_string(n) + " failing)";
    // A failed close leaves its handle open whatever the caller does.
    const std::optional<sim::Op> op = m.machine.OpOfCall(failing);
    const bool closeFailed = op == sim::Op::kRegCloseKey || op == sim::Op::kCloseHandle;
    EXPECT_EQ(m.machine.OpenHandleCount(), closeFailed ? 1u : 0u) << context;
    m.ExpectNeighboursKept(context);
  }
}

INSTANTIATE_TEST_SUITE_P(FullInstall, SingleFailure, ::testing::Values(Seed(SeedFullInstall)));
INSTANTIATE_TEST_SUITE_P(Attacks, SingleFailure, ::testing::Values(Seed(SeedWesternAttacks)));

}  // namespace
}  // namespace uninst::test
