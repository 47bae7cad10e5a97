// Host-side helpers for tests that run the core against the simulated
// machine. Uses the host file system: not for tests built for Windows.
#pragma once

#include <string>

#include "platform/sim/SimMachine.h"

namespace uninst::testsupport {

// A fresh, empty host folder, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// A simulated machine whose drive C is a scratch folder that already holds
// the windows directory C:\WINDOWS (the machine's default configuration).
struct SimWorld {
  SimWorld();

  ScratchFolder driveC;
  sim::SimMachine machine;
};

}  // namespace uninst::testsupport
