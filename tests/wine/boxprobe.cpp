// A stand-in program for testing the responder: shows one message box per
// argument (the argument is the box's style in hex) and exits with the
// answers as decimal digits, so that a test can tell which button was clicked.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  int answers = 0;
  for (int i = 1; i < argc; ++i) {
    const UINT style = static_cast<UINT>(std::strtoul(argv[i], nullptr, 16));
    // Non-ASCII text checks that captions and texts arrive as UTF-8.
    const int answer = MessageBoxW(nullptr, L"Probe \"text\"\n\tsecond line \u30c6\u30b9\u30c8",
                                   L"Probe caption \u30d7\u30ed\u30fc\u30d6", style);
    answers = answers * 10 + answer;
  }
  return answers;
}
