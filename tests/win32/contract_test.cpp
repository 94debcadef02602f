// The platform's contract against the real platform: Windows, or Wine where the table
// of known Wine deviations says how Wine answers instead.
#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "platform/win32_platform.h"
#include "tests/win32/win32_test_support.h"

namespace vol::test {
namespace {

using contract::Fact;

std::string FactName(const ::testing::TestParamInfo<Fact>& info) { return info.param.name; }

class PlatformContract : public ::testing::TestWithParam<Fact> {};

// Facts that define scratch letters see the whole prefix; the suite holds the lock that
// keeps the other suites of the prefix from running beside it.
TEST_P(PlatformContract, HoldsOnThisSystem) {
  Win32Platform platform;
  const contract::Scene scene = contract::Arrange(platform);
  ASSERT_FALSE(scene.system_volume.empty()) << "no volume is mounted at C:\\";
  ASSERT_FALSE(scene.free_letter.empty()) << "no free drive letter";
  EXPECT_TRUE(contract::Holds(GetParam(), GetParam().ask(platform, scene), UnderWine()));
}

INSTANTIATE_TEST_SUITE_P(Facts, PlatformContract, ::testing::ValuesIn(contract::Facts()), FactName);

TEST(WineDeviations, NameFactsOfTheContract) {
  for (const contract::WineDeviation& deviation : contract::WineDeviations()) {
    bool known = false;
    for (const Fact& fact : contract::Facts()) known |= std::string(fact.name) == deviation.fact;
    EXPECT_TRUE(known) << deviation.fact;
  }
}

}  // namespace
}  // namespace vol::test
