// Reading versions and identities from real files: the stand-in editors and
// setups (version resources compiled by windres), MSI packages built by wixl,
// and MSI databases written here through msi.dll.

#include "editor_side.h"
#include "verify/file_version.h"

#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

std::wstring Fixture(const wchar_t* relative) {
    return FixturesFolder() + L"\\" + relative;
}

TEST(FileVersion, ReadsTheFixedFileVersionOrNothing) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {Fixture(L"editor-1.0\\tavoPDFEditor.exe"), L"1.0.0.0"},
        {Fixture(L"editor-2.0\\tavoPDFEditor.exe"), L"2.0.0.0"},
        {Fixture(L"setups\\setup-exit0.exe"), L"2.0.0.0"},
        {Fixture(L"editor-unversioned\\tavoPDFEditor.exe"), L""},
        {Fixture(L"packages\\editor-2.0.msi"), L""},
        {Fixture(L"no-such-file.exe"), L""},
    };
    for (const auto& [path, version] : cases) {
        EXPECT_EQ(ReadFileVersion(path), version) << testing::PrintToString(path);
    }
}

TEST(FileDescription, ReadsTheFirstTranslationsDescriptionOrNothing) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {Fixture(L"setups\\setup-exit0.exe"), L"Tavo PDF Setup"},
        {Fixture(L"setups\\setup-lowercase.exe"), L"tavo pdf setup"},
        {Fixture(L"setups\\setup-foreign.exe"), L"Other Vendor Setup"},
        {Fixture(L"editor-1.0\\tavoPDFEditor.exe"), L"Tavo PDF Editor"},
        {Fixture(L"editor-unversioned\\tavoPDFEditor.exe"), L""},
        {Fixture(L"no-such-file.exe"), L""},
    };
    for (const auto& [path, description] : cases) {
        EXPECT_EQ(ReadFileDescription(path), description) << testing::PrintToString(path);
    }
}

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
        {Fixture(L"packages\\editor-2.0.msi"), L"2.0.0"},
        {MakeMsiDatabase({{L"ProductName", L"Tavo PDF"}, {L"ProductVersion", L"2.1"}}), L"2.1"},
        {MakeMsiDatabase({{L"ProductVersion", long127}}), long127},
        {MakeMsiDatabase({{L"ProductVersion", long128}}), L""},
        {MakeMsiDatabase({{L"ProductName", L"Tavo PDF"}}), L""},
        {Fixture(L"setups\\setup-exit0.exe"), L""},
        {Fixture(L"no-such-file.msi"), L""},
    };
    for (const auto& [path, version] : cases) {
        EXPECT_EQ(ReadMsiProductVersion(path), version) << testing::PrintToString(path);
    }
}

} // namespace
