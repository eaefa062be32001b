// The daily notice's decisions: when the line is printed, when the
// background check starts, and what is saved.
#include "update/notice.h"

#include <gtest/gtest.h>

namespace kestal::update {
namespace {

constexpr std::uint64_t kDay = 86400;
// Noon of day 20428.
constexpr std::uint64_t kNow = 20428 * kDay + kDay / 2;
constexpr std::uint64_t kToday = 20428;

TEST(UpdateNotice, Plans) {
    struct Row {
        const char *what;
        UpdateState state;
        bool notice;
        bool background;
        bool save;
        UpdateState saved;
    };
    const Row rows[] = {
        {"newer, not told today, checked just now",
         {false, kNow - 10, "1.4.0", kToday - 1},
         true,
         false,
         true,
         {false, kNow - 10, "1.4.0", kToday}},
        {"newer, told today",
         {false, kNow - 10, "1.4.0", kToday},
         false,
         false,
         false,
         {false, kNow - 10, "1.4.0", kToday}},
        {"newer, not told, checked a day ago",
         {false, kNow - kDay, "1.4.0", 0},
         true,
         true,
         true,
         {false, kNow, "1.4.0", kToday}},
        {"newer, told today, checked a day ago",
         {false, kNow - kDay, "1.4.0", kToday},
         false,
         true,
         true,
         {false, kNow, "1.4.0", kToday}},
        {"checked one second short of a day",
         {false, kNow - kDay + 1, "", 0},
         false,
         false,
         false,
         {false, kNow - kDay + 1, "", 0}},
        {"same version, never checked",
         {false, 0, "1.3.1", 0},
         false,
         true,
         true,
         {false, kNow, "1.3.1", 0}},
        {"invalid version", {false, kNow, "1.4", 0}, false, false, false, {false, kNow, "1.4", 0}},
        {"checked in the future",
         {false, kNow + 5 * kDay, "", 0},
         false,
         false,
         false,
         {false, kNow + 5 * kDay, "", 0}},
        {"off", {true, 0, "9.0.0", 0}, false, false, false, {true, 0, "9.0.0", 0}},
        // Days change at midnight UTC: told yesterday means a notice now.
        {"told on the day before, a second after midnight",
         {false, kToday * kDay, "1.4.0", kToday - 1},
         true,
         false,
         true,
         {false, kToday * kDay, "1.4.0", kToday}},
    };
    for (const Row &row : rows) {
        NoticePlan plan = plan_daily_notice(row.state, kNow);
        EXPECT_EQ(plan.print_notice, row.notice) << row.what;
        EXPECT_EQ(plan.start_background, row.background) << row.what;
        EXPECT_EQ(plan.save, row.save) << row.what;
        EXPECT_EQ(plan.state, row.saved) << row.what;
    }
}

TEST(UpdateNotice, AfterMidnightTheNoticeComesOnceMore) {
    UpdateState state{false, kNow, "1.4.0", 0};
    NoticePlan first = plan_daily_notice(state, kNow);
    ASSERT_TRUE(first.print_notice);
    NoticePlan again = plan_daily_notice(first.state, kNow + 60);
    EXPECT_FALSE(again.print_notice);
    NoticePlan midnight = plan_daily_notice(first.state, (kToday + 1) * kDay);
    EXPECT_TRUE(midnight.print_notice);
    EXPECT_EQ(midnight.state.told, kToday + 1);
}

TEST(UpdateNotice, Line) {
    EXPECT_EQ(notice_line("1.4.0"), "kestal: Kestal 1.4.0 is out (you have 1.3.1). Run `kestal "
                                    "update`. (turn this off: kestal update --off)");
}

} // namespace
} // namespace kestal::update
