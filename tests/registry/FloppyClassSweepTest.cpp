#include <string>
#include <vector>

#include "registry/DeviceSweeps.h"
#include "tests/registry/RegistryFixture.h"

namespace uninst::test {
namespace {

const std::string kFdc = "System\\CurrentControlSet\\Services\\Class\\fdc";

class FloppyClassTest : public RegistryTest {
 protected:
  FloppyClassTest() {
    Reg().SetString(kFdc, "Class", "fdc");
    AddSubKey("0000", "FDC_DEV", "MSFDC.INF");
    AddSubKey("0001", "KMNCRN.DEV", "OEM1.INF");
    AddSubKey("0002", "kmncrn.dev", nullptr);
    AddSubKey("0003", nullptr, "OEM3.INF");
    Reg().SetValue(kFdc + "\\0004", "InfSection", kRegExpandSz,
                   {'K', 'M', 'N', 'C', 'R', 'N', '.', 'D', 'E', 'V', 0});
    AddSubKey("0005", "KMNCRN.DEV", "OEM5.INF");
  }
  void AddSubKey(const std::string& name, const char* section, const char* infPath) {
    Reg().SetString(kFdc + "\\" + name, "DriverDesc", "Floppy disk controller");
    if (section != nullptr) Reg().SetString(kFdc + "\\" + name, "InfSection", section);
    if (infPath != nullptr) {
      Reg().SetString(kFdc + "\\" + name, "InfPath", infPath);
      AddFile(std::string("C:\\WINDOWS\\INF\\") + infPath);
      AddFile(std::string("C:\\WINDOWS\\INF\\OTHER\\") + infPath);
    }
  }
};

TEST_F(FloppyClassTest, DeletesOnlyTheDrivesSubkeys) {
  EXPECT_EQ(SweepFloppyClass(run), SweepOutcome::kGoOn);
  EXPECT_EQ(Reg().SubKeyNames(kFdc), (std::vector<std::string>{"0000", "0003", "0004"}));
  EXPECT_TRUE(ValueExists(kFdc, "Class"));
  for (const char* gone : {"OEM1.INF", "OEM5.INF"}) {
    EXPECT_FALSE(machine.FileExists(std::string("C:\\WINDOWS\\INF\\") + gone));
    EXPECT_FALSE(machine.FileExists(std::string("C:\\WINDOWS\\INF\\OTHER\\") + gone));
  }
  for (const char* kept : {"MSFDC.INF", "OEM3.INF"}) {
    EXPECT_TRUE(machine.FileExists(std::string("C:\\WINDOWS\\INF\\") + kept));
  }
  EXPECT_TRUE(run.restartFlag);
}

TEST_F(FloppyClassTest, OffersTheCopiesFromTheLastSubkeyToTheFirst) {
  Confirm({kIdNo, kIdNo, kIdNo, kIdNo});
  EXPECT_EQ(SweepFloppyClass(run), SweepOutcome::kGoOn);
  EXPECT_EQ(OfferedFiles(),
            (std::vector<std::string>{
                "C:\\WINDOWS\\inf\\OEM5.INF", "C:\\WINDOWS\\inf\\other\\OEM5.INF",
                "C:\\WINDOWS\\inf\\OEM1.INF", "C:\\WINDOWS\\inf\\other\\OEM1.INF"}));
  EXPECT_EQ(Reg().SubKeyNames(kFdc), (std::vector<std::string>{"0000", "0003", "0004"}));
  EXPECT_FALSE(run.restartFlag);
}

TEST_F(FloppyClassTest, CancelKeepsTheSubkeyBeingHandledAndTheLowerOnes) {
  Confirm({kIdYes, kIdCancel});
  EXPECT_EQ(SweepFloppyClass(run), SweepOutcome::kCancelled);
  EXPECT_TRUE(KeyExists(kFdc + "\\0005"));
  EXPECT_TRUE(KeyExists(kFdc + "\\0001"));
  EXPECT_TRUE(KeyExists(kFdc + "\\0002"));
  EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\INF\\OEM5.INF"));
  EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\INF\\OTHER\\OEM5.INF"));
  EXPECT_TRUE(run.restartFlag);
}

TEST_F(FloppyClassTest, SubkeyCountFailureDeletesNothing) {
  machine.AddFault({sim::Op::kRegQueryInfoKey, kFdc, 0, kErrorAccessDenied});
  EXPECT_EQ(SweepFloppyClass(run), SweepOutcome::kGoOn);
  EXPECT_EQ(Reg().SubKeyNames(kFdc).size(), 6u);
}

TEST_F(FloppyClassTest, MissingClassKeyIsNoError) {
  Reg().DeleteKey(kFdc);
  EXPECT_EQ(SweepFloppyClass(run), SweepOutcome::kGoOn);
  EXPECT_TRUE(KeyExists("System\\CurrentControlSet\\Services\\Class"));
}

}  // namespace
}  // namespace uninst::test
