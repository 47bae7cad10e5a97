#include <string>
#include <vector>

#include "registry/DeviceSweeps.h"
#include "tests/registry/RegistryFixture.h"

namespace uninst::test {
namespace {

const std::string kBranch = "Enum\\USB\\VID_0D7C&PID_FFFF";
const std::string kClass = "System\\CurrentControlSet\\Services\\Class";

class VendorProductTest : public RegistryTest {
 protected:
  // Instance `instance` of the branch pointing at class key fdc\`classInstance`,
  // set up from `section` with INF copies of `infPath` (both omitted when null).
  void AddInstance(const std::string& instance, const std::string& classInstance,
                   const char* section, const char* infPath) {
    Reg().SetString(kBranch + "\\" + instance, "Driver", "fdc\\" + classInstance);
    const std::string classKey = kClass + "\\fdc\\" + classInstance;
    Reg().SetString(classKey, "DriverDesc", "Floppy");
    if (section != nullptr) Reg().SetString(classKey, "InfSection", section);
    if (infPath != nullptr) {
      Reg().SetString(classKey, "InfPath", infPath);
      AddFile(std::string("C:\\WINDOWS\\INF\\") + infPath);
      AddFile(std::string("C:\\WINDOWS\\INF\\OTHER\\") + infPath);
    }
  }
  SweepOutcome Sweep() { return SweepVendorProduct(run, kBranch.c_str()); }
  bool Copies(const std::string& infPath, bool first, bool second) {
    return machine.FileExists("C:\\WINDOWS\\INF\\" + infPath) == first &&
           machine.FileExists("C:\\WINDOWS\\INF\\OTHER\\" + infPath) == second;
  }
};

TEST_F(VendorProductTest, EmptyBranchIsDeleted) {
  Reg().CreateKey(kBranch);
  Reg().CreateKey("Enum\\USB\\VID_0D7C&PID_0000");
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_FALSE(KeyExists(kBranch));
  EXPECT_TRUE(KeyExists("Enum\\USB\\VID_0D7C&PID_0000"));
}

TEST_F(VendorProductTest, MissingBranchChangesNothing) {
  Reg().CreateKey("Enum\\USB");
  const std::vector<std::string> before = Reg().AllKeys();
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_EQ(Reg().AllKeys(), before);
}

struct SectionCase {
  const char* name;
  const char* section;  // null: no "InfSection"
  bool isDrive;
};

class InfSectionCases : public VendorProductTest,
                        public ::testing::WithParamInterface<SectionCase> {};

TEST_P(InfSectionCases, ClassAndInstanceGoWhileFilesGoOnlyForTheDrive) {
  AddInstance("0000", "0001", GetParam().section, "OEM5.INF");
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_FALSE(KeyExists(kClass + "\\fdc\\0001"));
  EXPECT_FALSE(KeyExists(kBranch));
  EXPECT_TRUE(KeyExists(kClass + "\\fdc"));
  const bool kept = !GetParam().isDrive;
  EXPECT_TRUE(Copies("OEM5.INF", kept, kept));
  EXPECT_EQ(run.restartFlag, GetParam().isDrive);
}

INSTANTIATE_TEST_SUITE_P(Sections, InfSectionCases,
                         ::testing::Values(SectionCase{"Exact", "KMNCRN.DEV", true},
                                           SectionCase{"LowerCase", "kmncrn.dev", true},
                                           SectionCase{"MixedCase", "KmnCrn.Dev", true},
                                           SectionCase{"TrailingBlank", "KMNCRN.DEV ", false},
                                           SectionCase{"Shorter", "KMNCRN.DE", false},
                                           SectionCase{"Longer", "KMNCRN.DEV2", false},
                                           SectionCase{"Other", "FLOPPY_DEV", false},
                                           SectionCase{"Empty", "", false},
                                           SectionCase{"Missing", nullptr, false}),
                         [](const ::testing::TestParamInfo<SectionCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(VendorProductTest, MatchWithoutInfPathRemovesNoFile) {
  AddInstance("0000", "0001", "KMNCRN.DEV", nullptr);
  AddFile("C:\\WINDOWS\\INF\\OEM5.INF");
  Confirm({kIdYes, kIdYes});
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_TRUE(machine.Boxes().empty());
  EXPECT_FALSE(KeyExists(kClass + "\\fdc\\0001"));
  EXPECT_FALSE(KeyExists(kBranch));
  EXPECT_FALSE(run.restartFlag);
}

class InfPathCases : public VendorProductTest, public ::testing::WithParamInterface<const char*> {};

// An "InfPath" that is not a bare file name could reach files outside the INF
// directories; it removes nothing, yet the keys go as for a missing one.
TEST_P(InfPathCases, InfPathThatIsNoBareFileNameRemovesNothing) {
  AddInstance("0000", "0001", "KMNCRN.DEV", nullptr);
  Reg().SetString(kClass + "\\fdc\\0001", "InfPath", GetParam());
  for (const char* file : {"C:\\WINDOWS\\X.INF", "C:\\WINDOWS\\INF\\X.INF", "C:\\X.INF",
                           "C:\\WINDOWS\\INF\\OTHER\\X.INF"}) {
    AddFile(file);
  }
  Confirm({kIdYes, kIdYes, kIdYes, kIdYes});
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_TRUE(machine.Boxes().empty());
  EXPECT_FALSE(KeyExists(kClass + "\\fdc\\0001"));
  EXPECT_FALSE(KeyExists(kBranch));
}

INSTANTIATE_TEST_SUITE_P(Values, InfPathCases,
                         ::testing::Values("", ".", "..", "..\\X.INF", "OTHER\\X.INF",
                                           "OTHER/X.INF", "C:\\X.INF", "C:X.INF",
                                           "\\WINDOWS\\X.INF"));

TEST_F(VendorProductTest, InfPathTooLongForTheBufferRemovesNothing) {
  const std::string name = std::string(490, 'n') + ".INF";
  AddInstance("0000", "0001", "KMNCRN.DEV", nullptr);
  Reg().SetString(kClass + "\\fdc\\0001", "InfPath", name);
  Confirm({kIdYes, kIdYes});
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_TRUE(machine.Boxes().empty());
  EXPECT_FALSE(KeyExists(kClass + "\\fdc\\0001"));
}

TEST_F(VendorProductTest, CancelAtTheFirstCopyKeepsTheKeysBeingHandled) {
  AddInstance("0000", "0001", "KMNCRN.DEV", "OEM5.INF");
  Confirm({kIdCancel});
  EXPECT_EQ(Sweep(), SweepOutcome::kCancelled);
  EXPECT_EQ(OfferedFiles(), std::vector<std::string>{"C:\\WINDOWS\\inf\\OEM5.INF"});
  EXPECT_TRUE(Copies("OEM5.INF", true, true));
  EXPECT_TRUE(KeyExists(kClass + "\\fdc\\0001"));
  EXPECT_TRUE(KeyExists(kBranch + "\\0000"));
  EXPECT_FALSE(run.restartFlag);
}

TEST_F(VendorProductTest, BothCopiesAreOfferedInOrder) {
  AddInstance("0000", "0001", "KMNCRN.DEV", "OEM5.INF");
  Confirm({kIdNo, kIdNo});
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_EQ(OfferedFiles(), (std::vector<std::string>{"C:\\WINDOWS\\inf\\OEM5.INF",
                                                      "C:\\WINDOWS\\inf\\other\\OEM5.INF"}));
  EXPECT_TRUE(Copies("OEM5.INF", true, true));
  EXPECT_FALSE(run.restartFlag);
  EXPECT_FALSE(KeyExists(kBranch));
}

TEST_F(VendorProductTest, YesForOneCopySetsTheRestartFlag) {
  AddInstance("0000", "0001", "KMNCRN.DEV", "OEM5.INF");
  Confirm({kIdNo, kIdYes});
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_TRUE(Copies("OEM5.INF", true, false));
  EXPECT_TRUE(run.restartFlag);
}

TEST_F(VendorProductTest, CopiesFollowTheWindowsDirectory) {
  run.windowsDirectory = "C:\\WIN98";
  AddInstance("0000", "0001", "KMNCRN.DEV", "OEM5.INF");
  AddFile("C:\\WIN98\\INF\\OEM5.INF");
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_FALSE(machine.FileExists("C:\\WIN98\\INF\\OEM5.INF"));
  EXPECT_TRUE(Copies("OEM5.INF", true, true));
}

TEST_F(VendorProductTest, InstancesAreVisitedFromTheLastToTheFirst) {
  AddInstance("0000", "0000", "KMNCRN.DEV", "A.INF");
  AddInstance("0001", "0001", "KMNCRN.DEV", "B.INF");
  AddInstance("0002", "0002", "KMNCRN.DEV", "C.INF");
  Confirm({kIdYes, kIdYes, kIdYes, kIdYes, kIdYes, kIdYes});
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_EQ(OfferedFiles(), (std::vector<std::string>{
                                "C:\\WINDOWS\\inf\\C.INF", "C:\\WINDOWS\\inf\\other\\C.INF",
                                "C:\\WINDOWS\\inf\\B.INF", "C:\\WINDOWS\\inf\\other\\B.INF",
                                "C:\\WINDOWS\\inf\\A.INF", "C:\\WINDOWS\\inf\\other\\A.INF"}));
  EXPECT_FALSE(KeyExists(kBranch));
  EXPECT_TRUE(Reg().SubKeyNames(kClass + "\\fdc").empty());
  EXPECT_TRUE(run.restartFlag);
}

TEST_F(VendorProductTest, FailingEnumerationSkipsOnlyThatIndex) {
  AddInstance("0000", "0000", "OTHER", nullptr);
  AddInstance("0001", "0001", "OTHER", nullptr);
  machine.AddFault({sim::Op::kRegEnumKey, kBranch, 1, kErrorAccessDenied});
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_TRUE(KeyExists(kClass + "\\fdc\\0001"));
  EXPECT_FALSE(KeyExists(kClass + "\\fdc\\0000"));
  EXPECT_FALSE(KeyExists(kBranch));
}

TEST_F(VendorProductTest, SubkeyCountFailureStillDeletesTheBranch) {
  AddInstance("0000", "0001", "OTHER", nullptr);
  machine.AddFault({sim::Op::kRegQueryInfoKey, kBranch, 0, kErrorAccessDenied});
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_FALSE(KeyExists(kBranch));
  EXPECT_TRUE(KeyExists(kClass + "\\fdc\\0001"));
}

TEST_F(VendorProductTest, InstanceWithoutUsableDriverIsDeletedAlone) {
  AddInstance("0000", "0001", "KMNCRN.DEV", "OEM5.INF");
  AddInstance("0001", "0002", "KMNCRN.DEV", "OEM6.INF");
  Reg().SetString(kBranch + "\\0000", "Driver", "fdc\\0009");  // no such class key
  Reg().SetString(kBranch + "\\0001", "Driver", "fdc");        // a whole class
  EXPECT_EQ(Sweep(), SweepOutcome::kGoOn);
  EXPECT_FALSE(KeyExists(kBranch));
  EXPECT_TRUE(KeyExists(kClass + "\\fdc\\0001"));
  EXPECT_TRUE(KeyExists(kClass + "\\fdc\\0002"));
  EXPECT_TRUE(Copies("OEM5.INF", true, true));
  EXPECT_TRUE(Copies("OEM6.INF", true, true));
}

}  // namespace
}  // namespace uninst::test
