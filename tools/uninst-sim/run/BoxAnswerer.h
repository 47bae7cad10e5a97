// Answers the program's message boxes: from a list first, then from the
// person at the terminal.
#pragma once

#include <csignal>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"

namespace uninst::tool {

// "Yes", "No", "Cancel", "OK", or "(none)" for 0.
const char* AnswerName(int answer);
// The buttons a box style offers, as answers: the simulated machine's.
using sim::ButtonsOf;
const char* IconNameOf(std::uint32_t style);

class BoxAnswerer {
 public:
  // `keys` is null when nobody is there to ask; `quiet` shows only the boxes
  // asked there. A signal noted in `stop` while the terminal is asked is no
  // answer, and nothing to warn about: the run says it was interrupted.
  BoxAnswerer(std::vector<int> answers, std::istream* keys, std::ostream& out, bool quiet = false,
              const volatile std::sig_atomic_t* stop = nullptr);

  int Answer(const sim::MessageBoxRecord& box);
  // What went wrong with answers, one line each, answers left over included.
  std::vector<std::string> Warnings() const;

 private:
  void Show(const sim::MessageBoxRecord& box);
  int AnswerFromList(const std::vector<int>& buttons);
  int AnswerFromKeys(const std::vector<int>& buttons);

  std::vector<int> m_answers;
  std::size_t m_next = 0;
  std::istream* m_keys;
  std::ostream& m_out;
  bool m_quiet;
  const volatile std::sig_atomic_t* m_stop;
  int m_boxNumber = 0;
  std::vector<std::string> m_warnings;
};

}  // namespace uninst::tool
