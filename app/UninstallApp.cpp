#include "app/UninstallApp.h"

namespace uninst {

void UninstallApp::SetCommandLine(const char* commandLine) {
  if (!CopyBounded(m_commandLine, sizeof m_commandLine, commandLine)) m_commandLine[0] = '\0';
}

bool UninstallApp::LoadMessage(Text& holder, int number) {
  const int length = m_platform.LoadString(static_cast<std::uint32_t>(m_languageBase + number),
                                           holder.Buffer(), static_cast<int>(Text::kCapacity));
  holder.SetLength(length > 0 ? static_cast<std::size_t>(length) : 0);
  return length > 0;
}

int UninstallApp::ShowMessage(std::uint32_t style) {
  return m_platform.MessageBox(m_messageText.Get(), m_caption.Get(), style);
}

}  // namespace uninst
