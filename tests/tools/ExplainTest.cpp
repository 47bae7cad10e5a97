// Chains over what a registry.reg cannot hold: registry links of the NT family.
#include <gtest/gtest.h>

#include "app/UninstallApp.h"
#include "tests/support/SimFixture.h"
#include "tools/uninst-sim/run/Explain.h"

namespace uninst::tool {
namespace {

const Explanation* Find(const std::vector<Explanation>& explanations, const std::string& key) {
  for (const Explanation& explanation : explanations) {
    if (explanation.key == "HKEY_LOCAL_MACHINE\\" + key) return &explanation;
  }
  return nullptr;
}

TEST(Explain, NamesRegistryLinksThatWereNotFollowed) {
  testsupport::SimWorld world;
  sim::SimMachine& machine = world.machine;
  sim::Registry& registry = machine.GetRegistry();
  machine.Config().family = sim::WindowsFamily::kNt;
  registry.SetString("Software\\Other\\0000", "InfSection", "KMNCRN.DEV");
  ASSERT_TRUE(registry.CreateLink("Enum\\USB\\VID_0D7C&PID_FFFF\\Link", "Software\\Other"));
  ASSERT_TRUE(registry.CreateLink("System\\CurrentControlSet\\Services\\Class\\fdc\\0001",
                                  "Software\\Other\\0000"));
  machine.SetResponder([](const sim::MessageBoxRecord&) { return kIdYes; });
  RunExplainer explainer(machine.GetJournal(), 1252, true);
  machine.ObserveTrace([&explainer](const sim::TraceEntry& entry) { explainer.Take(entry); });
  UninstallApp app(machine);
  app.SetCommandLine("UNINST.EXE /E");
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
}

}  // namespace
}  // namespace uninst::tool
