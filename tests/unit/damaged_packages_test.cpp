// The version readers on damaged files: every damage gives an empty text or
// exactly the bytes the resource holds, never a crash and never text from
// beyond the resource.

#include "damaged_packages.h"
#include "editor_side.h"
#include "verify/file_version.h"

#include <gtest/gtest.h>

namespace {

TEST(DamagedVersionResource, ReadersReturnOnlyWhatTheResourceHolds) {
    struct Case {
        const char* Situation;
        VersionResourceDamage Damage;
        const wchar_t* Description;
        const wchar_t* Version;
    };
    const Case cases[] = {
        {"sound", VersionResourceDamage::None, L"Tavo PDF Setup", L"2.0.0.0"},
        {"bad signature", VersionResourceDamage::BadSignature, L"Tavo PDF Setup", L""},
        {"short fixed info", VersionResourceDamage::ShortFixedInfo, L"Tavo PDF Setup", L""},
        {"description without terminator", VersionResourceDamage::UnterminatedDescription,
         L"Tavo PDF Setup", L"2.0.0.0"},
        {"foreign name without terminator", VersionResourceDamage::UnterminatedOtherName,
         L"Other Vendor Setup", L"2.0.0.0"},
        {"translation table of one word", VersionResourceDamage::ShortTranslationTable, L"",
         L"2.0.0.0"},
        {"no translation table", VersionResourceDamage::NoTranslationTable, L"", L"2.0.0.0"},
    };
    const std::wstring folder = MakeWorkFolder(L"damaged");
    for (const Case& c : cases) {
        const std::wstring path = MakeSetupWithVersionResource(folder, c.Damage);
        EXPECT_EQ(ReadFileDescription(path), c.Description) << c.Situation;
        EXPECT_EQ(ReadFileVersion(path), c.Version) << c.Situation;
    }
}

TEST(DamagedPackages, BrokenFilesGiveNoVersionAtAll) {
    const std::wstring folder = MakeWorkFolder(L"damaged");
    const std::wstring empty = folder + L"\\empty.exe";
    WriteBytes(empty, "");
    EXPECT_EQ(ReadMsiProductVersion(MakeMsiThatIsNotADatabase(folder)), L"");
    EXPECT_EQ(ReadMsiProductVersion(MakeTruncatedMsi(folder)), L"");
    EXPECT_EQ(ReadMsiProductVersion(empty), L"");
    EXPECT_EQ(ReadFileDescription(empty), L"");
    EXPECT_EQ(ReadFileVersion(empty), L"");
    EXPECT_EQ(ReadFileVersion(MakeMsiThatIsNotADatabase(folder)), L"");
}

} // namespace
