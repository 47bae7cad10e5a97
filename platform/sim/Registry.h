// The simulated registry below HKEY_LOCAL_MACHINE.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/MachineConfig.h"
#include "platform/sim/NameRules.h"

namespace uninst::sim {

struct RegValue {
  std::string name;  // as stored, with its case; "" is the default value
  std::uint32_t type = kRegSz;
  std::vector<std::uint8_t> data;
};

// The registry below HKEY_LOCAL_MACHINE with Windows semantics: names
// compared case-insensitively, character by character of the ANSI code page,
// and kept with their case. The family chooses the order of subkeys:
// case-insensitive alphabetical on the NT family, the order the keys were
// created on the 9x family, whose registry keeps no sorted index.
class Registry {
 public:
  explicit Registry(WindowsFamily family = WindowsFamily::kNt,
                    std::uint32_t ansiCodePage = kWesternAnsiCodePage);
  // Follows the family and code page that `config` holds at each call, as a
  // machine's configuration may change after the registry is made.
  explicit Registry(const MachineConfig* config);
  ~Registry();
  Registry(Registry&& other) noexcept;
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;
  // Takes the keys and the family of `other`, which is left empty.
  Registry& operator=(Registry&& other) noexcept;

  WindowsFamily Family() const { return m_config->family; }
  const NameRules& Names() const;
  // Takes every key of `other`, which is left empty; the family stays.
  void TakeKeys(Registry& other);

  // Creates the key and any missing parent.
  void CreateKey(const std::string& path);
  // Creates the key if needed and sets the value.
  void SetValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                std::vector<std::uint8_t> data);
  // REG_SZ with its terminating zero.
  void SetString(const std::string& keyPath, const std::string& name, const std::string& text);
  // A registry link at `path` (an NT family key made with
  // REG_OPTION_CREATE_LINK) that leads to the key `target`, a path below the
  // root. The machine's opens take every key of a path as itself, as the
  // NT family's layer does: a path through the link fails, and deleting the
  // link deletes it alone. A plain open follows it (KeyExistsThroughLinks). False, with nothing
  // made, on the 9x family, which has no links.
  [[nodiscard]] bool CreateLink(const std::string& path, const std::string& target);
  // A subkey of `parentPath` (made if missing) whose name the ANSI code page
  // cannot hold, `bestFit` being what a best-fit conversion makes of it (it
  // may hold a backslash): no path opens it, enumerating it names nothing,
  // deleting its parent deletes it. False, with nothing made, on the 9x
  // family, whose registry holds its names in the code page, or when a
  // sibling is named `bestFit`.
  [[nodiscard]] bool CreateKeyBeyondCodePage(const std::string& parentPath,
                                             const std::string& bestFit);
  // With its whole subtree; a link at `path` is deleted, not followed.
  bool DeleteKey(const std::string& path);

  bool KeyExists(const std::string& path) const;
  // Whether another program's plain open finds the key: on the way and at
  // the end, a registry link leads to its target.
  bool KeyExistsThroughLinks(const std::string& path) const;
  std::optional<RegValue> GetValue(const std::string& keyPath, const std::string& name) const;
  // Names of the direct subkeys, in enumeration order; empty for a missing key.
  std::vector<std::string> SubKeyNames(const std::string& path) const;
  // Values of a key, in the order they were created.
  std::vector<RegValue> Values(const std::string& path) const;
  // Every key path below the root, depth-first in enumeration order, each
  // written with its stored case ("Enum", "Enum\FLOP", ...).
  std::vector<std::string> AllKeys() const;

  struct Node;
  // Calls `visit` for every key in the order of AllKeys.
  using KeyVisitor = std::function<void(const std::string& path, const Node& key)>;
  void VisitKeys(const KeyVisitor& visit) const;
  // Calls `visit` for `key`, whose path is `path`, then for every key below
  // it in the same order.
  void VisitSubtree(const Node& key, const std::string& path, const KeyVisitor& visit) const;
  Node* Root() const { return m_root.get(); }
  Node* Find(const std::string& path) const;

 private:
  std::unique_ptr<Node> m_root;
  MachineConfig m_ownConfig;
  const MachineConfig* m_config;
  // The rules of the code page and family m_namesOf, made at the first need
  // and again when the machine's configuration changes them.
  struct RulesOf {
    std::uint32_t codePage = 0;
    WindowsFamily family = WindowsFamily::kNt;
    bool operator!=(const RulesOf& other) const {
      return codePage != other.codePage || family != other.family;
    }
  };
  mutable RulesOf m_namesOf;
  mutable NameRules m_names;
};

}  // namespace uninst::sim
