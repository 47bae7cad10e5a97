// registry.reg: a registry as regedit exports it, in its two text forms.
// "REGEDIT4" files are single-byte text in the machine's ANSI code page;
// "Windows Registry Editor Version 5.00" files are UTF-16LE with a byte-order
// mark as regedit writes them, though either form may come as UTF-8 text
// behind its mark, or as UTF-16LE. A file may hold every root key regedit
// writes; the registry read is HKEY_LOCAL_MACHINE's, the part the program
// sees, and the other roots stay in the file as they are. The registry holds
// names and string values (with their terminating zero) in the code page, as
// the machine does; hex lists are stored byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/Registry.h"
#include "platform/sim/RegistryNode.h"
#include "tools/uninst-sim/Outcome.h"

namespace uninst::tool {

enum class RegFormat { kRegedit4, kVersion5 };
// How the text is stored: its bytes as they are, the same behind a UTF-8
// byte-order mark, or UTF-16LE behind its mark.
enum class RegEncoding { kBytes, kUtf8WithMark, kUtf16Le };

struct RegKeyEntry {
  std::string path;  // below HKEY_LOCAL_MACHINE, without the root name
  std::vector<sim::RegValue> values;
};

bool operator==(const RegKeyEntry& a, const RegKeyEntry& b);

// A file read: its form, and the keys it leaves behind once its deletions are
// applied, each created where it first appears (the order a 9x machine
// enumerates them in).
struct RegDocument {
  RegFormat format = RegFormat::kRegedit4;
  RegEncoding encoding = RegEncoding::kBytes;
  sim::Registry registry;  // HKEY_LOCAL_MACHINE
  // The file as read: what a run removed is taken out of it, line by line.
  std::string bytes;
  // The roots the file has key lines of, a bit each: 1 << the root's index
  // in kRootNames (RegSyntax.h).
  unsigned roots = 0;
  // The first line with a key name of HKEY_LOCAL_MACHINE longer than the NT
  // family holds, or 0.
  int longNameLine = 0;
};

// What a run removed below HKEY_LOCAL_MACHINE, in the code page: keys, each
// with everything below it, and values of keys.
struct RegRemovals {
  std::vector<std::string> keys;
  struct Value {
    std::string keyPath;
    std::string name;
  };
  std::vector<Value> values;
};

// A line of a Unicode file that the code page cannot hold as it is: read
// lossily, refused where the registry would keep it.
struct UnreadableLine {
  int line;
  std::string problem;
};

// The text of a file's bytes in the ANSI code page, which the lines are
// parsed in: `*text` views the bytes themselves where they are that text,
// else `*owned`, which receives it converted; `encoding` how the bytes hold
// it, `unreadable` the lines that could not be converted exactly. "" or what
// is wrong, naming the line.
std::string DecodeRegText(std::string_view bytes, std::uint32_t codePage, RegEncoding* encoding,
                          std::string* owned, std::string_view* text,
                          std::vector<UnreadableLine>* unreadable);

// Parses a whole file. A failure names the line: "line 12: ...".
Outcome<RegDocument> ReadRegFile(std::string bytes,
                                 std::uint32_t codePage = sim::kWesternAnsiCodePage);

// The file as read without the lines of what was removed, every other byte
// as it was, as the parts of the document's bytes that stay: the key line, the values and the blank
// lines after them of each section of a removed key or of a key below it, and each line (with its
// continuation lines) that sets or deletes a removed value in a section of
// its key. Comments, deletion lines and the other roots stay. `names` are the
// rules the run's registry compared names by.
// A key that stays while every line naming it goes gets a key line of its
// own in `added`, which the parts then view, where the first of those lines
// was.
Outcome<std::vector<std::string_view>> RemoveFromRegFile(
    const RegDocument& document, const RegRemovals& removed, const sim::NameRules& names,
    std::deque<std::string>* added, std::uint32_t codePage = sim::kWesternAnsiCodePage);

// Writes every key in the registry's enumeration order; fails when a name or
// value cannot be expressed in the format and encoding, or is no text in the
// code page.
Outcome<std::string> WriteRegFile(const sim::Registry& registry, RegFormat format,
                                  RegEncoding encoding,
                                  std::uint32_t codePage = sim::kWesternAnsiCodePage);
// Why WriteRegFile would fail, or "", without making the text: the same in
// every format and encoding.
std::string RegFileProblem(const sim::Registry& registry,
                           std::uint32_t codePage = sim::kWesternAnsiCodePage);
// Appends one key's section as regedit writes it, in the code page that
// `names` reads: its path, then its values. "" or why it cannot be written.
std::string AppendKeySection(std::string& text, const std::string& path,
                             const sim::ValueList& values, std::uint32_t codePage,
                             const sim::NameRules& names);
// Text in the code page as the file stores it in `encoding`.
std::string EncodeRegText(std::string text, RegEncoding encoding, std::uint32_t codePage);
// In the encoding regedit uses for the format.
Outcome<std::string> WriteRegFile(const sim::Registry& registry, RegFormat format);

// Every key of the registry (the root excluded) in enumeration order, with its
// values.
std::vector<RegKeyEntry> SnapshotOf(const sim::Registry& registry);

}  // namespace uninst::tool
