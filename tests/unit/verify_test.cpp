// Package verification where the end-to-end rows cannot tell: version texts,
// and what the readers give for packages and version resources that are
// damaged or at their limits.

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

// The stand-in setup's own version resource is the last one in its file
// (the editor it carries comes first), so texts are found from the end.
size_t Find(const std::string& bytes, const std::wstring& text) {
    return bytes.rfind(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
}

TEST(DamagedVersionResource, ReadersGiveOnlyWhatTheResourceHolds) {
    // A damage to the setup's bytes; the description (null: not judged) and
    // the version the readers must then give.
    const std::tuple<void (*)(std::string&, size_t root), const wchar_t*, const wchar_t*> cases[] =
        {{[](std::string&, size_t) {}, L"Tavo PDF Setup", L"2.0.0.0"},
         {[](std::string& s, size_t root) { s[s.find("\xBD\x04\xEF\xFE", root)] = 0; },
          L"Tavo PDF Setup", L""},
         {[](std::string& s, size_t root) { s[root + 2] = 40; }, nullptr, L""}, // short fixed block
         {[](std::string& s, size_t) { s[Find(s, L"Translation") - 4] = 2; }, L"", L"2.0.0.0"},
         {[](std::string& s, size_t) { s[Find(s, L"Translation")] = 'X'; }, L"", L"2.0.0.0"},
         // The resource ends right after the description, before its NUL.
         {[](std::string& s, size_t root) {
              const size_t end = Find(s, L"Tavo PDF Setup") + 28 - root;
              s[root] = static_cast<char>(end & 0xFF), s[root + 1] = static_cast<char>(end >> 8);
          },
          L"Tavo PDF Setup", L"2.0.0.0"}};
    const std::string setup = *ReadBytes(FixturesFolder() + L"\\setup\\tavoPDFEditor.exe");
    const std::wstring folder = MakeWorkFolder(L"version");
    int number = 0;
    for (const auto& [damage, description, version] : cases) {
        std::string bytes = setup;
        damage(bytes, Find(bytes, L"VS_VERSION_INFO") - 6);
        const std::wstring path = folder + L"\\" + std::to_wstring(++number) + L".exe";
        WriteBytes(path, bytes);
        EXPECT_TRUE(description == nullptr || ReadFileDescription(path) == description) << number;
        EXPECT_EQ(ReadFileVersion(path), version) << number;
    }
}

} // namespace
