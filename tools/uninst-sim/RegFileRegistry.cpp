// Moving keys between registry.reg's form and the simulated registry.
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
  for (const RegKeyEntry& key : document.keys) {
    registry.CreateKey(key.path);
    for (const sim::RegValue& value : key.values) {
      registry.SetValue(key.path, value.name, value.type, value.data);
    }
  }
}

}  // namespace uninst::tool
