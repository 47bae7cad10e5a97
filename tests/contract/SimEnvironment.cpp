// The contract tests' environment on the simulated machine.
#include "platform/sim/SimMachine.h"
#include "tests/contract/ContractEnvironment.h"
#include "tests/support/SimFixture.h"

namespace uninst::contract {
namespace {

class SimFileHold final : public FileHold {
 public:
  SimFileHold(sim::SimMachine& machine, std::string path)
      : m_machine(machine), m_path(std::move(path)) {
    m_machine.SetInUse(m_path, true);
  }
  ~SimFileHold() override { m_machine.SetInUse(m_path, false); }

 private:
  sim::SimMachine& m_machine;
  std::string m_path;
};

class SimEnvironment final : public ContractEnvironment {
 public:
  explicit SimEnvironment(Family family) {
    m_world.machine.Config().family =
        family == Family::k9x ? sim::WindowsFamily::k9x : sim::WindowsFamily::kNt;
    // Making the host path of a file inside the scratch folder makes the folder.
    m_world.machine.CreateHostPath(ScratchDirectory() + "\\file");
  }

  Platform& GetPlatform() override { return m_world.machine; }

  void CreateKey(const std::string& path) override { Registry().CreateKey(path); }
  void SetValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                const std::vector<std::uint8_t>& data) override {
    Registry().SetValue(keyPath, name, type, data);
  }
  // As the Windows environment's plain open sees it: through links.
  bool KeyExists(const std::string& path) override {
    return Registry().KeyExistsThroughLinks(path);
  }
  bool ValueExists(const std::string& keyPath, const std::string& name) override {
    return Registry().GetValue(keyPath, name).has_value();
  }
  bool CreateLink(const std::string& path, const std::string& target) override {
    return Registry().CreateLink(path, target);
  }
  bool CreateKeyBeyondCodePage(const std::string& parentPath) override {
    return Registry().CreateKeyBeyondCodePage(parentPath, "A\\B");
  }
  void DeleteTree(const std::string& path) override { Registry().DeleteKey(path); }
  bool UseTimeZone(const std::string& zone, FileTime now) override {
    sim::TimeZone read;
    if (!sim::ReadTimeZone(zone, &read).empty()) return false;
    sim::MachineConfig& config = m_world.machine.Config();
    config.timeZoneBiasMinutes = read.biasMinutes;
    config.daylight = read.daylight;
    config.clockUnixSeconds =
        static_cast<std::int64_t>(now.ticks / kFileTimeTicksPerSecond) - kSecondsFrom1601To1970;
    return true;
  }
  bool UnderWine() override { return false; }

  std::string ScratchDirectory() override { return "C:\\Contract\\Scratch"; }
  void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                 FileTime lastWrite) override {
    const std::int64_t seconds =
        static_cast<std::int64_t>(lastWrite.ticks / kFileTimeTicksPerSecond) -
        kSecondsFrom1601To1970;
    m_world.machine.WriteFile(path, bytes, seconds);
  }
  bool FileExists(const std::string& path) override { return m_world.machine.FileExists(path); }
  void SetAttributes(const std::string& path, std::uint32_t attributes) override {
    m_world.machine.SetAttributesOf(path, attributes);
  }
  std::uint32_t Attributes(const std::string& path) override {
    return m_world.machine.AttributesOf(path);
  }
  std::unique_ptr<FileHold> HoldOpen(const std::string& path) override {
    return std::make_unique<SimFileHold>(m_world.machine, path);
  }

 private:
  sim::Registry& Registry() { return m_world.machine.GetRegistry(); }

  testsupport::SimWorld m_world;
};

}  // namespace

std::vector<Family> ContractFamilies() { return {Family::k9x, Family::kNt}; }

std::unique_ptr<ContractEnvironment> MakeContractEnvironment(Family family) {
  return std::make_unique<SimEnvironment>(family);
}

}  // namespace uninst::contract
