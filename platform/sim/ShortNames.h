// The 8.3 short names that Windows gives long file names, on FAT as on NTFS.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace uninst::sim {

// Whether `name` (UTF-8) already is an 8.3 name, letter case aside: it then
// has no other.
bool IsShortName(const std::string& name);

// The `number`th short name Windows tries for the long name `name` (UTF-8):
// spaces and periods but the last dropped, a character an 8.3 name cannot
// hold made '_', upper-cased, the first six characters of the base (fewer
// as the number grows), "~" and the number, and the first three of the
// extension: "KELMORINUSBFD.INF" is first "KELMOR~1.INF". Characters beyond
// ASCII become '_', where Windows keeps those of the OEM code page.
std::string ShortNameOf(const std::string& name, int number);

// The short names of one folder. Each long name keeps the name it was given
// for as long as the machine runs, whatever comes and goes beside it.
class ShortNameTable {
 public:
  // Gives each name of `names` (a folder's listing, sorted) that has none
  // the first short name that no other has and no name of the folder is
  // (`isName`, given an upper-cased name).
  void Assign(const std::vector<std::string>& names,
              const std::function<bool(const std::string&)>& isName);
  // Whether the folder's names were ever given their short names.
  bool Assigned() const { return m_assigned; }
  // The long name whose short name is `name` (upper-cased), if any.
  std::optional<std::string> LongNameOf(const std::string& upperName) const;

 private:
  std::map<std::string, std::string> m_longByShort;
  std::set<std::string> m_named;
  // The last number given, by the short name of number 0.
  std::map<std::string, int> m_nextNumber;
  bool m_assigned = false;
};

}  // namespace uninst::sim
