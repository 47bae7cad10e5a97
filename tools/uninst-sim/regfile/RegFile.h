// registry.reg: the registry below HKEY_LOCAL_MACHINE in the two text forms
// regedit writes. "REGEDIT4" files are single-byte text in the machine's ANSI
// code page; "Windows Registry Editor Version 5.00" files are UTF-16LE with a
// byte-order mark as regedit writes them, though either form may come as
// UTF-8 text behind its mark, or as UTF-16LE. The registry holds names and
// string values (with their terminating zero) in the code page, as the
// machine does; hex lists are stored byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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
  sim::Registry registry;
};

// Parses a whole file. A failure names the line: "line 12: ...".
Outcome<RegDocument> ReadRegFile(std::string bytes,
                                 std::uint32_t codePage = sim::kWesternAnsiCodePage);

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
