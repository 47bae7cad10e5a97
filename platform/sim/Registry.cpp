#include <algorithm>

#include "platform/sim/RegistryNode.h"

namespace uninst::sim {
namespace {

unsigned char UpperAscii(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

// Position of `name` among the sorted children, or of the first greater one.
std::vector<std::unique_ptr<Registry::Node>>::const_iterator LowerBound(
    const std::vector<std::unique_ptr<Registry::Node>>& children, const std::string& name) {
  return std::lower_bound(
      children.begin(), children.end(), name,
      [](const std::unique_ptr<Registry::Node>& child, const std::string& wanted) {
        return CompareNames(child->name, wanted) < 0;
      });
}

void CollectKeys(const Registry::Node& node, const std::string& prefix,
                 std::vector<std::string>* keys) {
  for (const auto& child : node.children) {
    const std::string path = prefix.empty() ? child->name : prefix + "\\" + child->name;
    keys->push_back(path);
    CollectKeys(*child, path, keys);
  }
}

}  // namespace

int CompareNames(const std::string& a, const std::string& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = UpperAscii(a[i]);
    const unsigned char y = UpperAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(const std::string& a, const std::string& b) { return CompareNames(a, b) == 0; }

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

Registry::Node* Registry::Node::FindChild(const std::string& childName) const {
  const auto at = LowerBound(children, childName);
  return (at != children.end() && NamesEqual((*at)->name, childName)) ? at->get() : nullptr;
}

Registry::Node* Registry::Node::AddChild(const std::string& childName) {
  const auto at = LowerBound(children, childName);
  if (at != children.end() && NamesEqual((*at)->name, childName)) return at->get();
  auto child = std::make_unique<Node>();
  child->name = childName;
  return children.insert(at, std::move(child))->get();
}

bool Registry::Node::RemoveChild(const Node* child) {
  const auto at = LowerBound(children, child->name);
  if (at == children.end() || at->get() != child) return false;
  children.erase(at);
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

Registry::Node* Registry::Node::DescendCreating(const std::vector<std::string>& components) {
  Node* node = this;
  for (const std::string& component : components) node = node->AddChild(component);
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

void Registry::CreateKey(const std::string& path) { m_root->DescendCreating(SplitPath(path)); }

void Registry::SetValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                        std::vector<std::uint8_t> data) {
  Node* key = m_root->DescendCreating(SplitPath(keyPath));
  if (RegValue* existing = key->FindValue(name)) {
    existing->type = type;
    existing->data = std::move(data);
    return;
  }
  key->values.push_back(RegValue{name, type, std::move(data)});
}

void Registry::SetString(const std::string& keyPath, const std::string& name,
                         const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(keyPath, name, kRegSz, std::move(data));
}

void Registry::CreateLink(const std::string& path, const std::string& target) {
  Node* link = m_root->DescendCreating(SplitPath(path));
  link->children.clear();
  link->values.clear();
  link->linkTarget = target;
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
    for (const auto& child : key->children) names.push_back(child->name);
  }
  return names;
}

std::vector<RegValue> Registry::Values(const std::string& path) const {
  const Node* key = Find(path);
  return key ? key->values : std::vector<RegValue>{};
}

std::vector<std::string> Registry::AllKeys() const {
  std::vector<std::string> keys;
  CollectKeys(*m_root, "", &keys);
  return keys;
}

Registry::Node* Registry::Find(const std::string& path) const {
  return m_root->Descend(SplitPath(path));
}

}  // namespace uninst::sim
