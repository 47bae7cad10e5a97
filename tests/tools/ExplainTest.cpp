// Why a run left what a machine folder cannot show: registry links of the NT
// family and a file in use; and a file answered No.
#include <gtest/gtest.h>

#include "app/UninstallApp.h"
#include "tests/support/SimFixture.h"
#include "tools/uninst-sim/run/Explain.h"

namespace uninst::tool {
namespace {

// The explanation of the key below the root, or of the file, `name`.
const Explanation* Find(const std::vector<Explanation>& explanations, const std::string& name) {
  for (const Explanation& explanation : explanations) {
    if (explanation.key == "HKEY_LOCAL_MACHINE\\" + name || explanation.file == name) {
      return &explanation;
    }
  }
  return nullptr;
}

TEST(Explain, SaysWhyTheRunLeftWhatItLookedAt) {
  testsupport::SimWorld world;
  sim::SimMachine& machine = world.machine;
  sim::Registry& registry = machine.GetRegistry();
  machine.Config().family = sim::WindowsFamily::kNt;
  registry.SetString("Software\\Other\\0000", "InfSection", "KMNCRN.DEV");
  ASSERT_TRUE(registry.CreateLink("Enum\\USB\\VID_0D7C&PID_FFFF\\Link", "Software\\Other"));
  ASSERT_TRUE(registry.CreateLink("System\\CurrentControlSet\\Services\\Class\\fdc\\0001",
                                  "Software\\Other\\0000"));
  const std::string inUse = "C:\\WINDOWS\\SYSTEM\\USBFDD.SYS";
  const std::string refused = "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\KMNFD.VXD";
  machine.WriteFile(inUse, {1});
  machine.WriteFile(refused, {2});
  machine.SetInUse(inUse, true);
  machine.SetResponder([&refused](const sim::MessageBoxRecord& box) {
    return box.text.find(refused) != std::string::npos ? kIdNo : kIdYes;
  });
  RunExplainer explainer(machine.GetJournal(), 1252, true);
  machine.ObserveTrace([&explainer](const sim::TraceEntry& entry) { explainer.Take(entry); });
  UninstallApp app(machine);
  app.SetCommandLine("UNINST.EXE /E /V");
  EXPECT_FALSE(app.InitInstance());
  ASSERT_TRUE(registry.KeyExists("Software\\Other\\0000"));

  const std::vector<Explanation> explained = explainer.Finish();
  const Explanation* instance = Find(explained, "Enum\\USB\\VID_0D7C&PID_FFFF\\Link");
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->verdict, Explanation::Verdict::kRemoved);
  EXPECT_EQ(instance->chain.back()->role, "registry link");
  const Explanation* classKey =
      Find(explained, "System\\CurrentControlSet\\Services\\Class\\fdc\\0001");
  ASSERT_NE(classKey, nullptr);
  EXPECT_EQ(classKey->verdict, Explanation::Verdict::kKept);
  EXPECT_EQ(classKey->reason, "a registry link on its path: not followed");
  ASSERT_NE(Find(explained, inUse), nullptr);
  EXPECT_EQ(Find(explained, inUse)->reason, "in use: it cannot be opened");
  ASSERT_NE(Find(explained, refused), nullptr);
  EXPECT_EQ(Find(explained, refused)->reason, "answered No");
}

}  // namespace
}  // namespace uninst::tool
