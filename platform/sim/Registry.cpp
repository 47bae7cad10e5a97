#include "platform/sim/Registry.h"

#include <algorithm>
#include <cstddef>

#include "platform/AsciiCase.h"
#include "platform/sim/RegistryNode.h"

namespace uninst::sim {
namespace {

// Every key below `root`, depth-first in enumeration order, with its path;
// iterative so that no depth of tree can exhaust the stack.
void VisitTree(const Registry::Node& root, const Registry::KeyVisitor& visit) {
  struct Level {
    Registry::Node::Children::const_iterator next, end;
    std::size_t pathLength;
  };
  std::string path;
  std::vector<Level> stack{{root.ChildMap().begin(), root.ChildMap().end(), 0}};
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.end) {
      stack.pop_back();
      continue;
    }
    const Registry::Node& child = *(level.next++)->second;
    path.resize(level.pathLength);
    if (!path.empty()) path += '\\';
    path += child.name;
    visit(path, child.values);
    stack.push_back({child.ChildMap().begin(), child.ChildMap().end(), path.size()});
  }
}

}  // namespace

int CompareNames(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = static_cast<unsigned char>(UpperAscii(a[i]));
    const unsigned char y = static_cast<unsigned char>(UpperAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(std::string_view a, std::string_view b) { return CompareNames(a, b) == 0; }

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

Registry::Node::~Node() {
  std::vector<std::unique_ptr<Node>> doomed;
  for (auto& entry : m_children) doomed.push_back(std::move(entry.second));
  m_children.clear();
  while (!doomed.empty()) {
    std::unique_ptr<Node> node = std::move(doomed.back());
    doomed.pop_back();
    for (auto& entry : node->m_children) doomed.push_back(std::move(entry.second));
    node->m_children.clear();
  }
}

Registry::Node* Registry::Node::ChildAt(std::size_t index) const {
  const std::size_t count = m_children.size();
  if (index >= count) return nullptr;
  // Walk from whichever of the cursor, the first and the last child is nearest.
  const std::size_t fromCursor =
      index > m_cursorIndex ? index - m_cursorIndex : m_cursorIndex - index;
  if (index < fromCursor) {
    m_cursor = m_children.begin();
    m_cursorIndex = 0;
  } else if (count - index < fromCursor) {
    m_cursor = m_children.end();
    m_cursorIndex = count;
  }
  for (; m_cursorIndex < index; ++m_cursorIndex) ++m_cursor;
  for (; m_cursorIndex > index; --m_cursorIndex) --m_cursor;
  return m_cursor->second.get();
}

Registry::Node* Registry::Node::FindChild(std::string_view childName) const {
  const auto at = m_children.find(childName);
  return at != m_children.end() ? at->second.get() : nullptr;
}

Registry::Node* Registry::Node::AddChild(std::string_view childName) {
  const auto at = m_children.lower_bound(childName);
  if (at != m_children.end() && NamesEqual(at->first, childName)) return at->second.get();
  if (m_cursor == m_children.end() || NameLess()(childName, m_cursor->first)) ++m_cursorIndex;
  auto child = std::make_unique<Node>();
  child->name = std::string(childName);
  return m_children.emplace_hint(at, child->name, std::move(child))->second.get();
}

bool Registry::Node::RemoveChild(const Node* child) {
  const auto at = m_children.find(child->name);
  if (at == m_children.end() || at->second.get() != child) return false;
  if (at == m_cursor) {
    ++m_cursor;
  } else if (m_cursor == m_children.end() || NameLess()(at->first, m_cursor->first)) {
    --m_cursorIndex;
  }
  // Detached first, so that the subtree goes through the iterative destructor.
  std::unique_ptr<Node> doomed = std::move(at->second);
  m_children.erase(at);
  return true;
}

Registry::Node* Registry::Node::Descend(const std::vector<std::string>& components) {
  Node* node = this;
  for (const std::string& component : components) {
    node = node->FindChild(component);
    if (!node) return nullptr;
  }
  return node;
}

Registry::Node* Registry::Node::Walk(std::string_view path, bool create) {
  Node* node = this;
  while (node && !path.empty()) {
    const std::size_t end = std::min(path.find('\\'), path.size());
    const std::string_view component = path.substr(0, end);
    path.remove_prefix(std::min(end + 1, path.size()));
    if (component.empty()) continue;
    node = create ? node->AddChild(component) : node->FindChild(component);
  }
  return node;
}

RegValue* Registry::Node::FindValue(const std::string& valueName) {
  for (RegValue& value : values) {
    if (NamesEqual(value.name, valueName)) return &value;
  }
  return nullptr;
}

Registry::Registry() : m_root(std::make_unique<Node>()) {}

Registry::~Registry() = default;

void Registry::CreateKey(const std::string& path) { m_root->Walk(path, true); }

void Registry::Node::SetValue(RegValue value) {
  if (RegValue* existing = FindValue(value.name)) {
    existing->type = value.type;
    existing->data = std::move(value.data);
    return;
  }
  values.push_back(std::move(value));
}

void Registry::SetValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                        std::vector<std::uint8_t> data) {
  m_root->Walk(keyPath, true)->SetValue(RegValue{name, type, std::move(data)});
}

void Registry::SetString(const std::string& keyPath, const std::string& name,
                         const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(keyPath, name, kRegSz, std::move(data));
}

void Registry::CreateLink(const std::string& path, const std::string& target) {
  // A link holds no subkeys or values of its own: it replaces any key there.
  std::vector<std::string> components = SplitPath(path);
  if (components.empty()) return;
  const std::string last = components.back();
  components.pop_back();
  Node* parent = m_root.get();
  for (const std::string& component : components) parent = parent->AddChild(component);
  if (Node* existing = parent->FindChild(last)) parent->RemoveChild(existing);
  parent->AddChild(last)->linkTarget = target;
}

bool Registry::DeleteKey(const std::string& path) {
  std::vector<std::string> components = SplitPath(path);
  if (components.empty()) return false;
  const std::string last = components.back();
  components.pop_back();
  Node* parent = m_root->Descend(components);
  Node* key = parent ? parent->FindChild(last) : nullptr;
  return key && parent->RemoveChild(key);
}

bool Registry::KeyExists(const std::string& path) const { return Find(path) != nullptr; }

std::optional<RegValue> Registry::GetValue(const std::string& keyPath,
                                           const std::string& name) const {
  Node* key = Find(keyPath);
  const RegValue* value = key ? key->FindValue(name) : nullptr;
  if (!value) return std::nullopt;
  return *value;
}

std::vector<std::string> Registry::SubKeyNames(const std::string& path) const {
  std::vector<std::string> names;
  if (const Node* key = Find(path)) {
    for (const auto& entry : key->ChildMap()) names.push_back(entry.second->name);
  }
  return names;
}

std::vector<RegValue> Registry::Values(const std::string& path) const {
  const Node* key = Find(path);
  return key ? key->values : std::vector<RegValue>{};
}

std::vector<std::string> Registry::AllKeys() const {
  std::vector<std::string> keys;
  VisitKeys(
      [&keys](const std::string& path, const std::vector<RegValue>&) { keys.push_back(path); });
  return keys;
}

void Registry::VisitKeys(const KeyVisitor& visit) const { VisitTree(*m_root, visit); }

Registry::Node* Registry::Find(const std::string& path) const { return m_root->Walk(path, false); }

}  // namespace uninst::sim
