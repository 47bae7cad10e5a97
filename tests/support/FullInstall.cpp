#include "tests/support/FullInstall.h"

#include <gtest/gtest.h>

namespace uninst::test {

namespace {

const std::string kClass = "System\\CurrentControlSet\\Services\\Class";
const std::string kFdc = kClass + "\\fdc";
const std::string kDiskDrive = kClass + "\\DiskDrive";
const std::string kSetup = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX";
const std::string kOemName = kSetup + "\\INF\\OEM Name";
const std::string kCatalogs = kSetup + "\\Catalogs";
const std::string kWindows = "C:\\WINDOWS";
// Another program's keys that registry links below the drive's keys lead to.
const std::string kLinkTarget = "Software\\Elsewhere";
// 0x95 0x5C is one character of code page 932 whose second byte is a backslash.
const std::string kTrailBackslash = "\x95\\";

struct Seeder {
  sim::SimMachine& machine;
  FullInstall& install;

  sim::Registry& Reg() { return machine.GetRegistry(); }

  void File(const std::string& path) { machine.WriteFile(path, {'d', 'r', 'v'}); }

  // A device instance whose "Driver" names `classInstance`, a key of class
  // DiskDrive or fdc.
  void Instance(const std::string& instanceKey, const std::string& classInstance) {
    Reg().SetString(instanceKey, "Driver", classInstance);
    Reg().SetString(instanceKey, "DeviceDesc", "Floppy disk drive");
    Reg().SetString(kClass + "\\" + classInstance, "DriverDesc", "Floppy disk drive");
  }

  // A class key set up from `section`, with both INF copies of `infPath`.
  void SetUpFrom(const std::string& classKey, const std::string& section,
                 const std::string& infPath) {
    Reg().SetString(classKey, "InfSection", section);
    Reg().SetString(classKey, "InfPath", infPath);
    File(kWindows + "\\INF\\" + infPath);
    File(kWindows + "\\INF\\OTHER\\" + infPath);
  }

  // A link at `path` into the other program's keys; deleting the drive's
  // keys above it must leave that tree whole.
  void Link(const std::string& path) {
    EXPECT_TRUE(Reg().CreateLink(path, kLinkTarget)) << "links need an NT family machine";
  }

  void SeedLinkTarget() {
    Reg().SetString(kLinkTarget + "\\Settings\\Deep", "Owner", "Other program");
    install.keptKeys.push_back(kLinkTarget + "\\Settings\\Deep");
    install.keptValues.push_back({kLinkTarget + "\\Settings\\Deep", "Owner"});
  }

  void SeedNamedDevices() {
    const std::string flop = "Enum\\FLOP\\KELMORINUSB_FLOPPY_DISK&REV_0100";
    Instance(flop + "\\0000", "DiskDrive\\0003");
    Instance(flop + "\\0001", "DiskDrive\\0004");
    Link(flop + "\\0000\\Link");
    // Not a class\instance on code page 932: the class key of that name stays.
    const std::string notAnInstance = "fdc" + kTrailBackslash + "X";
    Instance(flop + "\\0002", notAnInstance);
    install.keptKeys.push_back(kClass + "\\" + notAnInstance);
    const std::string esdi = "Enum\\ESDI\\KELMORINUSB_FLOPPY_DISK_____1.00";
    Instance(esdi + "\\0000", "DiskDrive\\0005");
    Link(esdi + "\\Link");
    Instance("Enum\\FLOP\\GENERIC_NEC_FLOPPY_DISK_\\0000", "DiskDrive\\0000");
    Instance("Enum\\ESDI\\GENERIC_IDE__DISK_TYPE47_\\0000", "DiskDrive\\0001");
    Reg().SetString(kDiskDrive, "Class", "DiskDrive");
    install.removedKeys.insert(
        install.removedKeys.end(),
        {flop, esdi, kDiskDrive + "\\0003", kDiskDrive + "\\0004", kDiskDrive + "\\0005"});
    install.keptKeys.insert(install.keptKeys.end(),
                            {"Enum\\FLOP\\GENERIC_NEC_FLOPPY_DISK_\\0000",
                             "Enum\\ESDI\\GENERIC_IDE__DISK_TYPE47_\\0000", kDiskDrive,
                             kDiskDrive + "\\0000", kDiskDrive + "\\0001"});
  }

  void SeedUsbDevice(const std::string& branch, const std::string& classInstance,
                     const std::string& infPath) {
    Instance(branch + "\\5&2F1A&0&1", classInstance);
    Link(branch + "\\5&2F1A&0&1\\Link");
    SetUpFrom(kClass + "\\" + classInstance, "KMNCRN.DEV", infPath);
    Link(kClass + "\\" + classInstance + "\\Link");
    install.removedKeys.insert(install.removedKeys.end(), {branch, kClass + "\\" + classInstance});
    install.removedFiles.insert(
        install.removedFiles.end(),
        {kWindows + "\\inf\\" + infPath, kWindows + "\\inf\\other\\" + infPath});
  }

  void SeedUsbDevices() {
    Reg().SetString(kFdc, "Class", "fdc");
    SeedUsbDevice("Enum\\USB\\VID_0D7C&PID_FFFF", "fdc\\0002", "OEM0.INF");
    SeedUsbDevice("Enum\\USB\\VID_0D7C&PID_0000", "fdc\\0003", "OEM1.INF");
    Instance("Enum\\USB\\VID_0D7C&PID_0001\\5&2F1A&0&2", "Keyboard\\0000");
    Instance("Enum\\USB\\ROOT_HUB\\PCI&VEN_8086&DEV_7112\\0000", "USB\\0000");
    install.keptKeys.insert(
        install.keptKeys.end(),
        {"Enum\\USB\\VID_0D7C&PID_0001\\5&2F1A&0&2", kClass + "\\Keyboard\\0000",
         "Enum\\USB\\ROOT_HUB\\PCI&VEN_8086&DEV_7112\\0000", kClass + "\\USB\\0000"});
  }

  void SeedFloppyClass() {
    SetUpFrom(kFdc + "\\0000", "FDC", "MSFDC.INF");
    SetUpFrom(kFdc + "\\0001", "kmncrn.dev", "OEM2.INF");
    Link(kFdc + "\\0001\\Link");
    // A file name with a trail byte 0x5C is still a bare file name.
    const std::string doubleByteInf = kTrailBackslash + "OEM.INF";
    SetUpFrom(kFdc + "\\0004", "KMNCRN.DEV", doubleByteInf);
    install.removedKeys.insert(install.removedKeys.end(), {kFdc + "\\0001", kFdc + "\\0004"});
    install.removedFiles.insert(
        install.removedFiles.end(),
        {kWindows + "\\inf\\" + doubleByteInf, kWindows + "\\inf\\other\\" + doubleByteInf,
         kWindows + "\\inf\\OEM2.INF", kWindows + "\\inf\\other\\OEM2.INF"});
    install.keptKeys.insert(install.keptKeys.end(), {kFdc, kFdc + "\\0000"});
    install.keptValues.push_back({kFdc, "Class"});
    install.keptFiles.insert(install.keptFiles.end(),
                             {kWindows + "\\INF\\MSFDC.INF", kWindows + "\\INF\\OTHER\\MSFDC.INF"});
  }

  // Catalogue values for all four INF files in "OEM Name", and "Catalogs"
  // values for the first two; the other two INF files wait for the last phase.
  void SeedSetupCatalogue() {
    const std::string infs[] = {kWindows + "\\INF\\KMNUFD1.INF", kWindows + "\\INF\\KMNUFD2.INF",
                                kWindows + "\\INF\\OTHER\\KELMORINKMNUFD1.INF",
                                kWindows + "\\INF\\OTHER\\KELMORINKMNUFD2.INF"};
    for (const std::string& inf : infs) {
      Reg().SetString(kOemName, inf, "Kelmorin");
      install.removedValues.push_back({kOemName, inf});
    }
    for (int k = 0; k < 2; ++k) {
      const std::string cat = kWindows + "\\INF\\CATALOG\\KMNUFD" + std::to_string(k + 1) + ".CAT";
      Reg().SetString(kCatalogs, infs[k], cat);
      install.removedValues.push_back({kCatalogs, infs[k]});
      install.removedFiles.insert(install.removedFiles.end(), {cat, infs[k]});
    }
    const std::string other = kWindows + "\\INF\\OTHERMAKER.INF";
    Reg().SetString(kOemName, other, "Other maker");
    Reg().SetString(kCatalogs, other, kWindows + "\\INF\\CATALOG\\OTHERMAKER.CAT");
    install.keptValues.insert(install.keptValues.end(), {{kOemName, other}, {kCatalogs, other}});
    for (const std::string& file : {other, kWindows + "\\INF\\CATALOG\\OTHERMAKER.CAT"}) {
      File(file);
      install.keptFiles.push_back(file);
    }
  }

  // The driver file table; the catalogue files and the first two INF files
  // are gone before the last phase reaches them.
  void SeedDriverFiles() {
    const char* const table[] = {"SYSTEM\\USBFDD.SYS",
                                 "SYSTEM32\\DRIVERS\\USBFDD.SYS",
                                 "SYSTEM\\IOSUBSYS\\USBFDVXD.PDR",
                                 "INF\\USBFD1.INF",
                                 "INF\\USBFD2.INF",
                                 "INF\\KMNUSBFD.INF",
                                 "SYSTEM\\IOSUBSYS\\USBFDVSD.VXD",
                                 "SYSTEM\\IOSUBSYS\\KMNFD.VXD",
                                 "INF\\KMNUFD1.INF",
                                 "INF\\KMNUFD2.INF",
                                 "INF\\CATALOG\\KMNUFD1.CAT",
                                 "INF\\CATALOG\\KMNUFD2.CAT",
                                 "INF\\OTHER\\KELMORINKMNUFD1.INF",
                                 "INF\\OTHER\\KELMORINKMNUFD2.INF"};
    for (const char* entry : table) {
      const std::string path = kWindows + "\\" + entry;
      File(path);
      bool offeredBefore = false;
      for (const std::string& removed : install.removedFiles) offeredBefore |= removed == path;
      if (!offeredBefore) install.removedFiles.push_back(path);
    }
    for (const char* other : {"SYSTEM\\IOSUBSYS\\OTHER.VXD", "SYSTEM32\\DRIVERS\\FLPYDISK.SYS"}) {
      const std::string path = kWindows + "\\" + other;
      File(path);
      install.keptFiles.push_back(path);
    }
  }
};

}  // namespace

FullInstall SeedFullInstall(sim::SimMachine& machine) {
  FullInstall install;
  // Double-byte names are read as such on a Japanese system only.
  machine.Config().ansiCodePage = 932;
  Seeder seeder{machine, install};
  seeder.SeedLinkTarget();
  seeder.SeedNamedDevices();
  seeder.SeedUsbDevices();
  seeder.SeedFloppyClass();
  seeder.SeedSetupCatalogue();
  seeder.SeedDriverFiles();
  return install;
}

}  // namespace uninst::test
