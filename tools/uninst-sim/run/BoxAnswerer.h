// Answers the program's message boxes: from a list first, then from the
// person at the terminal.
#pragma once

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
  // `keys` is null when nobody is there to ask.
  BoxAnswerer(std::vector<int> answers, std::istream* keys, std::ostream& out);

  int Answer(const sim::MessageBoxRecord& box);
  // What went wrong with answers, one line each.
  const std::vector<std::string>& Warnings() const { return m_warnings; }

 private:
  void Show(const sim::MessageBoxRecord& box);
  int AnswerFromList(const std::vector<int>& buttons);
  int AnswerFromKeys(const std::vector<int>& buttons);

  std::vector<int> m_answers;
  std::size_t m_next = 0;
  std::istream* m_keys;
  std::ostream& m_out;
  int m_boxNumber = 0;
  std::vector<std::string> m_warnings;
};

}  // namespace uninst::tool
