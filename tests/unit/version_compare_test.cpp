// Comparing version texts: by number, not by text; an invalid text on either
// side is never newer and never the same. (What is a version text at all is
// checked against an oracle in version_fuzz_test.)

#include "verify/version_compare.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionComparison, NewerAndSameFollowTheNumbersNotTheText) {
    struct Case {
        const wchar_t* First;
        const wchar_t* Second;
        bool Newer;
        bool Same;
    };
    const Case cases[] = {
        {L"2.1", L"2.1.0.0", false, true},
        {L"2.01", L"2.1", false, true},
        {L"10.0", L"9.9.9.9", true, false},
        {L"2.1.0.1", L"2.1.0.0", true, false},
        {L"1.0.0.0", L"2.0", false, false},
        {L"65535.65535.65535.65535", L"65535.65535.65535.65534", true, false},
        {L"65535.65535.65535.65535", L"65535.65535.65535.65535", false, true},
        {L"", L"", false, false},
        {L"2.0", L"", false, false},
        {L"latest", L"latest", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsNewerVersion(c.First, c.Second), c.Newer) << c.First << " vs " << c.Second;
        EXPECT_EQ(IsSameVersion(c.First, c.Second), c.Same) << c.First << " vs " << c.Second;
    }
}

} // namespace
