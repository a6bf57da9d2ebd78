#include "AppList.h"

#include <gtest/gtest.h>

using namespace morvane;

TEST(AppList, TermsAreTrimmedLowerCasedAndNonEmpty) {
    EXPECT_EQ(AppList::terms("Teams, Slack, Zoom"), (QStringList{"teams", "slack", "zoom"}));
    EXPECT_EQ(AppList::terms(" ,\t, Zoom ,, "), QStringList{"zoom"});
    EXPECT_TRUE(AppList::terms("").isEmpty());
    EXPECT_EQ(AppList::terms("a\n, b"), (QStringList{"a\n", "b"})) << "line breaks are not padding";
}

TEST(AppList, MatchingIsCaseInsensitiveSubstring) {
    EXPECT_TRUE(AppList::matches("Microsoft Teams", "tea"));
    EXPECT_FALSE(AppList::matches("Zoom", ""));
    EXPECT_TRUE(AppList::matches("Slack", "SLACK"));
    EXPECT_TRUE(AppList::matches("Ñandú Ágil", "ágil")) << "lower-casing is not ASCII-only";
    EXPECT_FALSE(AppList::firstMatch({"zoom.us"}, ""));
    EXPECT_EQ(AppList::firstMatch({"", "Firefox", "zoom.us", "Zoom"}, "zoom"), QStringLiteral("zoom.us"));
}
