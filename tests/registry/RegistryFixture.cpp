#include "tests/registry/RegistryFixture.h"

#include "res/Messages.h"

namespace uninst::test {

RegistryTest::RegistryTest() {
  machine.MapDrive('C', scratch.Path());
  run.windowsDirectory = "C:\\WINDOWS";
}

void RegistryTest::TearDown() { EXPECT_EQ(machine.OpenHandleCount(), 0u); }

void RegistryTest::Confirm(std::vector<int> answers) {
  run.confirmSwitch = 1;
  run.languageBase = kLanguageBaseEnglish;
  machine.SetAnswers(std::move(answers));
}

std::vector<std::string> OfferedFiles(const sim::SimMachine& machine) {
  std::vector<std::string> files;
  for (const sim::MessageBoxRecord& box : machine.Boxes()) {
    if (box.style != (kMbYesNoCancel | kMbIconQuestion)) continue;
    files.push_back(box.text.substr(0, box.text.find(":\n")));
  }
  return files;
}

}  // namespace uninst::test
