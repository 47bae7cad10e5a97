// Moving keys between registry.reg's form and the simulated registry.
#include <string_view>

#include "platform/sim/RegistryNode.h"
#include "tools/uninst-sim/RegFile.h"

namespace uninst::tool {

std::vector<RegKeyEntry> SnapshotOf(const sim::Registry& registry) {
  std::vector<RegKeyEntry> keys;
  registry.VisitKeys([&keys](const std::string& path, const std::vector<sim::RegValue>& values) {
    keys.push_back(RegKeyEntry{path, values});
  });
  return keys;
}

void LoadIntoRegistry(const RegDocument& document, sim::Registry& registry) {
  // A key mostly comes right after its parent: it is then created from there,
  // so that a deep path costs its length once rather than once per level.
  const std::string* previousPath = nullptr;
  sim::Registry::Node* previous = nullptr;
  for (const RegKeyEntry& key : document.keys) {
    const bool below = previousPath && key.path.size() > previousPath->size() &&
                       key.path[previousPath->size()] == '\\' &&
                       key.path.compare(0, previousPath->size(), *previousPath) == 0;
    sim::Registry::Node* node =
        below ? previous->Walk(std::string_view(key.path).substr(previousPath->size() + 1), true)
              : registry.Root()->Walk(key.path, true);
    // A new key takes its values whole: an entry names each value once.
    if (node->values.empty()) {
      node->values = key.values;
    } else {
      for (const sim::RegValue& value : key.values) node->SetValue(value);
    }
    previous = node;
    previousPath = &key.path;
  }
}

}  // namespace uninst::tool
