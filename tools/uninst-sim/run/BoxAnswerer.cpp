#include "tools/uninst-sim/run/BoxAnswerer.h"

#include <algorithm>
#include <cctype>

#include "tools/uninst-sim/run/Report.h"

namespace uninst::tool {

namespace {

struct Button {
  int answer;
  const char* name;
  const char* label;  // as shown, with the key to press
  const char* key;
};
constexpr Button kButtons[] = {
    {kIdOk, "OK", "[Enter] OK", ""},
    {kIdYes, "Yes", "[Y]es", "y"},
    {kIdNo, "No", "[N]o", "n"},
    {kIdCancel, "Cancel", "[C]ancel", "c"},
};

const Button* FindButton(int answer) {
  for (const Button& button : kButtons) {
    if (button.answer == answer) return &button;
  }
  return nullptr;
}

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool Offers(const std::vector<int>& buttons, int answer) {
  return std::find(buttons.begin(), buttons.end(), answer) != buttons.end();
}

}  // namespace

const char* AnswerName(int answer) {
  const Button* button = FindButton(answer);
  return button != nullptr ? button->name : "(none)";
}

const char* IconNameOf(std::uint32_t style) {
  switch (style & 0xF0) {
    case kMbIconQuestion:
      return "question";
    case kMbIconWarning:
      return "warning";
    case kMbIconInformation:
      return "information";
    default:
      return "none";
  }
}

BoxAnswerer::BoxAnswerer(std::vector<int> answers, std::istream* keys, std::ostream& out,
                         bool quiet, const volatile std::sig_atomic_t* stop)
    : m_answers(std::move(answers)), m_keys(keys), m_out(out), m_quiet(quiet), m_stop(stop) {}

int BoxAnswerer::Answer(const sim::MessageBoxRecord& box) {
  ++m_boxNumber;
  const bool fromList = m_next < m_answers.size();
  const bool shown = !m_quiet || (!fromList && m_keys != nullptr);
  if (shown) Show(box);
  const std::vector<int> buttons = ButtonsOf(box.style);
  int answer = 0;
  if (fromList) {
    answer = AnswerFromList(buttons);
  } else if (m_keys != nullptr) {
    answer = AnswerFromKeys(buttons);
  } else {
    m_warnings.push_back("message box " + std::to_string(m_boxNumber) +
                         ": no answer left in --answers");
  }
  if (shown) m_out << "> " << AnswerName(answer) << "\n\n";
  return answer;
}

std::vector<std::string> BoxAnswerer::Warnings() const {
  std::vector<std::string> warnings = m_warnings;
  const bool stopped = m_stop != nullptr && *m_stop != 0;
  if (m_next < m_answers.size() && !stopped) {
    warnings.push_back("--answers gives " + std::to_string(m_answers.size()) + " answers for " +
                       std::to_string(m_boxNumber) + " message box" +
                       (m_boxNumber == 1 ? "" : "es") + ": " +
                       std::to_string(m_answers.size() - m_next) + " left over");
  }
  return warnings;
}

void BoxAnswerer::Show(const sim::MessageBoxRecord& box) {
  m_out << "+-- " << TerminalText(box.caption) << " (" << IconNameOf(box.style) << ")\n";
  std::size_t start = 0;
  while (start <= box.text.size()) {
    std::size_t end = box.text.find('\n', start);
    if (end == std::string::npos) end = box.text.size();
    m_out << "| " << TerminalText(box.text.substr(start, end - start)) << "\n";
    start = end + 1;
  }
  m_out << "+--";
  for (int answer : ButtonsOf(box.style)) m_out << " " << FindButton(answer)->label;
  m_out << "\n";
}

int BoxAnswerer::AnswerFromList(const std::vector<int>& buttons) {
  const int answer = m_answers[m_next++];
  if (Offers(buttons, answer)) return answer;
  m_warnings.push_back("message box " + std::to_string(m_boxNumber) + ": the answer " +
                       AnswerName(answer) + " from --answers is not one of its buttons");
  return 0;
}

int BoxAnswerer::AnswerFromKeys(const std::vector<int>& buttons) {
  std::string line;
  for (;;) {
    m_out << "? " << std::flush;
    if (!std::getline(*m_keys, line)) {
      m_keys = nullptr;
      if (m_stop != nullptr && *m_stop != 0) {
        m_out << "\n";
        return 0;
      }
      m_warnings.push_back("message box " + std::to_string(m_boxNumber) +
                           ": the terminal closed before an answer");
      return 0;
    }
    const std::string key = Lowered(line);
    for (int answer : buttons) {
      const Button* button = FindButton(answer);
      if (key == button->key || key == Lowered(button->name)) return answer;
    }
    m_out << "Please press";
    for (int answer : buttons) m_out << " " << FindButton(answer)->label;
    m_out << ", then Enter.\n";
  }
}

}  // namespace uninst::tool
