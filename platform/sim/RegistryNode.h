// The simulated registry's key tree, shared by Registry and SimMachine.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"

namespace uninst::sim {

// Registry and file names compare as NT compares them: ASCII letters
// upper-cased, every other byte as it is.
int CompareNames(const std::string& a, const std::string& b);
bool NamesEqual(const std::string& a, const std::string& b);

// The non-empty components of a backslash-separated path.
std::vector<std::string> SplitPath(const std::string& path);

struct Registry::Node {
  std::string name;
  // Children sorted by CompareNames, so that enumeration by index is O(1).
  std::vector<std::unique_ptr<Node>> children;
  std::vector<RegValue> values;
  // A registry link names the key it leads to, as a path below the root; an
  // ordinary key has none.
  std::string linkTarget;
  // Open handles watch this token to learn that their key was deleted.
  std::shared_ptr<char> life = std::make_shared<char>(0);

  Node* FindChild(const std::string& childName) const;
  Node* AddChild(const std::string& childName);
  bool RemoveChild(const Node* child);
  // The key `path` below this one; nullptr when a component is missing.
  Node* Descend(const std::vector<std::string>& components);
  // `path` below this key, creating missing keys.
  Node* DescendCreating(const std::vector<std::string>& components);
  RegValue* FindValue(const std::string& valueName);
};

}  // namespace uninst::sim
