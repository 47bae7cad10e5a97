#include "tests/support/SimFixture.h"

#include <cstdlib>
#include <filesystem>

namespace uninst::testsupport {

ScratchFolder::ScratchFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/uninst-sim-XXXXXX";
  if (::mkdtemp(pattern.data())) m_path = pattern;
}

ScratchFolder::~ScratchFolder() {
  if (m_path.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(m_path, error);
}

SimWorld::SimWorld() {
  machine.MapDrive('C', driveC.Path());
  std::error_code error;
  std::filesystem::create_directories(machine.CreateHostPath("C:\\WINDOWS"), error);
}

}  // namespace uninst::testsupport
