// A simulated machine with drive C: in a fresh host folder, and an
// application object set up as the run leaves it before its phases.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/UninstallApp.h"
#include "platform/sim/SimMachine.h"
#include "res/Messages.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/SimFixture.h"

namespace uninst::test {

constexpr std::int64_t kMarch3rd1999 = 920419200;  // 1999-03-03 00:00:00 UTC

// A program image whose version resource holds these version words.
inline std::vector<std::uint8_t> VersionedImage(std::uint32_t fileMS, std::uint32_t fileLS,
                                                std::uint32_t productMS, std::uint32_t productLS) {
  const auto quad = [](std::uint32_t high, std::uint32_t low) {
    testsupport::VersionQuad version;
    version.parts[0] = static_cast<std::uint16_t>(high >> 16);
    version.parts[1] = static_cast<std::uint16_t>(high);
    version.parts[2] = static_cast<std::uint16_t>(low >> 16);
    version.parts[3] = static_cast<std::uint16_t>(low);
    return version;
  };
  testsupport::PeImageRecipe recipe;
  recipe.fileVersion = quad(fileMS, fileLS);
  recipe.productVersion = quad(productMS, productLS);
  return testsupport::BuildPeImage(recipe);
}

inline std::vector<std::uint8_t> FillerBytes(std::size_t size) {
  return std::vector<std::uint8_t>(size, ';');
}

template <class Base = ::testing::Test>
class FilesFixtureOf : public Base {
 protected:
  FilesFixtureOf() {
    EXPECT_FALSE(m_folder.Path().empty());
    m_machine.MapDrive('C', m_folder.Path());
  }
  ~FilesFixtureOf() override { EXPECT_EQ(m_machine.OpenHandleCount(), 0u); }

  // Confirm switch and language as the run sets them, caption loaded.
  void UseApp(bool confirm, int languageBase = kLanguageBaseEnglish) {
    m_run.confirmSwitch = confirm ? 1 : 0;
    m_run.languageBase = languageBase;
    m_run.LoadMessage(m_run.caption, kMsgCaption);
  }

  // Hands `path` over in the path buffer, as every caller does.
  int Remove(const std::string& path) {
    EXPECT_TRUE(CopyBounded(m_run.pathBuffer, sizeof m_run.pathBuffer, path.c_str()));
    return m_app.RemoveFileConfirmed(m_run.pathBuffer);
  }

  testsupport::ScratchFolder m_folder;
  sim::SimMachine m_machine;
  UninstallApp m_app{m_machine};
  RunContext& m_run = m_app.Context();
};

using FilesFixture = FilesFixtureOf<>;
template <class Param>
using FilesFixtureWithParam = FilesFixtureOf<::testing::TestWithParam<Param>>;

}  // namespace uninst::test
