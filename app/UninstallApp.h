// The application object: everything the uninstaller does happens inside one
// call of InitInstance.
#pragma once

#include <cstddef>

#include "core/RunContext.h"
#include "platform/Platform.h"

namespace uninst {

class UninstallApp {
 public:
  static constexpr std::size_t kPathBufferSize = RunContext::kPathBufferSize;
  // Windows passes at most 32767 UTF-16 characters, which a double-byte
  // code page can make 65534 bytes, and the terminator.
  static constexpr std::size_t kCommandLineSize = 65535;

  explicit UninstallApp(Platform& platform) : m_context(platform) {}
  UninstallApp(const UninstallApp&) = delete;
  UninstallApp& operator=(const UninstallApp&) = delete;

  // Takes the command-line text that follows the program name. A longer text
  // than Windows allows is refused and leaves the command line empty.
  void SetCommandLine(const char* commandLine);
  const char* CommandLine() const { return m_commandLine; }

  // The whole uninstall run; returns false on every path.
  bool InitInstance();

  // Removes one file, asking first when the confirm switch is on. Returns the
  // removal answer: kIdYes (deleted), kIdNo (nothing changed) or kIdCancel.
  [[nodiscard]] int RemoveFileConfirmed(const char* path);

  // What the run shares with its phases.
  RunContext& Context() { return m_context; }

 private:
  RunContext m_context;
  char m_commandLine[kCommandLineSize] = {};
};

}  // namespace uninst
