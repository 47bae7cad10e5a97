#include "app/Switches.h"

#include "core/Text.h"

namespace uninst {

namespace {

// Character by character: the second byte of a double-byte character can
// look like a lower-case letter, and changing it would make another character.
void UpperCaseAscii(char* text, Platform& platform) {
  for (char* p = text; *p != '\0'; p = NextCharacter(p, platform)) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 0x20);
  }
}

void TakeSwitch(char* token, Switches& switches) {
  if (token[0] != '/' && token[0] != '-') return;
  switch (token[1]) {
    case 'D':
      switches.directoryGiven = true;
      switches.directory = token + 2;
      break;
    case 'E':
      switches.languageGiven = true;
      switches.japanese = false;
      break;
    case 'J':
      switches.languageGiven = true;
      switches.japanese = true;
      break;
    case 'V':
      switches.confirm = true;
      break;
    default:
      break;
  }
}

}  // namespace

Switches ReadSwitches(char* commandLine, Platform& platform) {
  Switches switches;
  UpperCaseAscii(commandLine, platform);
  char* p = commandLine;
  for (;;) {
    while (*p == ' ') ++p;
    if (*p == '\0') break;
    char* token = p;
    while (*p != '\0' && *p != ' ') ++p;
    const bool last = *p == '\0';
    *p = '\0';
    TakeSwitch(token, switches);
    if (last) break;
    ++p;
  }
  return switches;
}

}  // namespace uninst
