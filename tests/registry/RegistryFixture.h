// A simulated machine with drive C backed by a scratch folder and a run's
// context over it, for the registry cleanup tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/RunContext.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/SimFixture.h"

namespace uninst::test {

using testsupport::ScratchFolder;

// The files offered in removal questions, in the order they were asked about.
std::vector<std::string> OfferedFiles(const sim::SimMachine& machine);

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest();
  // Every key and file the code under test opened must be closed again.
  void TearDown() override;

  sim::Registry& Reg() { return machine.GetRegistry(); }
  bool KeyExists(const std::string& path) { return Reg().KeyExists(path); }
  bool ValueExists(const std::string& key, const std::string& name) {
    return Reg().GetValue(key, name).has_value();
  }
  void AddFile(const std::string& windowsPath) { machine.WriteFile(windowsPath, {'x'}); }
  // Turns the confirm switch on and scripts the answers of the questions.
  void Confirm(std::vector<int> answers);
  std::vector<std::string> OfferedFiles() const { return test::OfferedFiles(machine); }

  ScratchFolder scratch;
  sim::SimMachine machine;
  RunContext run{machine};
};

}  // namespace uninst::test
