#include "tools/uninst-sim/run/Undo.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <set>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/sim/CodePage.h"
#include "tools/uninst-sim/regfile/RegSyntax.h"
#include "tools/uninst-sim/run/Report.h"

namespace uninst::tool {

namespace {

using Kind = sim::JournalEntry::Kind;
using sim::UniqueFd;

constexpr char kUndoFolder[] = ".uninst-sim-undo";
constexpr char kFilesFolder[] = "files";
constexpr char kNewRecord[] = "new";
constexpr char kJournalName[] = "journal";
constexpr char kUndoRegName[] = "undo.reg";
constexpr char kJournalHeader[] = "uninst-sim undo record 1";
// The journal's last line, once the run has ended.
constexpr char kJournalEnd[] = "end";

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

std::uint64_t Fingerprint(std::string_view bytes, std::uint64_t hash = 14695981039346656037ull) {
  for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

// The size and fingerprint of registry.reg, read a part at a time so that a
// whole machine's registry is not held twice. False with errno set.
bool FingerprintRegistry(int folder, std::uint64_t* size, std::uint64_t* hash) {
  struct stat status {};
  const UniqueFd file = sim::OpenEntryAt(folder, kRegistryFileName, &status);
  if (!file.Valid()) return false;
  std::string part(std::size_t{1} << 20, '\0');
  *size = 0;
  *hash = Fingerprint("");
  for (;;) {
    const ssize_t got = ::read(file.Get(), part.data(), part.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    *size += static_cast<std::uint64_t>(got);
    *hash = Fingerprint(std::string_view(part.data(), static_cast<std::size_t>(got)), *hash);
  }
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char c : bytes) {
    out += kDigits[static_cast<unsigned char>(c) >> 4];
    out += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return out.empty() ? "-" : out;
}

bool Unhex(const std::string& text, std::string* bytes) {
  bytes->clear();
  if (text == "-") return true;
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (error != std::errc() || end != text.data() + i + 2) return false;
    *bytes += static_cast<char>(value);
  }
  return true;
}

std::string TimesText(const struct timespec& accessed, const struct timespec& modified) {
  return std::to_string(accessed.tv_sec) + " " + std::to_string(accessed.tv_nsec) + " " +
         std::to_string(modified.tv_sec) + " " + std::to_string(modified.tv_nsec);
}

std::string StateText(const sim::HostFileState& state) {
  return std::to_string(state.mode) + " " +
         (state.dosAttribute ? "=" + Hex(*state.dosAttribute) : "-") + " " +
         TimesText(state.accessed, state.modified);
}

char KindLetter(Kind kind) {
  return kind == Kind::kFileDeleted ? 'D' : kind == Kind::kAttributesWritten ? 'A' : 'T';
}

// One file change of a record, read back.
struct FileLine {
  std::size_t index = 0;
  char kind = 'D';
  char drive = 'C';
  std::string relative;
  sim::HostFileState before;
  sim::HostFileState folderBefore;
};

template <typename T>
bool ReadNumber(std::istream& in, T* value) {
  return static_cast<bool>(in >> *value);
}

bool ReadTimes(std::istream& in, sim::HostFileState* state) {
  return ReadNumber(in, &state->accessed.tv_sec) && ReadNumber(in, &state->accessed.tv_nsec) &&
         ReadNumber(in, &state->modified.tv_sec) && ReadNumber(in, &state->modified.tv_nsec);
}

bool ReadState(std::istream& in, sim::HostFileState* state) {
  std::string attribute;
  if (!ReadNumber(in, &state->mode) || !(in >> attribute)) return false;
  if (attribute != "-") {
    std::string bytes;
    if (attribute[0] != '=' || !Unhex(attribute.substr(1), &bytes)) return false;
    state->dosAttribute = bytes;
  }
  return ReadTimes(in, state);
}

bool ReadFileLine(std::istream& in, FileLine* line) {
  std::string relative;
  if (!ReadNumber(in, &line->index) || !(in >> line->kind >> line->drive >> relative) ||
      !Unhex(relative, &line->relative) || !ReadState(in, &line->before)) {
    return false;
  }
  return line->kind != 'D' || ReadState(in, &line->folderBefore);
}

// What the journal of a record says.
struct RecordText {
  sim::HostFileState machine;
  bool saved = false;
  bool ended = false;  // false: the run was killed before it ended
  std::uint64_t registrySize = 0;
  std::uint64_t registryFingerprint = 0;
  std::vector<FileLine> files;
};

bool ParseRecord(const std::string& text, RecordText* record) {
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != kJournalHeader) return false;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "folder") {
      if (!ReadTimes(in, &record->machine)) return false;
    } else if (word == "registry") {
      record->saved = true;
      if (!ReadNumber(in, &record->registrySize) || !ReadNumber(in, &record->registryFingerprint))
        return false;
    } else if (word == kJournalEnd) {
      record->ended = true;
    } else if (word == "file") {
      record->files.emplace_back();
      if (!ReadFileLine(in, &record->files.back())) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool WriteNewFile(int folder, const char* name, const std::string& bytes) {
  const UniqueFd fd(
      ::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.Valid()) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return ::fsync(fd.Get()) == 0;
}

// Removes a record that a kill stopped while it was being made.
void RemoveUnfinishedRecord(int undo) {
  const UniqueFd unfinished = sim::OpenDirectoryAt(undo, kNewRecord);
  if (!unfinished.Valid()) return;
  ::unlinkat(unfinished.Get(), kJournalName, 0);
  ::unlinkat(unfinished.Get(), kFilesFolder, AT_REMOVEDIR);
  ::unlinkat(undo, kNewRecord, AT_REMOVEDIR);
}

// The number of the last record in the undo folder, 0 for none.
unsigned LastRecord(int undo) {
  std::vector<sim::FolderEntry> entries;
  unsigned last = 0;
  if (!sim::ListFolder(undo, &entries)) return 0;
  for (const sim::FolderEntry& entry : entries) {
    unsigned number = 0;
    const char* end = entry.name.data() + entry.name.size();
    const auto [stop, error] = std::from_chars(entry.name.data(), end, number);
    if (error == std::errc() && stop == end) last = std::max(last, number);
  }
  return last;
}

bool ApplyTimes(int fd, const sim::HostFileState& state) {
  const struct timespec times[2] = {state.accessed, state.modified};
  return ::futimens(fd, times) == 0;
}

bool ApplyState(int fd, const sim::HostFileState& state) {
  const bool attribute = state.dosAttribute
                             ? ::fsetxattr(fd, sim::kDosAttributeName, state.dosAttribute->data(),
                                           state.dosAttribute->size(), 0) == 0
                             : ::fremovexattr(fd, sim::kDosAttributeName) == 0 || errno == ENODATA;
  return ::fchmod(fd, state.mode) == 0 && attribute && ApplyTimes(fd, state);
}

// The folder that holds the file of `line`, reached without following a link.
UniqueFd OpenParent(const MachineFolder& folder, const FileLine& line, std::string* name) {
  const auto drive = std::find_if(folder.drives.begin(), folder.drives.end(),
                                  [&line](const DriveFolder& d) { return d.letter == line.drive; });
  if (drive == folder.drives.end()) return UniqueFd();
  UniqueFd parent = sim::OpenDirectoryAt(folder.fd.Get(), drive->folderName);
  std::size_t start = 0;
  for (std::size_t slash;
       parent.Valid() && (slash = line.relative.find('/', start)) != std::string::npos;
       start = slash + 1) {
    parent = sim::OpenDirectoryAt(parent.Get(), line.relative.substr(start, slash - start));
  }
  *name = line.relative.substr(start);
  return parent;
}

std::string WindowsPathOf(const FileLine& line) {
  sim::JournalEntry entry;
  entry.drive = line.drive;
  entry.hostRelative = line.relative;
  return entry.WindowsPath();
}

// Why putting back `record` would lose something, or "".
std::string CheckRecord(const MachineFolder& folder, const RecordText& record, int files) {
  if (record.saved) {
    // The folder is held: the registry.reg it read is the one there.
    const std::string& bytes = folder.registry.bytes;
    if (bytes.size() != record.registrySize || Fingerprint(bytes) != record.registryFingerprint) {
      return "registry.reg changed since the run: putting back the old one would lose those "
             "changes";
    }
  }
  for (const FileLine& line : record.files) {
    if (line.kind != 'D') continue;
    std::string name;
    const UniqueFd parent = OpenParent(folder, line, &name);
    struct stat status {};
    if (!parent.Valid()) return "the folder of " + WindowsPathOf(line) + " is gone";
    const bool kept =
        ::fstatat(files, std::to_string(line.index).c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    if (::fstatat(parent.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
      // Not kept and still there: the move never happened (it failed, or a
      // kill came between noting it and making it).
      if (!kept) continue;
      return WindowsPathOf(line) + " exists again: putting the deleted one back would replace it";
    }
    if (!kept) return "the record lost the deleted file " + WindowsPathOf(line);
  }
  return "";
}

// Puts one change back; "" or what failed. `movedBack` tells whether a
// deleted file came back.
std::string PutBack(const MachineFolder& folder, const FileLine& line, int files, bool* movedBack) {
  std::string name;
  const UniqueFd parent = OpenParent(folder, line, &name);
  const std::string path = WindowsPathOf(line);
  if (!parent.Valid()) return Errno("cannot open the folder of " + path);
  const std::string kept = std::to_string(line.index);
  struct stat status {};
  // A deletion noted but never made left the file where it was.
  *movedBack =
      line.kind == 'D' && ::fstatat(files, kept.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
  if (*movedBack &&
      ::renameat2(files, kept.c_str(), parent.Get(), name.c_str(), RENAME_NOREPLACE) != 0) {
    return Errno("cannot put back " + path);
  }
  const UniqueFd file = sim::OpenEntryAt(parent.Get(), name, &status);
  if (!file.Valid() || !ApplyState(file.Get(), line.before)) {
    return Errno("cannot put back the attributes and times of " + path);
  }
  if (line.kind == 'D' && !ApplyTimes(parent.Get(), line.folderBefore)) {
    return Errno("cannot put back the times of the folder of " + path);
  }
  return "";
}

}  // namespace

Outcome<UndoRecord> UndoRecord::Create(const MachineFolder& folder) {
  using Result = Outcome<UndoRecord>;
  const int machine = folder.fd.Get();
  if (::mkdirat(machine, kUndoFolder, 0755) != 0 && errno != EEXIST) {
    return Result::Failure(
        Errno("cannot make the undo folder " + folder.directory + "/" + kUndoFolder));
  }
  const UniqueFd undo = sim::OpenDirectoryAt(machine, kUndoFolder);
  if (!undo.Valid()) return Result::Failure(Errno("cannot open " + std::string(kUndoFolder)));
  UndoRecord record;
  const std::string number = std::to_string(LastRecord(undo.Get()) + 1);
  record.m_name = std::string(kUndoFolder) + "/" + number;
  // Made whole under a name of its own first, so that a record is never
  // half there; what a kill left of one being made holds nothing else.
  RemoveUnfinishedRecord(undo.Get());
  if (::mkdirat(undo.Get(), kNewRecord, 0755) == 0) {
    record.m_record = sim::OpenDirectoryAt(undo.Get(), kNewRecord);
  }
  if (record.m_record.Valid()) {
    record.m_journal.Reset(::openat(record.m_record.Get(), kJournalName,
                                    O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC,
                                    0644));
  }
  if (!record.m_journal.Valid() || ::mkdirat(record.m_record.Get(), kFilesFolder, 0755) != 0 ||
      !record.Append(std::string(kJournalHeader) + "\nfolder " +
                     TimesText(folder.opened.st_atim, folder.opened.st_mtim) + "\n") ||
      ::renameat2(undo.Get(), kNewRecord, undo.Get(), number.c_str(), RENAME_NOREPLACE) != 0) {
    return Result::Failure(Errno("cannot make the undo record " + record.m_name));
  }
  return record;
}

bool UndoRecord::Append(const std::string& text) const {
  return ::write(m_journal.Get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void UndoRecord::Note(const sim::JournalEntry& entry, std::size_t number) const {
  if (!entry.IsFileChange()) return;
  std::string line = "file " + std::to_string(number) + " " + KindLetter(entry.kind) + " " +
                     entry.drive + " " + Hex(entry.hostRelative) + " " + StateText(entry.before);
  if (entry.kind == Kind::kFileDeleted) line += " " + StateText(entry.folderBefore);
  Append(line + "\n");
}

UniqueFd UndoRecord::FilesFolder() const {
  return sim::OpenDirectoryAt(m_record.Get(), kFilesFolder);
}

std::string UndoRecord::Finish(const sim::Journal& journal, const MachineFolder& folder,
                               bool saved) const {
  std::string text;
  if (saved) {
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
    if (!FingerprintRegistry(folder.fd.Get(), &size, &hash)) {
      return Errno("cannot read back registry.reg");
    }
    text += "registry " + std::to_string(size) + " " + std::to_string(hash) + "\n";
  }
  Outcome<std::string> undoReg = UndoRegText(journal, AnsiCodePageOf(folder.settings));
  if (!WriteNewFile(m_record.Get(), kUndoRegName,
                    undoReg.Ok() ? undoReg.Value() : "; " + undoReg.Error() + "\r\n") ||
      !Append(text + kJournalEnd + "\n") || ::fsync(m_journal.Get()) != 0) {
    return Errno("cannot write the undo record " + m_name);
  }
  return "";
}

void UndoRecord::Discard(const MachineFolder& folder) const {
  const int machine = folder.fd.Get();
  const UniqueFd undo = sim::OpenDirectoryAt(machine, kUndoFolder);
  ::unlinkat(m_record.Get(), kJournalName, 0);
  ::unlinkat(m_record.Get(), kFilesFolder, AT_REMOVEDIR);
  ::unlinkat(undo.Get(), m_name.substr(m_name.rfind('/') + 1).c_str(), AT_REMOVEDIR);
  ::unlinkat(machine, kUndoFolder, AT_REMOVEDIR);
  ApplyTimes(machine,
             sim::HostFileState{0, std::nullopt, folder.opened.st_atim, folder.opened.st_mtim});
}

Outcome<std::string> UndoRegText(const sim::Journal& journal, std::uint32_t codePage,
                                 RegEncoding encoding) {
  const sim::NameRules names(sim::LeadBytesOf(codePage));
  std::string text = std::string(kRegedit4Header) + "\r\n\r\n";
  std::string problem;
  for (const sim::JournalEntry& entry : journal.Entries()) {
    if (entry.kind == Kind::kValueDeleted && problem.empty()) {
      problem = AppendKeySection(text, entry.keyPath, entry.value, codePage, names);
    }
    entry.ForEachDeletedKey([&](const std::string& path, const sim::ValueList& values) {
      if (problem.empty()) problem = AppendKeySection(text, path, values, codePage, names);
    });
  }
  if (!problem.empty()) return Outcome<std::string>::Failure(problem);
  return EncodeRegText(std::move(text), encoding, codePage);
}

std::string FormatDiff(const sim::Journal& journal, std::uint32_t codePage) {
  std::set<std::string> deletedKeys;
  std::string files;
  for (const sim::JournalEntry& entry : journal.Entries()) {
    entry.ForEachDeletedKey([&](const std::string& path, const sim::ValueList&) {
      deletedKeys.insert("[HKEY_LOCAL_MACHINE\\" + sim::CodePageToUtf8Lossy(codePage, path) + "]");
    });
    if (entry.kind == Kind::kFileDeleted && !entry.bySetup) {
      files += "-" + TerminalText(entry.WindowsPath()) + "\n";
    }
  }
  Outcome<std::string> text = UndoRegText(journal, codePage, RegEncoding::kUtf8WithMark);
  std::string out = "--- registry.reg before the run\n+++ registry.reg after the run\n";
  if (!text.Ok()) return out + "(the deletions cannot be shown: " + text.Error() + ")\n" + files;
  std::istringstream lines(text.Value().substr(3));
  std::string line;
  std::string context;        // the header of a kept key, shown before its first deleted value
  std::getline(lines, line);  // REGEDIT4
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line[0] == '[' && deletedKeys.count(line) == 0) {
      context = " " + TerminalText(line) + "\n";
      continue;
    }
    if (line[0] == '[') context.clear();
    out += context + "-" + TerminalText(line) + "\n";
    context.clear();
  }
  return out + "Files:\n" + files;
}

std::string UndoLastRun(const MachineFolder& folder, std::string* done, bool* started) {
  *started = false;
  const int machine = folder.fd.Get();
  const UniqueFd undo = sim::OpenDirectoryAt(machine, kUndoFolder);
  const unsigned last = undo.Valid() ? LastRecord(undo.Get()) : 0;
  if (last == 0) return "there is no run to undo in " + folder.directory;
  const std::string number = std::to_string(last);
  const std::string name = std::string(kUndoFolder) + "/" + number;
  const UniqueFd record = sim::OpenDirectoryAt(undo.Get(), number);
  const UniqueFd files =
      record.Valid() ? sim::OpenDirectoryAt(record.Get(), kFilesFolder) : UniqueFd();
  std::string text;
  RecordText parsed;
  if (!files.Valid() ||
      !sim::ReadEntryAt(record.Get(), kJournalName, std::size_t{1} << 30, &text) ||
      !ParseRecord(text, &parsed)) {
    return "the undo record " + name + " is incomplete or damaged; nothing was changed";
  }
  const std::string refused = CheckRecord(folder, parsed, files.Get());
  if (!refused.empty()) return refused + "; nothing was changed";
  *started = true;
  for (auto line = parsed.files.rbegin(); line != parsed.files.rend(); ++line) {
    bool movedBack = false;
    const std::string error = PutBack(folder, *line, files.Get(), &movedBack);
    if (!error.empty()) return error + "; the undo stopped there and the record " + name + " stays";
    if (movedBack) *done += "  " + WindowsPathOf(*line) + "\n";
  }
  if (!parsed.ended) {
    *done +=
        "The last run was killed before it ended: the files it changed are back, and "
        "registry.reg stays as that run left it.\n";
    // The registry.reg it replaced, if it got so far, stays in the record.
    ::unlinkat(record.Get(), kJournalName, 0);
    ::unlinkat(record.Get(), kFilesFolder, AT_REMOVEDIR);
    ::unlinkat(undo.Get(), number.c_str(), AT_REMOVEDIR);
    return "";
  }
  if (parsed.saved &&
      ::renameat(record.Get(), kRegistryFileName, machine, kRegistryFileName) != 0) {
    return Errno("cannot put back registry.reg") + "; the record " + name + " stays";
  }
  ::unlinkat(record.Get(), kJournalName, 0);
  ::unlinkat(record.Get(), kUndoRegName, 0);
  ::unlinkat(record.Get(), kFilesFolder, AT_REMOVEDIR);
  ::unlinkat(undo.Get(), number.c_str(), AT_REMOVEDIR);
  ::unlinkat(machine, kUndoFolder, AT_REMOVEDIR);
  ApplyTimes(machine, parsed.machine);
  return "";
}

}  // namespace uninst::tool
