#include <cstdio>
#include <string>
#include <vector>

#include "registry/DeviceSweeps.h"
#include "tests/registry/RegistryFixture.h"

namespace uninst::test {
namespace {

const std::string kFlop = "Enum\\FLOP";
const std::string kClass = "System\\CurrentControlSet\\Services\\Class";
const std::string kDevice = "KELMORINUSB_FLOPPY_DISK_0";

class NamedDeviceTest : public RegistryTest {
 protected:
  // A device key with one instance per class instance, each pointing at a
  // device class key that exists.
  void AddDevice(const std::string& branch, const std::string& device,
                 const std::vector<std::string>& classInstances) {
    Reg().CreateKey(branch + "\\" + device);
    for (std::size_t i = 0; i < classInstances.size(); ++i) {
      char instance[24];
      std::snprintf(instance, sizeof instance, "%04zu", i);
      Reg().SetString(branch + "\\" + device + "\\" + instance, "Driver", classInstances[i]);
      Reg().SetString(kClass + "\\" + classInstances[i], "Class", "DiskDrive");
    }
  }
  bool ClassKeyExists(const std::string& classInstance) {
    return KeyExists(kClass + "\\" + classInstance);
  }
  void Sweep() { EXPECT_EQ(SweepNamedDevice(run, kFlop.c_str()), SweepOutcome::kGoOn); }
};

TEST_F(NamedDeviceTest, DeletesClassKeysOfEveryInstanceThenTheDevice) {
  AddDevice(kFlop, kDevice, {"DiskDrive\\0003", "DiskDrive\\0004"});
  AddDevice(kFlop, "GENERIC_FLOPPY", {"DiskDrive\\0000"});
  Sweep();
  EXPECT_FALSE(KeyExists(kFlop + "\\" + kDevice));
  EXPECT_FALSE(ClassKeyExists("DiskDrive\\0003"));
  EXPECT_FALSE(ClassKeyExists("DiskDrive\\0004"));
  EXPECT_TRUE(ClassKeyExists("DiskDrive\\0000"));
  EXPECT_TRUE(KeyExists(kFlop + "\\GENERIC_FLOPPY\\0000"));
  EXPECT_TRUE(KeyExists(kClass + "\\DiskDrive"));
  EXPECT_TRUE(machine.Boxes().empty());
}

TEST_F(NamedDeviceTest, OnlyTheFirstOfTwoMatchingDevicesIsSwept) {
  AddDevice(kFlop, "KELMORINUSB_FLOPPY_DISK_A", {"DiskDrive\\0001"});
  AddDevice(kFlop, "KELMORINUSB_FLOPPY_DISK_B", {"DiskDrive\\0002"});
  Sweep();
  EXPECT_FALSE(KeyExists(kFlop + "\\KELMORINUSB_FLOPPY_DISK_A"));
  EXPECT_FALSE(ClassKeyExists("DiskDrive\\0001"));
  EXPECT_TRUE(KeyExists(kFlop + "\\KELMORINUSB_FLOPPY_DISK_B\\0000"));
  EXPECT_TRUE(ClassKeyExists("DiskDrive\\0002"));
}

struct NameCase {
  const char* name;
  bool matches;
};

class DeviceNameCases : public NamedDeviceTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(DeviceNameCases, MatchesTheFirst23BytesExactly) {
  AddDevice(kFlop, GetParam().name, {"DiskDrive\\0001"});
  Sweep();
  EXPECT_NE(KeyExists(kFlop + "\\" + GetParam().name), GetParam().matches);
  EXPECT_NE(ClassKeyExists("DiskDrive\\0001"), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(Names, DeviceNameCases,
                         ::testing::Values(NameCase{"KELMORINUSB_FLOPPY_DISK", true},
                                           NameCase{"KELMORINUSB_FLOPPY_DISK&REV_0100", true},
                                           NameCase{"kelmorinusb_floppy_disk_0", false},
                                           NameCase{"KELMORINUSB_FLOPPY_DISk", false},
                                           NameCase{"KELMORINUSB_FLOPPY_DIS", false},
                                           NameCase{"XKELMORINUSB_FLOPPY_DISK", false}));

class DeviceIndexCases : public NamedDeviceTest, public ::testing::WithParamInterface<int> {};

// Keys "A000".. sort before the device, which lands at index `fillers`.
TEST_P(DeviceIndexCases, SearchesTheFirstHundredIndexes) {
  const int fillers = GetParam();
  for (int i = 0; i < fillers; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "A%03d", i);
    Reg().CreateKey(kFlop + "\\" + name);
  }
  AddDevice(kFlop, kDevice, {"DiskDrive\\0001"});
  Sweep();
  const bool found = fillers < 100;
  EXPECT_NE(KeyExists(kFlop + "\\" + kDevice), found);
  EXPECT_NE(ClassKeyExists("DiskDrive\\0001"), found);
  EXPECT_EQ(Reg().SubKeyNames(kFlop).size(), static_cast<std::size_t>(fillers) + !found);
}

INSTANTIATE_TEST_SUITE_P(Indexes, DeviceIndexCases, ::testing::Values(0, 99, 100));

TEST_F(NamedDeviceTest, DeviceSearchGoesPastFailingIndexes) {
  Reg().CreateKey(kFlop + "\\A000");
  Reg().CreateKey(kFlop + "\\A001");
  AddDevice(kFlop, kDevice, {"DiskDrive\\0001"});
  machine.AddFault({sim::Op::kRegEnumKey, kFlop, 1, kErrorAccessDenied});
  machine.AddFault({sim::Op::kRegEnumKey, kFlop, 2, kErrorAccessDenied});
  Sweep();
  EXPECT_FALSE(KeyExists(kFlop + "\\" + kDevice));
  EXPECT_FALSE(ClassKeyExists("DiskDrive\\0001"));
}

class InstanceFaultCases : public NamedDeviceTest, public ::testing::WithParamInterface<int> {};

// The instance loop ends at its first failing enumeration; the device key goes anyway.
TEST_P(InstanceFaultCases, InstanceLoopStopsAtItsFirstFailingIndex) {
  const int failing = GetParam();
  AddDevice(kFlop, kDevice, {"DiskDrive\\0000", "DiskDrive\\0001", "DiskDrive\\0002"});
  machine.AddFault({sim::Op::kRegEnumKey, kFlop + "\\" + kDevice, failing, kErrorAccessDenied});
  Sweep();
  EXPECT_FALSE(KeyExists(kFlop + "\\" + kDevice));
  EXPECT_EQ(ClassKeyExists("DiskDrive\\0000"), failing == 1);
  EXPECT_EQ(ClassKeyExists("DiskDrive\\0001"), failing <= 2);
  EXPECT_TRUE(ClassKeyExists("DiskDrive\\0002"));
}

INSTANTIATE_TEST_SUITE_P(Faults, InstanceFaultCases, ::testing::Values(1, 2, 3));

TEST_F(NamedDeviceTest, DeviceKeyThatCannotBeOpenedIsStillDeleted) {
  AddDevice(kFlop, kDevice, {"DiskDrive\\0001"});
  machine.AddFault({sim::Op::kRegOpenKey, kFlop + "\\" + kDevice, 0, kErrorAccessDenied});
  Sweep();
  EXPECT_FALSE(KeyExists(kFlop + "\\" + kDevice));
  EXPECT_TRUE(ClassKeyExists("DiskDrive\\0001"));
}

TEST_F(NamedDeviceTest, BranchThatCannotBeOpenedIsLeftAlone) {
  AddDevice(kFlop, kDevice, {"DiskDrive\\0001"});
  machine.AddFault({sim::Op::kRegOpenKey, kFlop, 0, kErrorAccessDenied});
  Sweep();
  EXPECT_TRUE(KeyExists(kFlop + "\\" + kDevice + "\\0000"));
  EXPECT_TRUE(ClassKeyExists("DiskDrive\\0001"));
}

TEST_F(NamedDeviceTest, MissingDriverOrClassKeySkipsOnlyThatInstance) {
  AddDevice(kFlop, kDevice, {"DiskDrive\\0000", "DiskDrive\\0001", "DiskDrive\\0002"});
  const std::string device = kFlop + "\\" + kDevice;
  Reg().SetValue(device + "\\0000", "Driver", kRegExpandSz, {'x', 0});
  Reg().SetString(device + "\\0001", "Driver", "DiskDrive\\0009");
  Sweep();
  EXPECT_TRUE(ClassKeyExists("DiskDrive\\0000"));
  EXPECT_TRUE(ClassKeyExists("DiskDrive\\0001"));
  EXPECT_FALSE(ClassKeyExists("DiskDrive\\0002"));
  EXPECT_FALSE(KeyExists(device));
}

class DriverValueCases : public NamedDeviceTest,
                         public ::testing::WithParamInterface<const char*> {};

// Whatever "Driver" holds, only one instance below one class can go: never the
// class root, a whole class, or a key further down.
TEST_P(DriverValueCases, DriverNotNamingOneClassInstanceDeletesNothing) {
  for (const char* key : {"DiskDrive\\0000", "fdc\\0000", "a\\b\\c"}) {
    Reg().SetString(kClass + "\\" + key, "Class", "x");
  }
  const std::string device = kFlop + "\\" + kDevice;
  Reg().SetString(device + "\\0000", "Driver", GetParam());
  std::vector<std::string> expected;
  for (const std::string& key : Reg().AllKeys()) {
    if (key != device && key != device + "\\0000") expected.push_back(key);
  }
  Sweep();
  EXPECT_EQ(Reg().AllKeys(), expected);
}

INSTANTIATE_TEST_SUITE_P(Values, DriverValueCases,
                         ::testing::Values("", "\\", "fdc", "\\0000", "fdc\\", "fdc\\\\0000",
                                           "a\\b\\c", "\\fdc\\0000", "..\\..\\Enum"));

struct DoubleByteCase {
  std::uint32_t ansiCodePage;
  const char* driver;
  bool classKeyDeleted;
};

class DoubleByteDriverCases : public NamedDeviceTest,
                              public ::testing::WithParamInterface<DoubleByteCase> {};

// 0x95 0x5C is one character of code page 932: its second byte is no
// separator there, but is one where 0x95 is a character of its own.
TEST_P(DoubleByteDriverCases, ReadsDriverCharacterByCharacter) {
  machine.Config().ansiCodePage = GetParam().ansiCodePage;
  AddDevice(kFlop, kDevice, {GetParam().driver});
  Sweep();
  EXPECT_EQ(GetParam().classKeyDeleted, !ClassKeyExists(GetParam().driver));
}

INSTANTIATE_TEST_SUITE_P(CodePages, DoubleByteDriverCases,
                         ::testing::Values(DoubleByteCase{932, "fdc\x95\\X", false},
                                           DoubleByteCase{1252, "fdc\x95\\X", true},
                                           DoubleByteCase{932, "fdc\x95\\\\0001", true}));

TEST_F(NamedDeviceTest, DriverTooLongForTheClassKeyIsSkippedNotCut) {
  const std::string device = kFlop + "\\" + kDevice;
  const std::string longDriver = "DiskDrive\\" + std::string(480, 'x');
  // Where a class key cut to the buffer would point.
  const std::string cutKey = kClass + "\\" + longDriver.substr(0, 511 - kClass.size() - 1);
  Reg().SetString(cutKey, "Class", "x");
  Reg().SetString(device + "\\0000", "Driver", longDriver);
  Reg().SetString(device + "\\0001", "Driver", "DiskDrive\\0001");
  Reg().SetString(kClass + "\\DiskDrive\\0001", "Class", "x");
  Sweep();
  EXPECT_TRUE(KeyExists(cutKey));
  EXPECT_FALSE(ClassKeyExists("DiskDrive\\0001"));
  EXPECT_FALSE(KeyExists(device));
}

TEST_F(NamedDeviceTest, InstanceKeyTooLongForThePathBufferIsSkipped) {
  const std::string longDevice = "KELMORINUSB_FLOPPY_DISK" + std::string(227, 'D');
  const std::string device = kFlop + "\\" + longDevice;
  // 9 + 1 + 250 + 1 + 255 bytes do not fit in 511.
  Reg().SetString(device + "\\" + std::string(255, 'i'), "Driver", "DiskDrive\\0000");
  Reg().SetString(device + "\\0000", "Driver", "DiskDrive\\0001");
  Reg().SetString(kClass + "\\DiskDrive\\0000", "Class", "x");
  Reg().SetString(kClass + "\\DiskDrive\\0001", "Class", "x");
  Sweep();
  EXPECT_TRUE(ClassKeyExists("DiskDrive\\0000"));
  EXPECT_FALSE(ClassKeyExists("DiskDrive\\0001"));
  EXPECT_FALSE(KeyExists(device));
}

}  // namespace
}  // namespace uninst::test
