// The simulated registry's key tree, shared by Registry and SimMachine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/NameRules.h"
#include "platform/sim/Registry.h"

namespace uninst::sim {

// A key's values packed into one block, in the order they were created: a
// whole machine holds millions of them.
class ValueList {
 public:
  struct View {
    std::string_view name;
    std::uint32_t type = 0;
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;

    RegValue ToValue() const;
  };

  bool Empty() const { return m_block.empty(); }
  std::optional<View> Find(std::string_view name, const NameRules& names) const;
  // Replaces the value of the same name in place, or adds it last.
  void Set(std::string_view name, std::uint32_t type, const std::uint8_t* data, std::size_t size,
           const NameRules& names);
  bool Erase(std::string_view name, const NameRules& names);
  // Adds a value whose name the list does not hold yet.
  void Append(std::string_view name, std::uint32_t type, const std::uint8_t* data,
              std::size_t size);
  void Reserve(std::size_t bytes) { m_block.reserve(bytes); }
  void Clear() { m_block.clear(); }
  std::vector<RegValue> ToValues() const;
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (std::size_t at = 0; at < m_block.size(); at = NextOf(at)) visit(ViewAt(at));
  }

 private:
  View ViewAt(std::size_t at) const;
  std::size_t NextOf(std::size_t at) const;
  // The offset of the value named `name`, or the block's size.
  std::size_t OffsetOf(std::string_view name, const NameRules& names) const;

  // Each value: name length, type and data size as 32-bit numbers, then the
  // name's bytes, then the data.
  std::vector<std::uint8_t> m_block;
};

struct Registry::Node {
  Node();
  explicit Node(std::string_view childName);
  // Frees the subtree without recursion, however deep it is.
  ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  std::string name;
  ValueList values;
  // `name` is only the best fit of a name the ANSI code page cannot hold
  // (NT family): no path opens the key, and enumerating it names nothing.
  bool nameBeyondCodePage = false;

  // A registry link names the key it leads to, as a path below the root.
  bool IsLink() const { return m_rare && m_rare->link; }
  const std::string& LinkTarget() const { return *m_rare->link; }
  void MakeLink(std::string target);
  // Open handles watch this token to learn that their key was deleted; it is
  // made at the first open, so that keys never opened carry none.
  std::weak_ptr<char> Watch();

  std::size_t ChildCount() const;
  // The subkey at `index` in the family's enumeration order; nullptr past the
  // end. Each step from the previous index asked for costs O(1), also while
  // subkeys are deleted between the steps.
  Node* ChildAt(std::size_t index, WindowsFamily family, const NameRules& names) const;
  // The subkeys in the family's order, with nullptr where one was removed.
  const std::vector<Node*>& Children(WindowsFamily family, const NameRules& names) const;
  Node* FindChild(std::string_view childName, const NameRules& names) const;
  Node* AddChild(std::string_view childName, const NameRules& names);
  bool RemoveChild(const Node* child, const NameRules& names);
  // Every subkey list below this key follows `names` from now on.
  void RefoldTree(const NameRules& names);
  // The key at the backslash-separated `path` below this one, created with
  // its missing parents when `create` is set; nullptr when missing.
  Node* Walk(std::string_view path, bool create, const NameRules& names);
  // Every subkey moves to `doomed`; none is left here.
  void ReleaseChildren(std::vector<Node*>& doomed);

 private:
  struct Subkeys;

  // Made with the first subkey: most keys have none.
  std::unique_ptr<Subkeys> m_subkeys;
  // Positions of this key in its parent's two lists of subkeys.
  std::uint32_t m_createdSlot = 0;
  std::uint32_t m_sortedSlot = 0;
  // What few keys have, made at the first need: a whole machine's keys
  // are smaller without it.
  struct Rare {
    std::optional<std::string> link;
    std::shared_ptr<char> life;
  };
  Rare& RareOnes();
  std::unique_ptr<Rare> m_rare;
};

}  // namespace uninst::sim
