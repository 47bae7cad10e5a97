#include "app/Switches.h"

namespace uninst {

namespace {

void UpperCaseAscii(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
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

Switches ReadSwitches(char* commandLine) {
  Switches switches;
  UpperCaseAscii(commandLine);
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
