#include "support/version.h"

#include <gtest/gtest.h>
#include <string_view>

TEST(Version, IsTheToolsVersion) {
    EXPECT_EQ(std::string_view(kestal::kVersion), "1.3.1");
}
