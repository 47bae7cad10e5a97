// Why each key, value and file of a run was removed, or looked at and kept:
// the chain of sweep, keys and values read that led there, read from the
// machine's trace of the program's calls and from the journal of its changes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/Journal.h"
#include "platform/sim/Trace.h"

namespace uninst::tool {

// A registry value's data: its bytes as stored, and, for a string, the text
// in UTF-8.
struct ValueData {
  std::uint32_t type = 0;
  std::string bytes;
  std::optional<std::string> text;
};

ValueData MakeValueData(std::uint32_t type, const std::string& bytes, std::uint32_t codePage);
// "REG_SZ", ...; "unknown" for a type Windows does not name.
const char* TypeName(std::uint32_t type);
// Two lowercase hexadecimal digits a byte, `separator` between them.
std::string HexBytes(const std::string& bytes, const char* separator);
// As regedit writes data: "text", dword:00000001, hex:01,02 or hex(7):...
std::string DataText(const ValueData& data);
// "HKEY_LOCAL_MACHINE\" and the path.
std::string FullKeyPath(const std::string& path);

// One link of a chain. Every text is UTF-8; keys carry their root.
struct ChainStep {
  std::string role;  // "named device sweep", "device key", "read", "file", ...
  std::string key;
  std::string valueName;          // a value read: its name
  std::optional<ValueData> data;  // a value read that succeeded
  std::string file;
  std::string note;  // why this link leads on
};
// Chains share their first steps, as keys below one key share its way there.
using Step = std::shared_ptr<const ChainStep>;
using Chain = std::vector<Step>;

struct Explanation {
  enum class Subject { kKey, kValue, kFile };
  enum class Verdict { kRemoved, kKept, kAbsent };
  Subject subject = Subject::kKey;
  std::string key;        // kKey, kValue
  std::string valueName;  // kValue
  std::string file;       // kFile
  Verdict verdict = Verdict::kRemoved;
  std::string reason;  // kKept, kAbsent: why
  Chain chain;
};

// Follows the trace of a run as the machine makes it (ObserveTrace) and
// gives each removal of the run's journal its chain.
class RunExplainer {
 public:
  // With `kept`, also what the sweeps looked at and left, and what they
  // looked for and did not find.
  RunExplainer(const sim::Journal& journal, std::uint32_t codePage, bool kept);
  ~RunExplainer();
  RunExplainer(const RunExplainer&) = delete;
  RunExplainer& operator=(const RunExplainer&) = delete;

  void Take(const sim::TraceEntry& entry);
  // The explanations, removals in the order they were made.
  std::vector<Explanation> Finish();

 private:
  class Builder;
  std::unique_ptr<Builder> m_builder;
};

std::string StepText(const ChainStep& step);
const char* SubjectName(Explanation::Subject subject);
const char* VerdictName(Explanation::Verdict verdict);
// The explanations sorted as the summary lists its changes.
std::string FormatExplanations(const std::vector<Explanation>& explanations);

}  // namespace uninst::tool
