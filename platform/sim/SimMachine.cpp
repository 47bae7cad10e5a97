#include "platform/sim/SimMachine.h"

#include <algorithm>
#include <cstring>

#include "platform/sim/CodePage.h"
#include "platform/sim/SimState.h"
#include "res/Catalogue.h"

namespace uninst::sim {
namespace {

// Fault paths match registry and file paths alike: component by component,
// letter case ignored, either separator.
std::string WithBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

bool SamePath(const std::string& a, const std::string& b, const NameRules& names) {
  const std::string first = WithBackslashes(a);
  const std::string second = WithBackslashes(b);
  const std::vector<std::string_view> x = names.Split(first);
  const std::vector<std::string_view> y = names.Split(second);
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (!names.Equal(x[i], y[i])) return false;
  }
  return true;
}

// The longest prefix of `text` within `capacity` bytes that splits no
// double-byte character.
std::size_t FitCharacters(const std::string& text, std::size_t capacity, const NameRules& names) {
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t length = names.IsLead(text[end]) ? 2 : 1;
    if (end + length > capacity) break;
    end += length;
  }
  return std::min(end, text.size());
}

}  // namespace

SimMachine::SimMachine() : m_state(std::make_unique<State>()), m_registry(&m_config) {
  m_state->config = &m_config;
}

SimMachine::~SimMachine() = default;

void SimMachine::SetResponder(Responder responder) { m_responder = std::move(responder); }

void SimMachine::SetAnswers(std::vector<int> answers) {
  m_answers = std::move(answers);
  m_nextAnswer = 0;
}

const Journal& SimMachine::GetJournal() const { return m_state->journal; }

void SimMachine::ObserveJournal(Journal::Observer observer) {
  m_state->journal.Observe(std::move(observer));
}

void SimMachine::KeepHostUnchanged() { m_state->hostUnchanged = true; }

void SimMachine::KeepDeletedFilesIn(UniqueFd folder) { m_state->keptDeletions = std::move(folder); }

void SimMachine::ObserveTrace(std::function<void(const TraceEntry&)> observer) {
  m_state->trace = std::move(observer);
}

void SimMachine::Note(TraceEntry entry) {
  if (!m_state->trace) return;
  const std::vector<JournalEntry>& journaled = m_state->journal.Entries();
  const bool deletion = entry.kind == TraceEntry::Kind::kKeyDeleted ||
                        entry.kind == TraceEntry::Kind::kValueDeleted ||
                        entry.kind == TraceEntry::Kind::kFileDeleted;
  if (deletion && entry.result == kErrorSuccess && !journaled.empty()) {
    entry.journalEntry = journaled.size() - 1;
  }
  m_state->trace(entry);
}

void SimMachine::AddFault(Fault fault) { m_state->faults.push_back({std::move(fault), 0}); }

void SimMachine::FailCallNumber(std::uint64_t n, long error) { m_state->failingCalls[n] = error; }

void SimMachine::KeepCallLog() {
  m_keepCallLog = true;
  m_callLog.clear();
  m_callLogFirst = m_callCount + 1;
}

std::optional<Op> SimMachine::OpOfCall(std::uint64_t n) const {
  if (!m_keepCallLog || n < m_callLogFirst || n - m_callLogFirst >= m_callLog.size()) {
    return std::nullopt;
  }
  return m_callLog[n - m_callLogFirst];
}

std::size_t SimMachine::OpenHandleCount() const {
  return m_state->keys.size() + m_state->files.size();
}

long SimMachine::LastError() const { return m_state->lastError; }

std::optional<long> SimMachine::Enter(Op op, const std::string& path) {
  ++m_callCount;
  if (m_keepCallLog) m_callLog.push_back(op);
  std::optional<long> error;
  const auto numbered = m_state->failingCalls.find(m_callCount);
  if (numbered != m_state->failingCalls.end()) error = numbered->second;
  if (m_stop && *m_stop) error = kErrorOperationAborted;
  for (State::ArmedFault& armed : m_state->faults) {
    const Fault& fault = armed.fault;
    if (fault.op != op || (!fault.path.empty() && !SamePath(fault.path, path, m_registry.Names())))
      continue;
    ++armed.matched;
    if (!error && (fault.nth == 0 || fault.nth == armed.matched)) error = fault.error;
  }
  // A fault always fails its call, even one armed with the code 0.
  if (error && *error == kErrorSuccess) error = kErrorAccessDenied;
  if (error) m_state->lastError = *error;
  return error;
}

std::uint32_t SimMachine::GetOEMCP() {
  if (Enter(Op::kGetOEMCP, "")) return 0;
  return m_config.oemCodePage;
}

std::uint32_t SimMachine::GetWindowsDirectory(char* buffer, std::uint32_t size) {
  if (Enter(Op::kGetWindowsDirectory, "")) return 0;
  if (!m_config.windowsDirectory || m_config.windowsDirectory->empty()) {
    m_state->lastError = kErrorFileNotFound;
    return 0;
  }
  const std::string& directory = *m_config.windowsDirectory;
  const std::uint32_t length = static_cast<std::uint32_t>(directory.size());
  // Too small a buffer is left alone; the result is the size it needs.
  if (!buffer || size <= length) return length + 1;
  std::memcpy(buffer, directory.c_str(), length + 1);
  return length;
}

std::uint32_t SimMachine::SetErrorMode(std::uint32_t mode) {
  if (Enter(Op::kSetErrorMode, "")) return 0;
  const std::uint32_t previous = m_errorMode;
  m_errorMode = mode;
  return previous;
}

bool SimMachine::IsDBCSLeadByte(std::uint8_t byte) {
  // A lookup in the code page's table, which cannot fail on Windows: an
  // injected fault changes nothing, since a wrong answer would split a
  // character that Windows reads whole.
  (void)Enter(Op::kIsDBCSLeadByte, "");
  return m_registry.Names().IsLead(static_cast<char>(byte));
}

const char* SimMachine::GetCommandLine() {
  // GetCommandLine cannot fail on Windows; an injected fault gives an empty
  // command line rather than a null pointer.
  if (Enter(Op::kGetCommandLine, "")) return "";
  return m_config.commandLine.c_str();
}

int SimMachine::MessageBox(const char* text, const char* caption, std::uint32_t style) {
  if (Enter(Op::kMessageBox, "")) return 0;
  MessageBoxRecord record{caption ? caption : "", text ? text : "", style, 0};
  if (m_responder) {
    record.answer = m_responder(record);
  } else if (m_nextAnswer < m_answers.size()) {
    record.answer = m_answers[m_nextAnswer++];
  }
  // Windows answers only with one of the box's buttons: any other answer
  // leaves the box as one that could not be shown.
  const std::vector<int> buttons = ButtonsOf(style);
  if (std::find(buttons.begin(), buttons.end(), record.answer) == buttons.end()) {
    record.answer = 0;
    ++m_unanswered;
  }
  m_boxes.push_back(record);
  TraceEntry answered;
  answered.kind = TraceEntry::Kind::kBoxAnswered;
  answered.result = record.answer;
  Note(std::move(answered));
  return record.answer;
}

bool SimMachine::ExitWindowsEx(std::uint32_t flags, std::uint32_t /*reserved*/) {
  if (Enter(Op::kExitWindowsEx, "")) return false;
  if (flags & kEwxReboot) m_restartRequested = true;
  return true;
}

int SimMachine::LoadString(std::uint32_t id, char* buffer, int size) {
  const bool failed = Enter(Op::kLoadString, "").has_value();
  if (!buffer || size <= 0) return 0;
  buffer[0] = '\0';
  if (failed) return 0;
  const char* text = CatalogueText(id);
  if (!text) {
    m_state->lastError = kErrorResourceNameNotFound;
    return 0;
  }
  // The resources hold Unicode; the "A" call gives them in the ANSI code page.
  const std::string ansi = Utf8ToCodePageLossy(m_config.ansiCodePage, text);
  const std::size_t length =
      FitCharacters(ansi, static_cast<std::size_t>(size) - 1, m_registry.Names());
  std::memcpy(buffer, ansi.data(), length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

}  // namespace uninst::sim
