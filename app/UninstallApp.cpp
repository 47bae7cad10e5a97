#include "app/UninstallApp.h"

#include "files/RemoveFileConfirmed.h"

namespace uninst {

void UninstallApp::SetCommandLine(const char* commandLine) {
  if (!CopyBounded(m_commandLine, sizeof m_commandLine, commandLine)) m_commandLine[0] = '\0';
}

int UninstallApp::RemoveFileConfirmed(const char* path) {
  return uninst::RemoveFileConfirmed(m_context, path);
}

}  // namespace uninst
