// Package verification where the end-to-end rows cannot tell: what is a
// version text and how versions compare, and the longest MSI product version
// that is read.

#include "editor_side.h"
#include "verify/file_version.h"
#include "verify/version_compare.h"

#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

namespace {

TEST(VersionText, IsTwoToFourComponentsOfAtMostFiveAsciiDigitsUpTo65535) {
    const VersionNumber two = {2, 1, 0, 0};
    const VersionNumber four = {65535, 1, 0, 9};
    // clang-format off
    const std::pair<const wchar_t*, std::optional<VersionNumber>> cases[] = {
        {L"2.1", two}, {L"65535.00001.0.9", four}, {L"", {}}, {L"7", {}}, {L"1.2.3.4.5", {}},
        {L"1..2", {}}, {L".1.2", {}}, {L"1.2.", {}}, {L"1.2 ", {}}, {L"v1.2", {}}, {L"1./", {}},
        {L"1.:", {}}, {L"65536.0", {}}, {L"000001.0", {}}, {L"\uFF11.0", {}}};
    // clang-format on
    for (const auto& [text, version] : cases) {
        EXPECT_EQ(ParseVersion(text), version) << testing::PrintToString(text);
    }
}

TEST(VersionComparison, FollowsTheNumbersNotTheText) {
    // First, second, whether the first is newer, whether both are the same.
    // clang-format off
    const std::tuple<const wchar_t*, const wchar_t*, bool, bool> cases[] = {
        {L"2.1", L"2.1.0.0", false, true}, {L"2.01", L"2.1", false, true},
        {L"10.0", L"9.9.9.9", true, false}, {L"2.1.1", L"2.1.0.9", true, false},
        {L"2.1.0.1", L"2.1.0.0", true, false}, {L"2.1.0.0", L"2.1.0.1", false, false},
        {L"65535.65535.65535.65535", L"65535.65535.65535.65534", true, false},
        {L"latest", L"latest", false, false}, {L"2.0", L"", false, false}, {L"", L"2.0", false, false}};
    // clang-format on
    for (const auto& [first, second, newer, same] : cases) {
        EXPECT_EQ(IsNewerVersion(first, second), newer) << first << " vs " << second;
        EXPECT_EQ(IsSameVersion(first, second), same) << first << " vs " << second;
    }
}

TEST(MsiProductVersion, IsReadUpTo127Characters) {
    const std::wstring path = MakeWorkFolder(L"msi") + L"\\package.msi";
    CopyFileW((FixturesFolder() + L"\\packages\\editor-2.0.msi").c_str(), path.c_str(), FALSE);
    for (const std::wstring& version :
         {L"1." + std::wstring(125, L'0'), L"1." + std::wstring(126, L'0')}) {
        MSIHANDLE database = 0;
        MSIHANDLE view = 0;
        MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_TRANSACT, &database);
        const std::wstring query =
            L"UPDATE `Property` SET `Value`='" + version + L"' WHERE `Property`='ProductVersion'";
        MsiDatabaseOpenViewW(database, query.c_str(), &view);
        MsiViewExecute(view, 0);
        MsiCloseHandle(view);
        MsiDatabaseCommit(database);
        MsiCloseHandle(database);
        EXPECT_EQ(ReadMsiProductVersion(path), version.size() < 128 ? version : L"")
            << version.size();
    }
}

} // namespace
