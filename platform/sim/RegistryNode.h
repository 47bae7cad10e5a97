// The simulated registry's key tree, shared by Registry and SimMachine.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/Registry.h"

namespace uninst::sim {

// Registry and file names compare as NT compares them: ASCII letters
// upper-cased, every other byte as it is.
int CompareNames(std::string_view a, std::string_view b);
bool NamesEqual(std::string_view a, std::string_view b);

// The non-empty components of a backslash-separated path.
std::vector<std::string> SplitPath(const std::string& path);

struct NameLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return CompareNames(a, b) < 0; }
};

struct Registry::Node {
  using Children = std::map<std::string, std::unique_ptr<Node>, NameLess>;

  Node() = default;
  // Frees the subtree without recursion, however deep it is.
  ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  std::string name;
  std::vector<RegValue> values;
  // A registry link names the key it leads to, as a path below the root; an
  // ordinary key has none.
  std::string linkTarget;
  // Open handles watch this token to learn that their key was deleted.
  std::shared_ptr<char> life = std::make_shared<char>(0);

  std::size_t ChildCount() const { return m_children.size(); }
  // The subkey at `index` in enumeration order; nullptr past the end. Each
  // step from the previous index asked for costs O(1).
  Node* ChildAt(std::size_t index) const;
  const Children& ChildMap() const { return m_children; }
  Node* FindChild(std::string_view childName) const;
  Node* AddChild(std::string_view childName);
  bool RemoveChild(const Node* child);
  // The key `path` below this one; nullptr when a component is missing.
  Node* Descend(const std::vector<std::string>& components);
  // The key at the backslash-separated `path` below this one, created with
  // its missing parents when `create` is set; nullptr when missing.
  Node* Walk(std::string_view path, bool create);
  RegValue* FindValue(const std::string& valueName);
  // Replaces the value of the same name in place, or adds it last.
  void SetValue(RegValue value);

 private:
  Children m_children;
  // Where the last ChildAt call stopped; kept valid across insertions and
  // removals so that enumeration interleaved with deletion stays linear.
  mutable Children::const_iterator m_cursor = m_children.end();
  mutable std::size_t m_cursorIndex = 0;
};

}  // namespace uninst::sim
