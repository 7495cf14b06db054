// Generated texts through the version parser, judged against an oracle
// written independently here: a regular expression for the form and a
// numeric check for each component's value.

#include "verify/version_compare.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

namespace {

std::optional<VersionNumber> Oracle(const std::wstring& text) {
    static const std::wregex form(L"[0-9]{1,5}(\\.[0-9]{1,5}){1,3}");
    if (!std::regex_match(text, form)) {
        return std::nullopt;
    }
    VersionNumber version = {0, 0, 0, 0};
    size_t component = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'.', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const unsigned long value = std::stoul(text.substr(start, end - start));
        if (value > 65535) {
            return std::nullopt;
        }
        version[component++] = static_cast<std::uint32_t>(value);
        start = end + 1;
    }
    return version;
}

// Mostly version-shaped texts (one to five components of zero to six digits,
// values near the 65535 limit), a third of them then damaged in one place.
std::wstring GenerateVersionText(std::mt19937& random) {
    static const std::wstring damage(L" -+a\t,.\u0661\uff11\0", 10); // NUL included
    std::wstring text;
    const int components = 1 + static_cast<int>(random() % 5);
    for (int component = 0; component < components; ++component) {
        if (component > 0) {
            text += L'.';
        }
        const int digits = static_cast<int>(random() % 7);
        if (digits == 5 && random() % 2 == 0) {
            text += std::to_wstring(65530 + random() % 10);
            continue;
        }
        for (int digit = 0; digit < digits; ++digit) {
            text += static_cast<wchar_t>(L'0' + random() % 10);
        }
    }
    if (random() % 3 == 0) {
        const size_t at = text.empty() ? 0 : random() % (text.size() + 1);
        switch (random() % 3) {
        case 0:
            text.insert(at, 1, damage[random() % damage.size()]);
            break;
        case 1:
            text.erase(at < text.size() ? at : 0, 1);
            break;
        default:
            text.insert(at, L".");
            break;
        }
    }
    return text;
}

TEST(VersionFuzz, HundredThousandTextsAgreeWithTheOracle) {
    const unsigned seed = 65535;
    std::mt19937 random(seed);
    int valid = 0;
    for (int round = 0; round < 100000; ++round) {
        const std::wstring text = GenerateVersionText(random);
        const std::optional<VersionNumber> expected = Oracle(text);
        const std::optional<VersionNumber> parsed = ParseVersion(text);
        ASSERT_EQ(parsed.has_value(), expected.has_value())
            << "seed " << seed << ", round " << round << ", text " << testing::PrintToString(text);
        if (expected) {
            ++valid;
            ASSERT_EQ(*parsed, *expected) << testing::PrintToString(text);
        }
    }
    EXPECT_GT(valid, 10000) << "too few valid texts to prove anything";
    std::printf("%d of 100000 texts were versions\n", valid);
}

} // namespace
