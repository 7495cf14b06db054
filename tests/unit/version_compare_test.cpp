// Version texts: what is one, what it is worth, and how two compare.

#include "verify/version_compare.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(VersionText, ValidTextsReadAsFourComponents) {
    const std::pair<const wchar_t*, VersionNumber> cases[] = {
        {L"2.1", {2, 1, 0, 0}},
        {L"2.01", {2, 1, 0, 0}},
        {L"2.1.0.0", {2, 1, 0, 0}},
        {L"1.2.0.15", {1, 2, 0, 15}},
        {L"0.0", {0, 0, 0, 0}},
        {L"00000.00000", {0, 0, 0, 0}},
        {L"65535.65535.65535.65535", {65535, 65535, 65535, 65535}},
        {L"10.0.3", {10, 0, 3, 0}},
    };
    for (const auto& [text, expected] : cases) {
        const std::optional<VersionNumber> parsed = ParseVersion(text);
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(*parsed, expected) << text;
    }
}

TEST(VersionText, MalformedTextsAreNotVersions) {
    const wchar_t* const cases[] = {
        L"",         L"7",    L"1.2.3.4.5", L"1..2",     L".1.2",     L"1.2.",   L" 1.2", L"1.2 ",
        L"1.2-beta", L"v1.2", L"65536.0",   L"0.65536",  L"000001.0", L"1.2.3.", L"+1.2", L"1,2",
        L".",        L"..",   L"１.２",     L"1.\u0662", L"1.2\n",    L"99999.1"};
    for (const wchar_t* text : cases) {
        EXPECT_FALSE(ParseVersion(text).has_value())
            << "accepted: " << testing::PrintToString(std::wstring(text));
    }
    // An embedded NUL is a character like any other, not an end.
    EXPECT_FALSE(ParseVersion(std::wstring_view(L"1.2\0", 4)).has_value());
}

struct Comparison {
    const wchar_t* First;
    const wchar_t* Second;
    bool Newer;
    bool Same;
};

TEST(VersionComparison, NewerAndSameFollowTheNumbersNotTheText) {
    const Comparison cases[] = {
        {L"2.1", L"2.1.0.0", false, true},
        {L"2.01", L"2.1", false, true},
        {L"10.0", L"9.9.9.9", true, false},
        {L"2.1.0.1", L"2.1.0.0", true, false},
        {L"2.1", L"2.1.0.0", false, true},
        {L"2.0", L"1.0.0.0", true, false},
        {L"1.0.0.0", L"2.0", false, false},
        {L"65535.65535.65535.65535", L"65535.65535.65535.65534", true, false},
        {L"65535.65535.65535.65535", L"65535.65535.65535.65535", false, true},
        {L"", L"", false, false},
        {L"2.0", L"", false, false},
        {L"", L"1.0", false, false},
        {L"latest", L"latest", false, false},
        {L"2.0-rc", L"1.0", false, false},
    };
    for (const Comparison& c : cases) {
        EXPECT_EQ(IsNewerVersion(c.First, c.Second), c.Newer) << c.First << " vs " << c.Second;
        EXPECT_EQ(IsSameVersion(c.First, c.Second), c.Same) << c.First << " vs " << c.Second;
    }
}

TEST(VersionComparison, NoVersionIsNewerThanTheLargest) {
    for (const wchar_t* text : {L"65535.65535.65535.65535", L"65535.65535.65535", L"9.9"}) {
        EXPECT_FALSE(IsNewerVersion(text, L"65535.65535.65535.65535")) << text;
    }
}

} // namespace
