#include "platform/sim/Registry.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/AsciiCase.h"
#include "platform/sim/CodePage.h"
#include "platform/sim/RegistryNode.h"

namespace uninst::sim {
namespace {

// Below this many subkeys a scan finds a name faster than an index would.
constexpr std::size_t kIndexedChildren = 16;

// Links that lead to links are followed this many times at most, so that a
// loop of links finds nothing instead of hanging.
constexpr int kMaxLinkHops = 16;
constexpr std::size_t kValueHeader = 3 * sizeof(std::uint32_t);

std::uint32_t ReadNumber(const std::uint8_t* at) {
  std::uint32_t number = 0;
  std::memcpy(&number, at, sizeof number);
  return number;
}

void AppendNumber(std::vector<std::uint8_t>& block, std::size_t number) {
  const auto narrow = static_cast<std::uint32_t>(number);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&narrow);
  block.insert(block.end(), bytes, bytes + sizeof narrow);
}

void AppendValue(std::vector<std::uint8_t>& block, std::string_view name, std::uint32_t type,
                 const std::uint8_t* data, std::size_t size) {
  AppendNumber(block, name.size());
  AppendNumber(block, type);
  AppendNumber(block, size);
  block.insert(block.end(), name.begin(), name.end());
  if (size > 0) block.insert(block.end(), data, data + size);
}

// Every key below `root`, depth-first in enumeration order, with its path;
// iterative so that no depth of tree can exhaust the stack.
void VisitTree(const Registry::Node& root, std::string path, WindowsFamily family,
               const NameRules& names, const Registry::KeyVisitor& visit) {
  struct Level {
    const std::vector<Registry::Node*>* children;
    std::size_t next;
    std::size_t pathLength;
  };
  std::vector<Level> stack{{&root.Children(family, names), 0, path.size()}};
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.children->size()) {
      stack.pop_back();
      continue;
    }
    const Registry::Node* child = (*level.children)[level.next++];
    if (!child) continue;
    path.resize(level.pathLength);
    if (!path.empty()) path += '\\';
    path += child->name;
    visit(path, *child);
    stack.push_back({&child->Children(family, names), 0, path.size()});
  }
}

// Subkeys by the hash of their folded names, with linear probing: a pointer
// a slot, at most half of the slots used, where a map would cost a node, a
// folded copy of the name and a bucket for each. Names that rules made
// equal are all kept; a search finds the one added first.
class ChildIndex {
 public:
  using Node = Registry::Node;

  bool Empty() const { return m_count == 0; }
  // Whether one more subkey needs a larger table, made by Reset.
  bool Full() const { return 2 * (m_count + 1) > m_slots.size(); }
  void Reset(std::size_t count) {
    std::size_t size = 64;
    while (size < 4 * count) size *= 2;
    m_slots.assign(size, nullptr);
    m_count = 0;
  }

  void Insert(Node* child, const NameRules& names) {
    std::size_t at = Home(child->name, names);
    while (m_slots[at]) at = Next(at);
    m_slots[at] = child;
    ++m_count;
  }

  Node* Find(std::string_view name, const NameRules& names) const {
    for (std::size_t at = Home(name, names); m_slots[at]; at = Next(at)) {
      if (names.Equal(m_slots[at]->name, name)) return m_slots[at];
    }
    return nullptr;
  }

  void Erase(const Node* child, const NameRules& names) {
    std::size_t hole = Home(child->name, names);
    while (m_slots[hole] != child) {
      if (!m_slots[hole]) return;
      hole = Next(hole);
    }
    // Moves back each later subkey of the run whose home the hole cuts
    // off, so that every search still meets no empty slot before its name.
    for (std::size_t at = Next(hole); m_slots[at]; at = Next(at)) {
      const std::size_t home = Home(m_slots[at]->name, names);
      const bool reachable = hole < at ? (hole < home && home <= at) : (hole < home || home <= at);
      if (reachable) continue;
      m_slots[hole] = m_slots[at];
      hole = at;
    }
    m_slots[hole] = nullptr;
    --m_count;
  }

 private:
  std::size_t Home(std::string_view name, const NameRules& names) const {
    return names.Hash(name) & (m_slots.size() - 1);
  }
  std::size_t Next(std::size_t at) const { return (at + 1) & (m_slots.size() - 1); }

  std::vector<Node*> m_slots;  // a power of two of them, or none
  std::size_t m_count = 0;
};

}  // namespace

// The subkeys of a key in both orders. Removed subkeys leave holes, so that
// positions stay put for the cursors; the holes are dropped once they
// outnumber the subkeys.
struct Registry::Node::Subkeys {
  // Where the last ChildAt call of one order stopped: `slot` in that order's
  // list holds the subkey of live index `index`, or is the list's end.
  struct Cursor {
    std::uint32_t slot = 0;
    std::uint32_t index = 0;
  };
  enum Order { kCreated, kSorted };

  static Order OrderOf(WindowsFamily family) {
    return family == WindowsFamily::k9x ? kCreated : kSorted;
  }
  const std::vector<Node*>& List(Order order, const NameRules& names);
  Node* Step(Order order, std::size_t index, const NameRules& names);
  Node* Find(std::string_view childName, const NameRules& names) const;
  void Add(Node* child, const NameRules& names);
  void Remove(const Node* child, const NameRules& names);
  // After the rules changed (another code page or family): the index and
  // the alphabetical order follow the new ones.
  void Refold(const NameRules& names);
  void Unlink(Order order, std::uint32_t slot);
  void Sort(const NameRules& names);
  void CompactIfSparse();

  // Owned, in creation order.
  std::vector<Node*> created;
  // The same in alphabetical order, rebuilt at the first use after a subkey
  // was added.
  std::vector<Node*> sorted;
  bool sortedStale = false;
  Cursor cursors[2];
  std::uint32_t live = 0;
  // Once there are more subkeys than a quick scan can afford.
  ChildIndex index;
};

RegValue ValueList::View::ToValue() const {
  return RegValue{std::string(name), type, std::vector<std::uint8_t>(data, data + size)};
}

ValueList::View ValueList::ViewAt(std::size_t at) const {
  const std::uint8_t* header = m_block.data() + at;
  const std::uint32_t nameSize = ReadNumber(header);
  const char* name = reinterpret_cast<const char*>(header + kValueHeader);
  return View{std::string_view(name, nameSize), ReadNumber(header + 4),
              header + kValueHeader + nameSize, ReadNumber(header + 8)};
}

std::size_t ValueList::NextOf(std::size_t at) const {
  const std::uint8_t* header = m_block.data() + at;
  return at + kValueHeader + ReadNumber(header) + ReadNumber(header + 8);
}

std::size_t ValueList::OffsetOf(std::string_view name, const NameRules& names) const {
  std::size_t at = 0;
  while (at < m_block.size() && !names.Equal(ViewAt(at).name, name)) at = NextOf(at);
  return at;
}

std::optional<ValueList::View> ValueList::Find(std::string_view name,
                                               const NameRules& names) const {
  const std::size_t at = OffsetOf(name, names);
  if (at == m_block.size()) return std::nullopt;
  return ViewAt(at);
}

void ValueList::Set(std::string_view name, std::uint32_t type, const std::uint8_t* data,
                    std::size_t size, const NameRules& names) {
  const std::size_t at = OffsetOf(name, names);
  if (at == m_block.size()) {
    Append(name, type, data, size);
    return;
  }
  // A value set again keeps the name it was first written with.
  std::vector<std::uint8_t> entry;
  AppendValue(entry, ViewAt(at).name, type, data, size);
  const std::size_t end = NextOf(at);
  m_block.erase(m_block.begin() + static_cast<std::ptrdiff_t>(at),
                m_block.begin() + static_cast<std::ptrdiff_t>(end));
  m_block.insert(m_block.begin() + static_cast<std::ptrdiff_t>(at), entry.begin(), entry.end());
}

void ValueList::Append(std::string_view name, std::uint32_t type, const std::uint8_t* data,
                       std::size_t size) {
  AppendValue(m_block, name, type, data, size);
}

bool ValueList::Erase(std::string_view name, const NameRules& names) {
  const std::size_t at = OffsetOf(name, names);
  if (at == m_block.size()) return false;
  m_block.erase(m_block.begin() + static_cast<std::ptrdiff_t>(at),
                m_block.begin() + static_cast<std::ptrdiff_t>(NextOf(at)));
  if (m_block.empty()) m_block.shrink_to_fit();
  return true;
}

std::vector<RegValue> ValueList::ToValues() const {
  std::vector<RegValue> values;
  ForEach([&values](const View& value) { values.push_back(value.ToValue()); });
  return values;
}

Registry::Node::Node() = default;

Registry::Node::Node(std::string_view childName) : name(childName) {}

Registry::Node::~Node() {
  std::vector<Node*> doomed;
  ReleaseChildren(doomed);
  while (!doomed.empty()) {
    Node* node = doomed.back();
    doomed.pop_back();
    node->ReleaseChildren(doomed);
    delete node;
  }
}

void Registry::Node::ReleaseChildren(std::vector<Node*>& doomed) {
  if (!m_subkeys) return;
  for (Node* child : m_subkeys->created) {
    if (child) doomed.push_back(child);
  }
  m_subkeys.reset();
}

void Registry::Node::MakeLink(std::string target) { RareOnes().link = std::move(target); }

std::weak_ptr<char> Registry::Node::Watch() {
  std::shared_ptr<char>& life = RareOnes().life;
  if (!life) life = std::make_shared<char>(0);
  return life;
}

Registry::Node::Rare& Registry::Node::RareOnes() {
  if (!m_rare) m_rare = std::make_unique<Rare>();
  return *m_rare;
}

std::size_t Registry::Node::ChildCount() const { return m_subkeys ? m_subkeys->live : 0; }

const std::vector<Registry::Node*>& Registry::Node::Children(WindowsFamily family,
                                                             const NameRules& names) const {
  static const std::vector<Node*> kNone;
  return m_subkeys ? m_subkeys->List(Subkeys::OrderOf(family), names) : kNone;
}

Registry::Node* Registry::Node::ChildAt(std::size_t index, WindowsFamily family,
                                        const NameRules& names) const {
  if (index >= ChildCount()) return nullptr;
  return m_subkeys->Step(Subkeys::OrderOf(family), index, names);
}

Registry::Node* Registry::Node::FindChild(std::string_view childName,
                                          const NameRules& names) const {
  Node* child = m_subkeys ? m_subkeys->Find(childName, names) : nullptr;
  return child != nullptr && !child->nameBeyondCodePage ? child : nullptr;
}

Registry::Node* Registry::Node::AddChild(std::string_view childName, const NameRules& names) {
  if (Node* existing = FindChild(childName, names)) return existing;
  if (!m_subkeys) m_subkeys = std::make_unique<Subkeys>();
  auto child = std::make_unique<Node>(childName);
  m_subkeys->Add(child.get(), names);
  return child.release();
}

bool Registry::Node::RemoveChild(const Node* child, const NameRules& names) {
  if (!m_subkeys || child->m_createdSlot >= m_subkeys->created.size() ||
      m_subkeys->created[child->m_createdSlot] != child) {
    return false;
  }
  m_subkeys->Remove(child, names);
  delete child;  // its destructor frees the subtree without recursion
  return true;
}

void Registry::Node::RefoldTree(const NameRules& names) {
  std::vector<Node*> pending{this};
  while (!pending.empty()) {
    Node* node = pending.back();
    pending.pop_back();
    if (!node->m_subkeys) continue;
    node->m_subkeys->Refold(names);
    for (Node* child : node->m_subkeys->created) {
      if (child) pending.push_back(child);
    }
  }
}

const std::vector<Registry::Node*>& Registry::Node::Subkeys::List(Order order,
                                                                  const NameRules& names) {
  if (order == kCreated) return created;
  if (sortedStale) Sort(names);
  return sorted;
}

void Registry::Node::Subkeys::Sort(const NameRules& names) {
  // Sorted by keys side by side rather than through the nodes, which lie
  // all over memory: a key with a great many subkeys sorts many times faster.
  struct Keyed {
    NameRules::SortKey key;
    Node* node;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(live);
  for (Node* child : created) {
    if (child) keyed.push_back({names.SortKeyOf(child->name), child});
  }
  std::sort(keyed.begin(), keyed.end(), [&names](const Keyed& a, const Keyed& b) {
    return a.key != b.key ? a.key < b.key : names.Compare(a.node->name, b.node->name) < 0;
  });
  sorted.clear();
  sorted.reserve(keyed.size());
  for (const Keyed& child : keyed) sorted.push_back(child.node);
  for (std::size_t slot = 0; slot < sorted.size(); ++slot) {
    sorted[slot]->m_sortedSlot = static_cast<std::uint32_t>(slot);
  }
  cursors[kSorted] = Cursor{};
  sortedStale = false;
}

Registry::Node* Registry::Node::Subkeys::Step(Order order, std::size_t index,
                                              const NameRules& names) {
  const std::vector<Node*>& list = List(order, names);
  Cursor& cursor = cursors[order];
  // Walk from whichever of the cursor, the first and the last subkey is nearest.
  const std::size_t fromCursor = index > cursor.index ? index - cursor.index : cursor.index - index;
  if (index < fromCursor) {
    cursor = Cursor{};
    while (!list[cursor.slot]) ++cursor.slot;
  } else if (live - index < fromCursor) {
    cursor = Cursor{static_cast<std::uint32_t>(list.size()), live};
  }
  while (cursor.index < index) {
    do ++cursor.slot;
    while (!list[cursor.slot]);
    ++cursor.index;
  }
  while (cursor.index > index) {
    do --cursor.slot;
    while (!list[cursor.slot]);
    --cursor.index;
  }
  return list[cursor.slot];
}

Registry::Node* Registry::Node::Subkeys::Find(std::string_view childName,
                                              const NameRules& names) const {
  if (!index.Empty()) return index.Find(childName, names);
  for (Node* child : created) {
    if (child && names.Equal(child->name, childName)) return child;
  }
  return nullptr;
}

void Registry::Node::Subkeys::Add(Node* child, const NameRules& names) {
  child->m_createdSlot = static_cast<std::uint32_t>(created.size());
  // A cursor at the end now stands on the new subkey, whose index is the old count.
  created.push_back(child);
  ++live;
  sortedStale = true;
  if (!index.Empty() && !index.Full()) {
    index.Insert(child, names);
  } else if (live > kIndexedChildren) {
    Refold(names);
  }
}

void Registry::Node::Subkeys::Refold(const NameRules& names) {
  sortedStale = true;
  if (live <= kIndexedChildren) {
    index = ChildIndex();
    return;
  }
  index.Reset(live);
  for (Node* sibling : created) {
    if (sibling) index.Insert(sibling, names);
  }
}

void Registry::Node::Subkeys::Remove(const Node* child, const NameRules& names) {
  Unlink(kCreated, child->m_createdSlot);
  if (!sortedStale) Unlink(kSorted, child->m_sortedSlot);
  if (!index.Empty()) index.Erase(child, names);
  --live;
  CompactIfSparse();
}

// Leaves a hole at `slot` of one order's list; a cursor on it moves on to
// the next subkey, which takes over its index. Holes at the end are dropped,
// so that deleting from the last index down never walks over them.
void Registry::Node::Subkeys::Unlink(Order order, std::uint32_t slot) {
  std::vector<Node*>& list = order == kCreated ? created : sorted;
  Cursor& cursor = cursors[order];
  list[slot] = nullptr;
  if (slot < cursor.slot) {
    --cursor.index;
  } else if (slot == cursor.slot) {
    while (cursor.slot < list.size() && !list[cursor.slot]) ++cursor.slot;
  }
  while (!list.empty() && !list.back()) list.pop_back();
  if (cursor.slot > list.size()) cursor.slot = static_cast<std::uint32_t>(list.size());
}

// Drops the holes once they outnumber the subkeys, so that the lists stay in
// proportion to what they hold; a cursor keeps its index, which then is its
// slot.
void Registry::Node::Subkeys::CompactIfSparse() {
  if (created.size() < 2 * live + kIndexedChildren) return;
  created.erase(std::remove(created.begin(), created.end(), nullptr), created.end());
  for (std::size_t slot = 0; slot < created.size(); ++slot) {
    created[slot]->m_createdSlot = static_cast<std::uint32_t>(slot);
  }
  cursors[kCreated].slot = cursors[kCreated].index;
  if (sortedStale) return;
  sorted.erase(std::remove(sorted.begin(), sorted.end(), nullptr), sorted.end());
  for (std::size_t slot = 0; slot < sorted.size(); ++slot) {
    sorted[slot]->m_sortedSlot = static_cast<std::uint32_t>(slot);
  }
  cursors[kSorted].slot = cursors[kSorted].index;
}

Registry::Node* Registry::Node::Walk(std::string_view path, bool create, const NameRules& names) {
  Node* node = this;
  while (node && !path.empty()) {
    const std::size_t end = names.FindSeparator(path);
    const std::string_view component = path.substr(0, end);
    path.remove_prefix(std::min(end + 1, path.size()));
    if (component.empty()) continue;
    node = create ? node->AddChild(component, names) : node->FindChild(component, names);
  }
  return node;
}

Registry::Registry(WindowsFamily family, std::uint32_t ansiCodePage)
    : m_root(std::make_unique<Node>()), m_config(&m_ownConfig) {
  m_ownConfig.family = family;
  m_ownConfig.ansiCodePage = ansiCodePage;
}

Registry::Registry(const MachineConfig* config)
    : m_root(std::make_unique<Node>()), m_ownConfig(*config), m_config(config) {}

Registry::Registry(Registry&& other) noexcept
    : m_root(std::move(other.m_root)),
      m_ownConfig(other.m_ownConfig),
      m_config(other.m_config == &other.m_ownConfig ? &m_ownConfig : other.m_config) {
  other.m_root = std::make_unique<Node>();
}

Registry& Registry::operator=(Registry&& other) noexcept {
  if (this == &other) return *this;
  TakeKeys(other);
  m_ownConfig = other.m_ownConfig;
  m_config = other.m_config == &other.m_ownConfig ? &m_ownConfig : other.m_config;
  return *this;
}

const NameRules& Registry::Names() const {
  const RulesOf wanted{m_config->ansiCodePage, m_config->family};
  if (m_namesOf != wanted) {
    const std::bitset<256> leadBytes = LeadBytesOf(wanted.codePage);
    m_names = wanted.family == WindowsFamily::kNt
                  ? NameRules(leadBytes, FoldTableOf(wanted.codePage, leadBytes))
                  : NameRules(leadBytes);
    m_namesOf = wanted;
    m_root->RefoldTree(m_names);
  }
  return m_names;
}

Registry::~Registry() = default;

void Registry::TakeKeys(Registry& other) {
  if (this == &other) return;
  m_root = std::move(other.m_root);
  other.m_root = std::make_unique<Node>();
}

void Registry::CreateKey(const std::string& path) { m_root->Walk(path, true, Names()); }

void Registry::SetValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                        std::vector<std::uint8_t> data) {
  m_root->Walk(keyPath, true, Names())->values.Set(name, type, data.data(), data.size(), Names());
}

void Registry::SetString(const std::string& keyPath, const std::string& name,
                         const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(keyPath, name, kRegSz, std::move(data));
}

bool Registry::CreateLink(const std::string& path, const std::string& target) {
  std::vector<std::string_view> components = Names().Split(path);
  if (components.empty() || Family() == WindowsFamily::k9x) return false;
  // A link holds no subkeys or values of its own: it replaces any key there.
  const std::string last(components.back());
  components.pop_back();
  Node* parent = m_root.get();
  for (const std::string_view component : components) {
    parent = parent->AddChild(component, Names());
  }
  if (Node* existing = parent->FindChild(last, Names())) parent->RemoveChild(existing, Names());
  parent->AddChild(last, Names())->MakeLink(target);
  return true;
}

bool Registry::CreateKeyBeyondCodePage(const std::string& parentPath, const std::string& bestFit) {
  if (Family() == WindowsFamily::k9x || bestFit.empty()) return false;
  Node* parent = m_root->Walk(parentPath, true, Names());
  if (parent->FindChild(bestFit, Names()) != nullptr) return false;
  Node* key = parent->AddChild(bestFit, Names());
  key->nameBeyondCodePage = true;
  return true;
}

bool Registry::DeleteKey(const std::string& path) {
  const std::vector<std::string_view> components = Names().Split(path);
  if (components.empty()) return false;
  Node* parent = m_root.get();
  for (std::size_t i = 0; parent && i + 1 < components.size(); ++i) {
    parent = parent->FindChild(components[i], Names());
  }
  Node* key = parent ? parent->FindChild(components.back(), Names()) : nullptr;
  return key && parent->RemoveChild(key, Names());
}

bool Registry::KeyExists(const std::string& path) const { return Find(path) != nullptr; }

namespace {

// The key `path` leads to below `node`, each link on the way or at the end
// followed to its target; nullptr when a key is missing or the links go round.
const Registry::Node* FollowLinks(const Registry& registry, const Registry::Node* node,
                                  std::string_view path, int* hops) {
  for (const std::string_view component : registry.Names().Split(path)) {
    node = node->FindChild(component, registry.Names());
    if (node != nullptr && node->IsLink()) {
      node = ++*hops > kMaxLinkHops
                 ? nullptr
                 : FollowLinks(registry, registry.Root(), node->LinkTarget(), hops);
    }
    if (node == nullptr) return nullptr;
  }
  return node;
}

}  // namespace

bool Registry::KeyExistsThroughLinks(const std::string& path) const {
  int hops = 0;
  return FollowLinks(*this, m_root.get(), path, &hops) != nullptr;
}

std::optional<RegValue> Registry::GetValue(const std::string& keyPath,
                                           const std::string& name) const {
  const Node* key = Find(keyPath);
  const std::optional<ValueList::View> value = key ? key->values.Find(name, Names()) : std::nullopt;
  if (!value) return std::nullopt;
  return value->ToValue();
}

std::vector<std::string> Registry::SubKeyNames(const std::string& path) const {
  std::vector<std::string> names;
  if (const Node* key = Find(path)) {
    for (const Node* child : key->Children(Family(), Names())) {
      if (child) names.push_back(child->name);
    }
  }
  return names;
}

std::vector<RegValue> Registry::Values(const std::string& path) const {
  const Node* key = Find(path);
  return key ? key->values.ToValues() : std::vector<RegValue>{};
}

std::vector<std::string> Registry::AllKeys() const {
  std::vector<std::string> keys;
  VisitKeys([&keys](const std::string& path, const Node&) { keys.push_back(path); });
  return keys;
}

void Registry::VisitKeys(const KeyVisitor& visit) const {
  VisitTree(*m_root, "", Family(), Names(), visit);
}

void Registry::VisitSubtree(const Node& key, const std::string& path,
                            const KeyVisitor& visit) const {
  visit(path, key);
  VisitTree(key, path, Family(), Names(), visit);
}

Registry::Node* Registry::Find(const std::string& path) const {
  return m_root->Walk(path, false, Names());
}

}  // namespace uninst::sim
