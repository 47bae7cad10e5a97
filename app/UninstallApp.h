// The application object: everything the uninstaller does happens inside one
// call of InitInstance.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/Text.h"
#include "platform/Platform.h"

namespace uninst {

class UninstallApp {
 public:
  static constexpr std::size_t kPathBufferSize = 512;
  // Windows passes at most 32767 UTF-16 characters, which a double-byte
  // code page can make 65534 bytes, and the terminator.
  static constexpr std::size_t kCommandLineSize = 65535;

  explicit UninstallApp(Platform& platform) : m_platform(platform) {}
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

  // Replaces `holder` with message n in the run's language.
  bool LoadMessage(Text& holder, int number);
  // Shows the message text under the caption.
  int ShowMessage(std::uint32_t style);

  Platform& GetPlatform() { return m_platform; }

  char m_pathBuffer[kPathBufferSize] = {};
  Text m_formatText;
  Text m_messageText;
  Text m_caption;
  std::int32_t m_languageBase = 0;
  std::int32_t m_confirmSwitch = 0;

 private:
  Platform& m_platform;
  char m_commandLine[kCommandLineSize] = {};
};

}  // namespace uninst
