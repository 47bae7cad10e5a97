#include "tools/uninst-sim/run/Explain.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "platform/Platform.h"
#include "platform/sim/CodePage.h"
#include "registry/DeviceSweeps.h"
#include "registry/SetupCatalogue.h"
#include "tools/uninst-sim/regfile/TextCodec.h"
#include "tools/uninst-sim/run/Report.h"

namespace uninst::tool {

namespace {

using Kind = sim::TraceEntry::Kind;
using Subject = Explanation::Subject;
using Verdict = Explanation::Verdict;

constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";

// The sweeps in the order the run makes them; a sweep starts where the
// program opens its root.
enum class Sweep { kNone, kNamedDevice, kVendorProduct, kFloppyClass, kCatalogue, kValues, kFiles };

struct SweepRoot {
  const char* path;
  Sweep sweep;
  const char* role;
  const char* note;
};
constexpr SweepRoot kSweepRoots[] = {
    {kNamedDeviceBranches[0], Sweep::kNamedDevice, "named device sweep", ""},
    {kNamedDeviceBranches[1], Sweep::kNamedDevice, "named device sweep", ""},
    {kVendorProductBranches[0], Sweep::kVendorProduct, "drive branch sweep",
     "the drive's own branch: every instance, then the branch"},
    {kVendorProductBranches[1], Sweep::kVendorProduct, "drive branch sweep",
     "the drive's own branch: every instance, then the branch"},
    {kFloppyClassKey, Sweep::kFloppyClass, "floppy class sweep",
     "its subkeys of the drive's INF section"},
    {kCatalogsKey, Sweep::kCatalogue, "setup catalogue", "the files of the catalogued INF paths"},
    {kOemNameKey, Sweep::kValues, "setup catalogue values",
     "the string values named after the catalogued INF paths, here and in Catalogs"},
};

struct TypeNameOf {
  std::uint32_t type;
  const char* name;
};
constexpr TypeNameOf kTypeNames[] = {
    {0, "REG_NONE"},
    {1, "REG_SZ"},
    {2, "REG_EXPAND_SZ"},
    {3, "REG_BINARY"},
    {4, "REG_DWORD"},
    {5, "REG_DWORD_BIG_ENDIAN"},
    {6, "REG_LINK"},
    {7, "REG_MULTI_SZ"},
    {8, "REG_RESOURCE_LIST"},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {10, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {11, "REG_QWORD"},
};

std::string Folded(std::string text) { return UpperAscii(std::move(text)); }

bool SamePath(const std::string& a, const std::string& b) { return EqualsIgnoringAsciiCase(a, b); }

std::string Joined(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + '\\' + name;
}

// Why a read of a value gave the program no string to go on.
std::string NoStringReason(const sim::TraceEntry& read) {
  if (read.result == kErrorFileNotFound) return "not present";
  if (read.result == kErrorMoreData) return "longer than the program reads";
  if (read.result != kErrorSuccess)
    return "could not be read (error " + std::to_string(read.result) + ")";
  return std::string("not a string (") + TypeName(read.type) + ")";
}

bool IsString(const sim::TraceEntry& read) {
  return read.result == kErrorSuccess && read.type == kRegSz;
}

// The reason a subkey whose name the program could not read was stepped over.
std::string UnreadableName(long error) {
  return error == kErrorMoreData ? "its name is longer than the program reads: stepped over"
                                 : "its name is beyond the ANSI code page: stepped over";
}

std::string FileReason(long error) {
  if (error == kErrorFileNotFound || error == kErrorPathNotFound) return "not present";
  if (error == kErrorSharingViolation) return "in use: it cannot be opened";
  return "could not be opened (error " + std::to_string(error) + ")";
}

// A key the sweeps reached: how, and why it stays when it does.
struct KeyState {
  std::string path;  // as the program named it, in the machine's code page
  Chain chain;
  bool absent = false;
  std::string keptReason;  // why it stays; "" when nothing keeps it
};

// One removal of a file: its first open, the answer, the deletion.
struct FileAttempt {
  std::string path;
  Chain chain;
  long openError = 0;
  int answer = 0;
  long deleteError = 0;
  bool removed = false;
  // Past its question: the file opened again for its times, or its deletion
  // tried. A box after that is another's.
  bool settled = false;
};

}  // namespace

class RunExplainer::Builder {
 public:
  Builder(const sim::Journal& journal, std::uint32_t codePage, bool kept)
      : m_journal(journal), m_codePage(codePage), m_kept(kept) {}

  void Take(const sim::TraceEntry& entry) {
    switch (entry.kind) {
      case Kind::kKeyOpened:
        return TakeOpen(entry);
      case Kind::kSubKeyNamed:
        return TakeSubKey(entry);
      case Kind::kValueRead:
        return TakeValue(entry);
      case Kind::kKeyDeleted:
        return TakeKeyDeletion(entry);
      case Kind::kValueDeleted:
        return TakeValueDeletion(entry);
      case Kind::kFileOpened:
        return TakeFileOpen(entry);
      case Kind::kFileDeleted:
        return TakeFileDeletion(entry);
      case Kind::kBoxAnswered:
        if (m_file && !m_file->settled && m_file->answer == 0) {
          m_file->answer = static_cast<int>(entry.result);
        }
        return;
    }
  }

  std::vector<Explanation> Finish() {
    EndFileAttempt();
    if (!m_kept) return std::move(m_out);
    for (const auto& [folded, key] : m_keys) {
      if (key.keptReason.empty()) continue;
      Explanation kept;
      kept.key = Full(key.path);
      kept.verdict = key.absent ? Verdict::kAbsent : Verdict::kKept;
      kept.reason = key.keptReason;
      kept.chain = key.chain;
      m_out.push_back(std::move(kept));
    }
    return std::move(m_out);
  }

 private:
  std::string Utf8(const std::string& text) const {
    return sim::CodePageToUtf8Lossy(m_codePage, text);
  }
  std::string Full(const std::string& path) const { return FullKeyPath(Utf8(path)); }

  ChainStep KeyLink(const char* role, const std::string& path, const std::string& note) const {
    ChainStep step;
    step.role = role;
    step.key = Full(path);
    step.note = note;
    return step;
  }

  Step KeyStep(const char* role, const std::string& path, const std::string& note = "") const {
    return std::make_shared<const ChainStep>(KeyLink(role, path, note));
  }

  Step ReadStep(const sim::TraceEntry& read, const std::string& note) const {
    ChainStep step = KeyLink("read", read.keyPath, note);
    step.valueName = Utf8(read.name);
    if (read.result == kErrorSuccess) {
      step.data = MakeValueData(read.type, read.data, m_codePage);
    } else {
      step.note = NoStringReason(read) + (note.empty() ? "" : ": " + note);
    }
    return std::make_shared<const ChainStep>(std::move(step));
  }

  KeyState* Find(const std::string& path) {
    const auto found = m_keys.find(Folded(path));
    return found == m_keys.end() ? nullptr : &found->second;
  }

  KeyState& Reach(const std::string& path, Chain chain) {
    KeyState& key = m_keys[Folded(path)];
    key.path = path;
    key.chain = std::move(chain);
    return key;
  }

  // Forgets the key at `path` and every key below it, which are gone.
  void Forget(const std::string& path) {
    const std::string folded = Folded(path);
    m_keys.erase(folded);
    const std::string below = folded + '\\';
    const auto first = m_keys.lower_bound(below);
    auto last = first;
    while (last != m_keys.end() && last->first.compare(0, below.size(), below) == 0) ++last;
    m_keys.erase(first, last);
  }

  bool StartSweep(const sim::TraceEntry& open) {
    for (const SweepRoot& root : kSweepRoots) {
      if (!SamePath(open.keyPath, root.path)) continue;
      if (root.sweep < m_sweep || (root.sweep == m_sweep && SamePath(m_root, root.path))) {
        return false;
      }
      m_sweep = root.sweep;
      m_root = root.path;
      m_sweepStep = KeyStep(root.role, root.path, root.note);
      KeyState& key = Reach(root.path, {m_sweepStep});
      if (m_sweep == Sweep::kFloppyClass) {
        key.keptReason = "the class itself stays: only the drive's subkeys go";
      }
      return true;
    }
    return false;
  }

  void TakeOpen(const sim::TraceEntry& open) {
    StartSweep(open);
    if (open.result == kErrorSuccess) return;
    KeyState* key = Find(open.keyPath);
    if (!key) return;
    if (open.atLink) {
      constexpr char kLink[] = "a registry link on its path: not followed";
      if (key->keptReason != kLink) key->chain.push_back(KeyStep("registry link", open.keyPath));
      key->keptReason = kLink;
    } else {
      key->absent = true;
      key->keptReason = "not present";
    }
  }

  void TakeSubKey(const sim::TraceEntry& named) {
    const KeyState* parent = Find(named.keyPath);
    if (!parent || named.name.empty()) return;
    const std::string path = Joined(named.keyPath, named.name);
    const bool atRoot = SamePath(named.keyPath, m_root);
    Chain chain = parent->chain;
    std::string reason;
    if (named.result != kErrorSuccess) {
      reason = UnreadableName(named.result);
    } else if (m_sweep == Sweep::kNamedDevice && atRoot) {
      if (named.name.compare(0, sizeof kDeviceNamePrefix - 1, kDeviceNamePrefix) != 0) {
        reason = std::string("its name does not start with ") + kDeviceNamePrefix;
      } else {
        chain.push_back(
            KeyStep("device key", path, std::string("its name starts with ") + kDeviceNamePrefix));
      }
    } else if (m_sweep == Sweep::kFloppyClass) {
      chain.push_back(KeyStep("class key", path));
    } else {
      chain.push_back(KeyStep("instance key", path));
    }
    Reach(path, std::move(chain)).keptReason = reason;
  }

  void TakeValue(const sim::TraceEntry& read) {
    const std::string name = Folded(read.name);
    if (m_sweep == Sweep::kCatalogue && SamePath(read.keyPath, kCatalogsKey)) {
      m_fileChain = {m_sweepStep, ReadStep(read, "names a catalogue file")};
      m_catalogueData = IsString(read) ? Folded(read.data.substr(0, read.data.find('\0'))) : "";
      m_catalogueName = name;
      return;
    }
    if (m_sweep == Sweep::kValues) return TakeCatalogueValue(read);
    KeyState* key = Find(read.keyPath);
    if (!key) return;
    if (name == "DRIVER" && IsString(read)) {
      const std::string driver = read.data.substr(0, read.data.find('\0'));
      const std::string classKey = std::string(kClassRoot) + '\\' + driver;
      Chain chain = key->chain;
      chain.push_back(ReadStep(read, "names the class key"));
      chain.push_back(KeyStep("class key", classKey));
      Reach(classKey, std::move(chain));
    } else if (name == "INFSECTION") {
      TakeInfSection(*key, read);
    } else if (name == "INFPATH") {
      if (IsString(read)) {
        m_fileChain = key->chain;
        m_fileChain.push_back(ReadStep(read, "names the INF copies in INF and INF\\OTHER"));
      } else {
        key->chain.push_back(ReadStep(read, "no INF copies"));
      }
    }
  }

  void TakeInfSection(KeyState& key, const sim::TraceEntry& read) {
    const bool drive =
        IsString(read) && EqualsIgnoringAsciiCase(read.data.substr(0, read.data.find('\0')),
                                                  std::string(kDriveInfSection));
    key.chain.push_back(ReadStep(read, drive ? "the drive's INF section" : ""));
    if (m_sweep != Sweep::kFloppyClass || drive) return;
    key.keptReason = IsString(read) ? std::string("its \"InfSection\" is not ") + kDriveInfSection
                                    : "its \"InfSection\" is " + NoStringReason(read);
  }

  void TakeCatalogueValue(const sim::TraceEntry& read) {
    const std::string id = Folded(read.keyPath) + '\0' + Folded(read.name);
    if (IsString(read)) {
      m_valueChains[id] = {m_sweepStep,
                           ReadStep(read, "a string named after a catalogued INF path")};
      return;
    }
    if (!m_kept) return;
    Explanation value;
    value.subject = Subject::kValue;
    value.key = Full(read.keyPath);
    value.valueName = Utf8(read.name);
    value.verdict = read.result == kErrorFileNotFound ? Verdict::kAbsent : Verdict::kKept;
    value.reason = NoStringReason(read);
    value.chain = {m_sweepStep};
    m_out.push_back(std::move(value));
  }

  void TakeKeyDeletion(const sim::TraceEntry& deletion) {
    KeyState* known = Find(deletion.keyPath);
    KeyState& key = known ? *known : Reach(deletion.keyPath, {m_sweepStep});
    if (deletion.journalEntry == sim::TraceEntry::kNoJournalEntry) {
      key.keptReason = "could not be deleted (error " + std::to_string(deletion.result) + ")";
      return;
    }
    const sim::JournalEntry& entry = m_journal.Entries()[deletion.journalEntry];
    const Step below = KeyStep("below the deleted key", entry.keyPath);
    entry.ForEachDeletedKey([&](const std::string& path, const sim::ValueList&) {
      Explanation removed;
      removed.key = Full(path);
      removed.chain = key.chain;
      if (path.size() != entry.keyPath.size()) removed.chain.push_back(below);
      m_out.push_back(std::move(removed));
    });
    Forget(deletion.keyPath);
  }

  void TakeValueDeletion(const sim::TraceEntry& deletion) {
    if (deletion.journalEntry == sim::TraceEntry::kNoJournalEntry) return;
    const sim::JournalEntry& entry = m_journal.Entries()[deletion.journalEntry];
    const auto chain = m_valueChains.find(Folded(deletion.keyPath) + '\0' + Folded(deletion.name));
    Explanation removed;
    removed.subject = Subject::kValue;
    removed.key = Full(entry.keyPath);
    entry.value.ForEach([&](const sim::ValueList::View& value) {
      removed.valueName = Utf8(std::string(value.name));
    });
    removed.chain = chain != m_valueChains.end() ? chain->second : Chain{m_sweepStep};
    m_out.push_back(std::move(removed));
  }

  Chain FileChain(const std::string& path) {
    if (m_sweep == Sweep::kValues) {
      m_sweep = Sweep::kFiles;
      m_sweepStep = std::make_shared<const ChainStep>(ChainStep{
          "driver file table", "", "", std::nullopt, "", "its files below the windows directory"});
    }
    Chain chain = m_sweep == Sweep::kFiles ? Chain{m_sweepStep} : m_fileChain;
    ChainStep file{"file", "", "", std::nullopt, Utf8(path), ""};
    if (m_sweep == Sweep::kFiles) {
      file.note = "a file of the table";
    } else if (m_sweep == Sweep::kCatalogue) {
      const std::string folded = Folded(path);
      file.note = folded == m_catalogueData   ? "the file the value names"
                  : folded == m_catalogueName ? "the catalogued INF path itself"
                                              : "";
    } else {
      file.note = "an INF copy";
    }
    chain.push_back(std::make_shared<const ChainStep>(std::move(file)));
    return chain;
  }

  void TakeFileOpen(const sim::TraceEntry& open) {
    // The same removal opens its file again to write its times back.
    if (m_file && !m_file->removed && SamePath(m_file->path, open.name) && m_file->openError == 0) {
      m_file->settled = true;
      return;
    }
    EndFileAttempt();
    m_file = FileAttempt{open.name, FileChain(open.name), open.result};
  }

  void TakeFileDeletion(const sim::TraceEntry& deletion) {
    if (!m_file) return;
    m_file->settled = true;
    if (deletion.journalEntry == sim::TraceEntry::kNoJournalEntry) {
      m_file->deleteError = deletion.result;
      return;
    }
    Explanation removed;
    removed.subject = Subject::kFile;
    removed.file = m_journal.Entries()[deletion.journalEntry].WindowsPath();
    removed.chain = m_file->chain;
    m_out.push_back(std::move(removed));
    m_file->removed = true;
  }

  // A removal that left its file: why, when asked for.
  void EndFileAttempt() {
    if (!m_file || m_file->removed || !m_kept) return m_file.reset();
    Explanation kept;
    kept.subject = Subject::kFile;
    kept.file = Utf8(m_file->path);
    kept.verdict = Verdict::kKept;
    if (m_file->openError != 0) {
      kept.reason = FileReason(m_file->openError);
      if (kept.reason == "not present") kept.verdict = Verdict::kAbsent;
    } else if (m_file->deleteError != 0) {
      kept.reason = "could not be deleted (error " + std::to_string(m_file->deleteError) + ")";
    } else if (m_file->answer == kIdNo) {
      kept.reason = "answered No";
    } else if (m_file->answer == kIdCancel) {
      kept.reason = "answered Cancel: the run ended there";
    } else {
      kept.reason = "its attributes or times could not be reset";
    }
    kept.chain = m_file->chain;
    m_out.push_back(std::move(kept));
    m_file.reset();
  }

  const sim::Journal& m_journal;
  std::uint32_t m_codePage;
  bool m_kept;
  Sweep m_sweep = Sweep::kNone;
  std::string m_root;
  Step m_sweepStep = std::make_shared<const ChainStep>(
      ChainStep{"run", "", "", std::nullopt, "", "before any sweep"});
  // The keys reached and not deleted, by upper-cased path.
  std::map<std::string, KeyState> m_keys;
  std::map<std::string, Chain> m_valueChains;
  Chain m_fileChain;
  std::string m_catalogueData;
  std::string m_catalogueName;
  std::optional<FileAttempt> m_file;
  std::vector<Explanation> m_out;
};

namespace {

std::string SubjectText(const Explanation& explanation) {
  switch (explanation.subject) {
    case Subject::kKey:
      return explanation.key;
    case Subject::kValue:
      return explanation.key + "  value \"" + explanation.valueName + "\"";
    default:
      return explanation.file;
  }
}

}  // namespace

ValueData MakeValueData(std::uint32_t type, const std::string& bytes, std::uint32_t codePage) {
  ValueData data{type, bytes, std::nullopt};
  if (type == kRegSz || type == 2 /* REG_EXPAND_SZ */) {
    data.text = sim::CodePageToUtf8Lossy(codePage, bytes.substr(0, bytes.find('\0')));
  }
  return data;
}

std::string HexBytes(const std::string& bytes, const char* separator) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(bytes[i]));
    if (i > 0) out += separator;
    out += pair;
  }
  return out;
}

const char* TypeName(std::uint32_t type) {
  for (const TypeNameOf& known : kTypeNames) {
    if (known.type == type) return known.name;
  }
  return "unknown";
}

std::string DataText(const ValueData& data) {
  if (data.text) return "\"" + *data.text + "\"";
  if (data.type == kRegDword && data.bytes.size() == 4) {
    char dword[16];
    std::snprintf(
        dword, sizeof dword, "dword:%02x%02x%02x%02x", static_cast<unsigned char>(data.bytes[3]),
        static_cast<unsigned char>(data.bytes[2]), static_cast<unsigned char>(data.bytes[1]),
        static_cast<unsigned char>(data.bytes[0]));
    return dword;
  }
  const std::string prefix = data.type == 3 ? "hex:" : "hex(" + std::to_string(data.type) + "):";
  return prefix + HexBytes(data.bytes, ",");
}

std::string FullKeyPath(const std::string& path) {
  return path.empty() ? kRootName : std::string(kRootName) + '\\' + path;
}

RunExplainer::RunExplainer(const sim::Journal& journal, std::uint32_t codePage, bool kept)
    : m_builder(std::make_unique<Builder>(journal, codePage, kept)) {}

RunExplainer::~RunExplainer() = default;

void RunExplainer::Take(const sim::TraceEntry& entry) { m_builder->Take(entry); }

std::vector<Explanation> RunExplainer::Finish() { return m_builder->Finish(); }

std::string StepText(const ChainStep& step) {
  std::string text = step.role;
  if (!step.key.empty() || !step.file.empty()) text += ": " + step.key + step.file;
  if (!step.valueName.empty() || step.role == "read") text += "  value \"" + step.valueName + "\"";
  if (step.data) text += " = " + DataText(*step.data);
  if (!step.note.empty()) text += " (" + step.note + ")";
  return text;
}

const char* SubjectName(Explanation::Subject subject) {
  switch (subject) {
    case Subject::kKey:
      return "key";
    case Subject::kValue:
      return "value";
    default:
      return "file";
  }
}

const char* VerdictName(Explanation::Verdict verdict) {
  switch (verdict) {
    case Verdict::kRemoved:
      return "removed";
    case Verdict::kKept:
      return "kept";
    default:
      return "absent";
  }
}

std::string FormatExplanations(const std::vector<Explanation>& explanations) {
  // By subject, then by the upper-cased text that names it.
  std::vector<std::pair<std::string, const Explanation*>> sorted;
  for (const Explanation& explanation : explanations) {
    sorted.emplace_back(static_cast<char>('0' + static_cast<int>(explanation.subject)) +
                            Folded(SubjectText(explanation)),
                        &explanation);
  }
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string out = "Why:\n";
  for (const auto& [order, explanation] : sorted) {
    std::string heading = std::string(SubjectName(explanation->subject)) + " " +
                          SubjectText(*explanation) + ": " + VerdictName(explanation->verdict);
    if (!explanation->reason.empty()) heading += ", " + explanation->reason;
    out += "  " + TerminalText(heading) + '\n';
    for (std::size_t i = 0; i < explanation->chain.size(); ++i) {
      out += "    " + std::to_string(i + 1) + ". " +
             TerminalText(StepText(*explanation->chain[i])) + '\n';
    }
  }
  return out;
}

}  // namespace uninst::tool
