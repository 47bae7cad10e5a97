// registry.reg: the registry below HKEY_LOCAL_MACHINE in the two text forms
// regedit writes. "REGEDIT4" files are single-byte text in the machine's ANSI
// code page; "Windows Registry Editor Version 5.00" files are UTF-16LE with a
// byte-order mark as regedit writes them, though either form may come as
// UTF-8 text behind its mark, or as UTF-16LE. The documents hold UTF-8 text:
// names, and string values with their terminating zero; hex lists are stored
// byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/Registry.h"
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

// The keys a file leaves behind once its deletions are applied, in the order
// each first appears.
struct RegDocument {
  RegFormat format = RegFormat::kRegedit4;
  RegEncoding encoding = RegEncoding::kBytes;
  std::vector<RegKeyEntry> keys;
};

// The ANSI code page of a Western machine.
constexpr std::uint32_t kWesternCodePage = 1252;

// Parses a whole file. A failure names the line: "line 12: ...".
Outcome<RegDocument> ReadRegFile(const std::string& bytes,
                                 std::uint32_t codePage = kWesternCodePage);

// Writes the keys in the given order; fails when a name or value cannot be
// expressed in the format and encoding.
Outcome<std::string> WriteRegFile(const std::vector<RegKeyEntry>& keys, RegFormat format,
                                  RegEncoding encoding, std::uint32_t codePage = kWesternCodePage);
// In the encoding regedit uses for the format.
Outcome<std::string> WriteRegFile(const std::vector<RegKeyEntry>& keys, RegFormat format);

// Every key of the registry (the root excluded) in enumeration order, with its
// values.
std::vector<RegKeyEntry> SnapshotOf(const sim::Registry& registry);
void LoadIntoRegistry(const RegDocument& document, sim::Registry& registry);

}  // namespace uninst::tool
