// What the readers return where the end-to-end refusals cannot tell: the
// 128-character limit of ProductVersion, and that a damaged version resource
// gives only its own bytes, never what lies after it.

#include "damaged_packages.h"
#include "editor_side.h"
#include "verify/file_version.h"

#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// A database with a Property table holding the given rows, written with the
// same msi.dll the helper reads it with.
std::wstring MakeMsiDatabase(const std::vector<std::pair<std::wstring, std::wstring>>& rows) {
    const std::wstring path = MakeWorkFolder(L"msi") + L"\\package.msi";
    MSIHANDLE database = 0;
    EXPECT_EQ(MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, &database), 0u);
    const auto run = [database](const std::wstring& query) {
        MSIHANDLE view = 0;
        EXPECT_EQ(MsiDatabaseOpenViewW(database, query.c_str(), &view), 0u) << "query failed";
        EXPECT_EQ(MsiViewExecute(view, 0), 0u);
        MsiCloseHandle(view);
    };
    run(L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
        L"PRIMARY KEY `Property`)");
    for (const auto& [name, value] : rows) {
        run(L"INSERT INTO `Property` (`Property`, `Value`) VALUES ('" + name + L"', '" + value +
            L"')");
    }
    EXPECT_EQ(MsiDatabaseCommit(database), 0u);
    MsiCloseHandle(database);
    return path;
}

TEST(MsiProductVersion, ReadsTheProductVersionPropertyUpTo127Characters) {
    const std::wstring long127 = L"1." + std::wstring(125, L'0');
    const std::wstring long128 = L"1." + std::wstring(126, L'0');
    const std::pair<std::wstring, std::wstring> cases[] = {
        {MakeMsiDatabase({{L"ProductName", L"Tavo PDF"}, {L"ProductVersion", L"2.1"}}), L"2.1"},
        {MakeMsiDatabase({{L"ProductVersion", long127}}), long127},
        {MakeMsiDatabase({{L"ProductVersion", long128}}), L""},
        {MakeMsiDatabase({{L"ProductName", L"Tavo PDF"}}), L""},
    };
    for (const auto& [path, version] : cases) {
        EXPECT_EQ(ReadMsiProductVersion(path), version) << testing::PrintToString(path);
    }
}

TEST(DamagedVersionResource, ReadersReturnOnlyWhatTheResourceHolds) {
    struct Case {
        VersionResourceDamage Damage;
        const wchar_t* Description;
        const wchar_t* Version;
    };
    const Case cases[] = {
        {VersionResourceDamage::None, L"Tavo PDF Setup", L"2.0.0.0"},
        {VersionResourceDamage::BadSignature, L"Tavo PDF Setup", L""},
        {VersionResourceDamage::UnterminatedDescription, L"Tavo PDF Setup", L"2.0.0.0"},
        {VersionResourceDamage::ShortTranslationTable, L"", L"2.0.0.0"},
    };
    const std::wstring folder = MakeWorkFolder(L"damaged");
    for (const Case& c : cases) {
        const std::wstring path = MakeSetupWithVersionResource(folder, c.Damage);
        EXPECT_EQ(ReadFileDescription(path), c.Description) << static_cast<int>(c.Damage);
        EXPECT_EQ(ReadFileVersion(path), c.Version) << static_cast<int>(c.Damage);
    }
}

} // namespace
