// Which decoder complexity profile each combination of mode, complexity and level asks for.
#include <gtest/gtest.h>

#include <string>

#include "profile/profile_builder.h"

namespace {

std::string Narrow(const WCHAR* text) {
    if (!text) return "(none)";
    std::string out;
    for (; *text; ++text) out.push_back(static_cast<char>(*text));
    return out;
}

std::string Profile(int32_t mode, int32_t complexity, uint32_t level) {
    return Narrow(DecoderProfileString(mode, complexity, level));
}

TEST(DecoderProfile, LevelsNameTheLevelAtTheirListPositionInModesThatHonourThem) {
    for (int32_t mode : {0, 1, 4}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(Profile(mode, 0, 0), "SP@LL");
        EXPECT_EQ(Profile(mode, 0, 1), "SP@ML");
        EXPECT_EQ(Profile(mode, 1, 0), "MP@LL");
        EXPECT_EQ(Profile(mode, 1, 1), "MP@ML");
        EXPECT_EQ(Profile(mode, 1, 2), "MP@HL");
        // Past the last level of the profile: its highest level.
        EXPECT_EQ(Profile(mode, 0, 2), "SP@ML");
        EXPECT_EQ(Profile(mode, 0, 3), "SP@ML");
        EXPECT_EQ(Profile(mode, 1, 3), "MP@HL");
        EXPECT_EQ(Profile(mode, 1, 0xFFFFFFFFu), "MP@HL");
    }
}

TEST(DecoderProfile, QualityAndUnconstrainedVbrUseTheBareProfile) {
    for (int32_t mode : {2, 3}) {
        for (uint32_t level : {0u, 1u, 2u, 3u}) {
            EXPECT_EQ(Profile(mode, 0, level), "SP");
            EXPECT_EQ(Profile(mode, 1, level), "MP");
        }
    }
}

TEST(DecoderProfile, ComplexIsAlwaysCpAndUnknownComplexitiesHaveNone) {
    for (int32_t mode = 0; mode <= 4; ++mode) {
        for (uint32_t level : {0u, 2u, 7u}) {
            EXPECT_EQ(Profile(mode, 2, level), "CP");
            EXPECT_EQ(Profile(mode, 3, level), "(none)");
            EXPECT_EQ(Profile(mode, -1, level), "(none)");
        }
    }
}

}  // namespace
