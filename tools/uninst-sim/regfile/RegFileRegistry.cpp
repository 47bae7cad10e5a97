// The simulated registry's keys in registry.reg's form.
#include "platform/sim/RegistryNode.h"
#include "tools/uninst-sim/regfile/RegFile.h"

namespace uninst::tool {

std::vector<RegKeyEntry> SnapshotOf(const sim::Registry& registry) {
  std::vector<RegKeyEntry> keys;
  registry.VisitKeys([&keys](const std::string& path, const sim::Registry::Node& key) {
    keys.push_back(RegKeyEntry{path, key.values.ToValues()});
  });
  return keys;
}

}  // namespace uninst::tool
