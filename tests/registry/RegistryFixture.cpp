#include "tests/registry/RegistryFixture.h"

#include <cstdlib>

namespace uninst::test {

ScratchFolder::ScratchFolder() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "uninst-registry-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create " << pattern;
  m_path = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

RegistryTest::RegistryTest() {
  machine.MapDrive('C', scratch.Path());
  run.windowsDirectory = "C:\\WINDOWS";
}

void RegistryTest::TearDown() { EXPECT_EQ(machine.OpenHandleCount(), 0u); }

void RegistryTest::Confirm(std::vector<int> answers) {
  app.m_confirmSwitch = 1;
  app.m_languageBase = 50;
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
