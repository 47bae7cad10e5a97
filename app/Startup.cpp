#include "app/Startup.h"

#include "core/Text.h"

namespace uninst {

namespace {

unsigned char ByteAt(const char* p) { return static_cast<unsigned char>(*p); }

}  // namespace

const char* StripProgramName(const char* commandLine, Platform& platform) {
  const char* p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') p = NextCharacter(p, platform);
    if (*p == '"') ++p;
  } else {
    while (ByteAt(p) > 0x20) p = NextCharacter(p, platform);
  }
  while (*p != '\0' && ByteAt(p) <= 0x20) ++p;
  return p;
}

int RunApplication(UninstallApp& app) {
  Platform& platform = app.Context().platform;
  // Failing operations just return their error: no critical-error box, no
  // file-open error box.
  const std::uint32_t previous = platform.SetErrorMode(0);
  platform.SetErrorMode(previous | kSemFailCriticalErrors | kSemNoOpenFileErrorBox);
  app.SetCommandLine(StripProgramName(platform.GetCommandLine(), platform));
  app.InitInstance();
  return 0;
}

}  // namespace uninst
