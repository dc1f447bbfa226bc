// The screensaver needs the Flash control: every case runs with the stand-in player registered in its place.
#include <gtest/gtest.h>

#include "PlayerRegistration.h"

namespace {

class TStandInPlayerEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(RegisterStandInPlayer(MUTONE_PLAYER_PATH)); }
    void TearDown() override { UnregisterStandInPlayer(); }
};

const auto* const StandInPlayer = ::testing::AddGlobalTestEnvironment(new TStandInPlayerEnvironment);

} // namespace
