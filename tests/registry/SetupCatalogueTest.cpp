#include <string>
#include <vector>

#include "registry/SetupCatalogue.h"
#include "tests/registry/RegistryFixture.h"

namespace uninst::test {
namespace {

const std::string kOemName =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\INF\\OEM Name";
const std::string kCatalogs =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\Catalogs";
const std::vector<std::string> kInfPaths = {
    "C:\\WINDOWS\\INF\\KMNUFD1.INF", "C:\\WINDOWS\\INF\\KMNUFD2.INF",
    "C:\\WINDOWS\\INF\\OTHER\\KELMORINKMNUFD1.INF", "C:\\WINDOWS\\INF\\OTHER\\KELMORINKMNUFD2.INF"};
const std::string kNeighbour = "C:\\WINDOWS\\INF\\OTHERMAKER.INF";

class SetupCatalogueTest : public RegistryTest {
 protected:
  SetupCatalogueTest() {
    for (const std::string& path : kInfPaths) {
      AddFile(path);
      Reg().SetString(kOemName, path, "Kelmorin");
    }
    Reg().SetString(kOemName, kNeighbour, "Other maker");
    Reg().SetString(kCatalogs, kNeighbour, "C:\\WINDOWS\\INF\\CATALOG\\OTHERMAKER.CAT");
    AddFile(kNeighbour);
    AddFile("C:\\WINDOWS\\INF\\CATALOG\\OTHERMAKER.CAT");
  }
  // Gives catalogued INF path k a "Catalogs" value naming an existing file.
  std::string AddCatalog(std::size_t k) {
    const std::string cat = "C:\\WINDOWS\\INF\\CATALOG\\KMNUFD" + std::to_string(k + 1) + ".CAT";
    Reg().SetString(kCatalogs, kInfPaths[k], cat);
    AddFile(cat);
    return cat;
  }
  void ExpectNeighboursKept() {
    EXPECT_TRUE(ValueExists(kOemName, kNeighbour));
    EXPECT_TRUE(ValueExists(kCatalogs, kNeighbour));
    EXPECT_TRUE(machine.FileExists(kNeighbour));
    EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\INF\\CATALOG\\OTHERMAKER.CAT"));
  }
};

TEST_F(SetupCatalogueTest, RemovesCatalogFilesAndInfFilesThenTheValues) {
  std::vector<std::string> expected;
  for (std::size_t k = 0; k < kInfPaths.size(); ++k) {
    expected.push_back(AddCatalog(k));
    expected.push_back(kInfPaths[k]);
  }
  Confirm(std::vector<int>(expected.size(), kIdYes));
  EXPECT_EQ(CleanSetupCatalogue(run), SweepOutcome::kGoOn);
  EXPECT_EQ(OfferedFiles(), expected);
  for (const std::string& file : expected) EXPECT_FALSE(machine.FileExists(file)) << file;
  for (const std::string& path : kInfPaths) {
    EXPECT_FALSE(ValueExists(kOemName, path));
    EXPECT_FALSE(ValueExists(kCatalogs, path));
  }
  ExpectNeighboursKept();
  EXPECT_TRUE(run.restartFlag);
}

TEST_F(SetupCatalogueTest, WithoutCatalogsValuesOnlyOemNameValuesGo) {
  EXPECT_EQ(CleanSetupCatalogue(run), SweepOutcome::kGoOn);
  for (const std::string& path : kInfPaths) {
    EXPECT_TRUE(machine.FileExists(path));
    EXPECT_FALSE(ValueExists(kOemName, path));
  }
  ExpectNeighboursKept();
  EXPECT_FALSE(run.restartFlag);
}

TEST_F(SetupCatalogueTest, ValueNamingItsOwnPathRemovesTheFileOnce) {
  Reg().SetString(kCatalogs, kInfPaths[0], kInfPaths[0]);
  Confirm({kIdYes, kIdYes});
  EXPECT_EQ(CleanSetupCatalogue(run), SweepOutcome::kGoOn);
  EXPECT_EQ(OfferedFiles(), std::vector<std::string>{kInfPaths[0]});
  EXPECT_FALSE(machine.FileExists(kInfPaths[0]));
  EXPECT_FALSE(ValueExists(kCatalogs, kInfPaths[0]));
}

TEST_F(SetupCatalogueTest, ValuesThatAreNoStringsAreLeftAlone) {
  const std::vector<std::uint8_t> data = {'C', ':', '\\', 'X', 0};
  Reg().SetValue(kOemName, kInfPaths[1], kRegBinary, data);
  Reg().SetValue(kCatalogs, kInfPaths[1], kRegBinary, data);
  AddFile("C:\\X");
  EXPECT_EQ(CleanSetupCatalogue(run), SweepOutcome::kGoOn);
  EXPECT_TRUE(machine.FileExists("C:\\X"));
  EXPECT_TRUE(machine.FileExists(kInfPaths[1]));
  EXPECT_TRUE(ValueExists(kOemName, kInfPaths[1]));
  EXPECT_TRUE(ValueExists(kCatalogs, kInfPaths[1]));
  EXPECT_FALSE(ValueExists(kOemName, kInfPaths[0]));
}

TEST_F(SetupCatalogueTest, MissingOemNameKeyStillCleansCatalogs) {
  Reg().DeleteKey(kOemName);
  AddCatalog(2);
  EXPECT_EQ(CleanSetupCatalogue(run), SweepOutcome::kGoOn);
  EXPECT_FALSE(ValueExists(kCatalogs, kInfPaths[2]));
  EXPECT_FALSE(machine.FileExists(kInfPaths[2]));
  EXPECT_TRUE(ValueExists(kCatalogs, kNeighbour));
}

TEST_F(SetupCatalogueTest, UnopenableKeyIsSkippedAndTheOtherCleaned) {
  AddCatalog(0);
  machine.AddFault({sim::Op::kRegOpenKeyEx, kOemName, 1, kErrorAccessDenied});
  EXPECT_EQ(CleanSetupCatalogue(run), SweepOutcome::kGoOn);
  for (const std::string& path : kInfPaths) EXPECT_TRUE(ValueExists(kOemName, path));
  EXPECT_FALSE(ValueExists(kCatalogs, kInfPaths[0]));
}

TEST_F(SetupCatalogueTest, CancelInTheFilePassDeletesNoValue) {
  const std::string cat = AddCatalog(0);
  AddCatalog(1);
  Confirm({kIdCancel});
  EXPECT_EQ(CleanSetupCatalogue(run), SweepOutcome::kCancelled);
  EXPECT_EQ(OfferedFiles(), std::vector<std::string>{cat});
  EXPECT_TRUE(machine.FileExists(cat));
  for (const std::string& path : kInfPaths) {
    EXPECT_TRUE(ValueExists(kOemName, path));
    EXPECT_TRUE(machine.FileExists(path));
  }
  EXPECT_TRUE(ValueExists(kCatalogs, kInfPaths[0]));
  EXPECT_TRUE(ValueExists(kCatalogs, kInfPaths[1]));
}

TEST_F(SetupCatalogueTest, PathsStayUnderCWindowsWhateverTheWindowsDirectory) {
  run.windowsDirectory = "D:\\WIN98";
  AddCatalog(3);
  Confirm({kIdNo, kIdNo});
  EXPECT_EQ(CleanSetupCatalogue(run), SweepOutcome::kGoOn);
  EXPECT_EQ(OfferedFiles(),
            (std::vector<std::string>{"C:\\WINDOWS\\INF\\CATALOG\\KMNUFD4.CAT", kInfPaths[3]}));
  EXPECT_FALSE(ValueExists(kCatalogs, kInfPaths[3]));
  EXPECT_FALSE(run.restartFlag);
}

}  // namespace
}  // namespace uninst::test
