// The registry calls of the simulated machine, with NT's handle, access and
// error semantics; the 9x family checks no access rights.
#include <cstring>

#include "platform/sim/SimState.h"

namespace uninst::sim {
namespace {

std::string JoinKeyPath(const std::string& base, const std::string& path, const NameRules& names) {
  std::string joined = base;
  for (const std::string_view component : names.Split(path)) {
    if (!joined.empty()) joined += '\\';
    joined += component;
  }
  return joined;
}

// NT refuses a key name longer than a key's name can be.
long NameError(const Registry& registry, std::string_view name) {
  return registry.Family() == WindowsFamily::kNt &&
                 registry.Names().Length(name) > kMaxKeyNameLength
             ? kErrorInvalidParameter
             : kErrorSuccess;
}

// The key `components` lead to below `base`, each key taken as itself as the
// NT family's layer opens it, in `*node`: 2 when a key is missing or one on
// the way is a registry link, whose target is never reached; on the NT
// family 87 for a name longer than a key's name can be, met on the way as
// NT meets it. `path` holds the stored path of `base` and receives the
// stored path of the key.
long DescendOwnKeys(const Registry& registry, Registry::Node* base,
                    const std::vector<std::string_view>& components, Registry::Node** node,
                    std::string* path) {
  Registry::Node* key = base;
  for (const std::string_view component : components) {
    if (const long error = NameError(registry, component)) return error;
    key = key->FindChild(component, registry.Names());
    if (key == nullptr || key->IsLink()) return kErrorFileNotFound;
    if (!path->empty()) *path += '\\';
    *path += key->name;
  }
  *node = key;
  return kErrorSuccess;
}

// NT takes a subkey path that starts with a backslash for an absolute
// object name, which a relative open refuses; Windows 98 finds no such key.
long LeadingBackslashError(WindowsFamily family) {
  return family == WindowsFamily::k9x ? kErrorFileNotFound : kErrorBadPathname;
}

}  // namespace

std::uintptr_t SimMachine::State::NewHandle() {
  nextHandle += 4;
  return nextHandle;
}

std::string SimMachine::State::KeyPathOf(RegHandle root, const char* path,
                                         const NameRules& names) const {
  std::string base;
  const auto open = keys.find(root);
  if (open != keys.end()) base = open->second.path;
  return JoinKeyPath(base, path ? path : "", names);
}

long SimMachine::State::KeyOf(Registry& registry, RegHandle key, Registry::Node** node,
                              std::uint32_t* access, std::string* storedPath) const {
  if (key == kLocalMachine) {
    *node = registry.Root();
    *access = kKeyAllAccess;
    if (storedPath) storedPath->clear();
    return kErrorSuccess;
  }
  const auto open = keys.find(key);
  if (open == keys.end()) return BadHandleError();
  if (open->second.life.expired()) return kErrorKeyDeleted;
  *node = open->second.node;
  *access = open->second.access;
  if (storedPath) *storedPath = open->second.storedPath;
  return kErrorSuccess;
}

long SimMachine::State::ResolveKey(Registry& registry, RegHandle root, const char* path,
                                   Registry::Node** node, std::string* storedPath) const {
  Registry::Node* base = nullptr;
  std::uint32_t access = 0;
  if (const long error = KeyOf(registry, root, &base, &access, storedPath)) return error;
  if (path && path[0] == '\\') return LeadingBackslashError(registry.Family());
  return DescendOwnKeys(registry, base, registry.Names().Split(path ? path : ""), node, storedPath);
}

bool SimMachine::State::MeetsLink(Registry& registry, RegHandle root, const char* path) const {
  Registry::Node* node = nullptr;
  std::uint32_t access = 0;
  if (KeyOf(registry, root, &node, &access) != kErrorSuccess) return false;
  for (const std::string_view component : registry.Names().Split(path ? path : "")) {
    node = node->FindChild(component, registry.Names());
    if (node == nullptr) return false;
    if (node->IsLink()) return true;
  }
  return false;
}

std::string SimMachine::KeyPathOf(RegHandle root, const char* path) const {
  return m_state->KeyPathOf(root, path, m_registry.Names());
}

long SimMachine::OpenKey(Op op, RegHandle root, const char* path, std::uint32_t access,
                         RegHandle* key) {
  const std::string fullPath = KeyPathOf(root, path);
  if (key) *key = 0;
  if (const auto fault = Enter(op, fullPath)) return *fault;
  if (!key) return kErrorInvalidParameter;
  Registry::Node* node = nullptr;
  std::string storedPath;
  if (const long error = m_state->ResolveKey(m_registry, root, path, &node, &storedPath)) {
    return error;
  }
  const RegHandle handle = m_state->NewHandle();
  // The 9x registry keeps no security: whatever was asked for, a handle may
  // do everything.
  const std::uint32_t granted = m_config.family == WindowsFamily::k9x ? kKeyAllAccess : access;
  m_state->keys[handle] =
      State::KeyHandle{node, node->Watch(), granted, fullPath, std::move(storedPath)};
  *key = handle;
  return kErrorSuccess;
}

void SimMachine::TraceOpen(RegHandle root, const char* path, long result) {
  if (!m_state->trace) return;
  TraceEntry entry;
  entry.keyPath = KeyPathOf(root, path);
  entry.result = result;
  entry.atLink = result == kErrorFileNotFound && m_state->MeetsLink(m_registry, root, path);
  Note(std::move(entry));
}

long SimMachine::RegOpenKey(RegHandle root, const char* path, RegHandle* key) {
  const long result = OpenKey(Op::kRegOpenKey, root, path, kKeyAllAccess, key);
  TraceOpen(root, path, result);
  return result;
}

long SimMachine::RegOpenKeyEx(RegHandle root, const char* path, std::uint32_t access,
                              RegHandle* key) {
  const long result = OpenKey(Op::kRegOpenKeyEx, root, path, access, key);
  TraceOpen(root, path, result);
  return result;
}

long SimMachine::RegEnumKey(RegHandle key, std::uint32_t index, char* name, std::uint32_t size) {
  const long result = EnumKey(key, index, name, size);
  if (!m_state->trace || result == kErrorNoMoreItems) return result;
  TraceEntry entry;
  entry.kind = TraceEntry::Kind::kSubKeyNamed;
  entry.keyPath = KeyPathOf(key, "");
  entry.result = result;
  Registry::Node* node = nullptr;
  std::uint32_t access = 0;
  if (m_state->KeyOf(m_registry, key, &node, &access) == kErrorSuccess) {
    const Registry::Node* child = node->ChildAt(index, m_config.family, m_registry.Names());
    if (child) entry.name = child->name;
  }
  Note(std::move(entry));
  return result;
}

long SimMachine::EnumKey(RegHandle key, std::uint32_t index, char* name, std::uint32_t size) {
  if (const auto fault = Enter(Op::kRegEnumKey, KeyPathOf(key, ""))) return *fault;
  Registry::Node* node = nullptr;
  std::uint32_t access = 0;
  if (const long error = m_state->KeyOf(m_registry, key, &node, &access)) return error;
  if (!(access & kKeyEnumerateSubKeys)) return kErrorAccessDenied;
  const Registry::Node* child = node->ChildAt(index, m_config.family, m_registry.Names());
  if (!child) return kErrorNoMoreItems;
  if (!name) return kErrorInvalidParameter;
  if (child->nameBeyondCodePage) return kErrorNoUnicodeTranslation;
  const std::string& childName = child->name;
  if (childName.size() >= size) return kErrorMoreData;
  std::memcpy(name, childName.c_str(), childName.size() + 1);
  return kErrorSuccess;
}

long SimMachine::RegQueryInfoKey(RegHandle key, std::uint32_t* subKeyCount) {
  if (const auto fault = Enter(Op::kRegQueryInfoKey, KeyPathOf(key, ""))) return *fault;
  Registry::Node* node = nullptr;
  std::uint32_t access = 0;
  if (const long error = m_state->KeyOf(m_registry, key, &node, &access)) return error;
  if (!(access & kKeyQueryValue)) return kErrorAccessDenied;
  if (subKeyCount) *subKeyCount = static_cast<std::uint32_t>(node->ChildCount());
  return kErrorSuccess;
}

long SimMachine::RegQueryValueEx(RegHandle key, const char* valueName, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size) {
  if (!m_state->trace) return QueryValue(key, valueName, type, data, size);
  // The name may live in the buffer the data is written to.
  TraceEntry entry;
  entry.kind = TraceEntry::Kind::kValueRead;
  entry.keyPath = KeyPathOf(key, "");
  entry.name = valueName ? valueName : "";
  const long result = QueryValue(key, valueName, type, data, size);
  entry.result = result;
  if (result == kErrorSuccess && type && data && size) {
    entry.type = *type;
    entry.data.assign(reinterpret_cast<const char*>(data), *size);
  }
  Note(std::move(entry));
  return result;
}

long SimMachine::QueryValue(RegHandle key, const char* valueName, std::uint32_t* type,
                            std::uint8_t* data, std::uint32_t* size) {
  if (const auto fault = Enter(Op::kRegQueryValueEx, KeyPathOf(key, ""))) return *fault;
  Registry::Node* node = nullptr;
  std::uint32_t access = 0;
  if (const long error = m_state->KeyOf(m_registry, key, &node, &access)) return error;
  if (!(access & kKeyQueryValue)) return kErrorAccessDenied;
  if (data && !size) return kErrorInvalidParameter;
  const std::optional<ValueList::View> value =
      node->values.Find(valueName ? valueName : "", m_registry.Names());
  if (!value) return kErrorFileNotFound;
  if (type) *type = value->type;
  // Windows 98 hands a string back as far as its first zero and always with
  // one: a value of no bytes reads as "" of size 1. NT hands the bytes stored.
  std::uint32_t copied = value->size;
  bool terminate = false;
  if (m_config.family == WindowsFamily::k9x && value->type == kRegSz) {
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(value->data, 0, value->size));
    copied = end ? static_cast<std::uint32_t>(end - value->data) : value->size;
    terminate = true;
  }
  const std::uint32_t needed = copied + (terminate ? 1 : 0);
  if (!data) {
    if (size) *size = needed;
    return kErrorSuccess;
  }
  const bool fits = needed <= *size;
  *size = needed;
  if (!fits) return kErrorMoreData;
  if (copied > 0) std::memcpy(data, value->data, copied);
  if (terminate) data[copied] = 0;
  return kErrorSuccess;
}

long SimMachine::RegDeleteKey(RegHandle root, const char* path) {
  const long result = DeleteKey(root, path);
  TraceEntry entry;
  entry.kind = TraceEntry::Kind::kKeyDeleted;
  entry.result = result;
  if (m_state->trace) entry.keyPath = KeyPathOf(root, path);
  Note(std::move(entry));
  return result;
}

long SimMachine::DeleteKey(RegHandle root, const char* path) {
  if (const auto fault = Enter(Op::kRegDeleteKey, KeyPathOf(root, path))) return *fault;
  if (path && path[0] == '\\') return LeadingBackslashError(m_config.family);
  std::vector<std::string_view> components = m_registry.Names().Split(path ? path : "");
  // Neither the root of the machine nor the key of the handle itself.
  if (components.empty()) return kErrorInvalidParameter;
  const std::string last(components.back());
  components.pop_back();
  Registry::Node* parent = nullptr;
  std::uint32_t access = 0;
  std::string parentPath;
  if (const long error = m_state->KeyOf(m_registry, root, &parent, &access, &parentPath)) {
    return error;
  }
  // A link on the way fails the deletion; a link that the path names is the
  // key deleted, and its target stays.
  if (const long error = DescendOwnKeys(m_registry, parent, components, &parent, &parentPath)) {
    return error;
  }
  if (const long error = NameError(m_registry, last)) return error;
  Registry::Node* victim = parent->FindChild(last, m_registry.Names());
  if (!victim) return kErrorFileNotFound;
  JournalEntry entry;
  entry.keyPath = parentPath.empty() ? victim->name : parentPath + '\\' + victim->name;
  // Pre-order: a key's parent is the nearest key before it whose path ends
  // where the key's name begins.
  std::vector<std::size_t> pathLengths;
  m_registry.VisitSubtree(
      *victim, entry.keyPath, [&](const std::string& keyPath, const Registry::Node& key) {
        const std::size_t parentLength =
            keyPath.size() - key.name.size() - (pathLengths.empty() ? 0 : 1);
        while (!pathLengths.empty() && pathLengths.back() != parentLength) {
          pathLengths.pop_back();
        }
        entry.keys.push_back(
            DeletedKey{static_cast<std::uint32_t>(pathLengths.size()), key.name, key.values});
        pathLengths.push_back(keyPath.size());
      });
  parent->RemoveChild(victim, m_registry.Names());
  m_state->journal.Add(std::move(entry));
  return kErrorSuccess;
}

long SimMachine::RegDeleteValue(RegHandle key, const char* valueName) {
  const long result = DeleteValue(key, valueName);
  TraceEntry entry;
  entry.kind = TraceEntry::Kind::kValueDeleted;
  entry.result = result;
  if (m_state->trace) {
    entry.keyPath = KeyPathOf(key, "");
    entry.name = valueName ? valueName : "";
  }
  Note(std::move(entry));
  return result;
}

long SimMachine::DeleteValue(RegHandle key, const char* valueName) {
  if (const auto fault = Enter(Op::kRegDeleteValue, KeyPathOf(key, ""))) return *fault;
  Registry::Node* node = nullptr;
  std::uint32_t access = 0;
  JournalEntry entry;
  entry.kind = JournalEntry::Kind::kValueDeleted;
  if (const long error = m_state->KeyOf(m_registry, key, &node, &access, &entry.keyPath)) {
    return error;
  }
  if (!(access & kKeySetValue)) return kErrorAccessDenied;
  const std::string name = valueName ? valueName : "";
  const std::optional<ValueList::View> value = node->values.Find(name, m_registry.Names());
  if (!value) return kErrorFileNotFound;
  entry.value.Append(value->name, value->type, value->data, value->size);
  node->values.Erase(name, m_registry.Names());
  m_state->journal.Add(std::move(entry));
  return kErrorSuccess;
}

long SimMachine::RegCloseKey(RegHandle key) {
  if (const auto fault = Enter(Op::kRegCloseKey, KeyPathOf(key, ""))) return *fault;
  if (key == kLocalMachine) return kErrorSuccess;
  return m_state->keys.erase(key) ? kErrorSuccess : m_state->BadHandleError();
}

}  // namespace uninst::sim
