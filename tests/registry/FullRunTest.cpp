// Whole runs over a fully installed machine: what stays, what goes, and in
// which order the files are offered; then the same run with each platform
// call in turn failing.
#include <cstdint>
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

// A machine with drive C and the full install, answering Yes to every box.
struct InstalledMachine {
  InstalledMachine() {
    machine.MapDrive('C', scratch.Path());
    install = SeedFullInstall(machine);
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

  ScratchFolder scratch;
  sim::SimMachine machine;
  FullInstall install;
  std::vector<std::string> survivors;
};

class FullRunCases : public ::testing::TestWithParam<const char*> {};

TEST_P(FullRunCases, LeavesExactlyWhatDoesNotBelongToTheDrive) {
  InstalledMachine m;
  EXPECT_FALSE(m.Uninstall(GetParam()));
  EXPECT_EQ(m.machine.GetRegistry().AllKeys(), m.survivors);
  m.ExpectNeighboursKept("");
  for (const auto& [key, name] : m.install.removedValues) {
    EXPECT_FALSE(m.machine.GetRegistry().GetValue(key, name).has_value()) << key << " " << name;
  }
  for (const std::string& file : m.install.removedFiles) {
    EXPECT_FALSE(m.machine.FileExists(file)) << file;
  }
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
// handle and never touches anything that is not the drive's. The sweep is the
// longest test by far: its odd and even calls are two suites, so that they
// run as two processes side by side.
class FaultSweep : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(FaultSweep, SurvivesAnySinglePlatformFailure) {
  std::uint64_t calls = 0;
  {
    InstalledMachine clean;
    const std::uint64_t before = clean.machine.CallCount();
    clean.Uninstall("/V /E");
    calls = clean.machine.CallCount() - before;
  }
  ASSERT_GT(calls, 50u);
  for (std::uint64_t n = GetParam(); n <= calls && !::testing::Test::HasFailure(); n += 2) {
    InstalledMachine m;
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

INSTANTIATE_TEST_SUITE_P(OddCalls, FaultSweep, ::testing::Values(1u));
INSTANTIATE_TEST_SUITE_P(EvenCalls, FaultSweep, ::testing::Values(2u));

}  // namespace
}  // namespace uninst::test
