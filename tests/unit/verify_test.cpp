// Package verification where the end-to-end rows cannot tell: the checksum's
// text and size rules, version texts, and what the readers give for packages
// and version resources that are damaged or at their limits.

#include "editor_side.h"
#include "verify/checksum.h"
#include "verify/file_version.h"
#include "verify/version_compare.h"

#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

namespace {

bool VerifyFile(const std::wstring& path, const std::wstring& expected) {
    return VerifyPackageChecksum(OpenPackageFile(path).get(), expected);
}

TEST(PackageChecksum, ExpectedTextAndFileContentDecide) {
    const std::wstring abc = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string large(3 * 1048576 + 5, '\0'); // more than one read
    for (size_t index = 0; index < large.size(); ++index) {
        large[index] = static_cast<char>(index * 31 + 7);
    }
    const std::wstring path = MakeWorkFolder(L"checksum") + L"\\package";
    WriteBytes(path, large);
    const std::tuple<std::string, std::wstring, bool> cases[] = {
        {large, Sha256OfFile(path), true},
        {"abc", abc, true},
        {"abc", L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", true},
        {"abc", L"ga7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", false},
        {"abd", abc, false},
        {"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", false}};
    for (const auto& [content, expected, verdict] : cases) {
        WriteBytes(path, content);
        EXPECT_EQ(VerifyFile(path, expected), verdict) << content.size() << " bytes, " << expected;
    }
}

// Sparse files of exactly 2 GiB of zeros and of one byte more.
TEST(PackageChecksum, TwoGibibytesPassAndOneByteMoreIsRefused) {
    const std::wstring zeros = L"a7c744c13cc101ed66c29f672f92455547889cc586ce6d44fe76ae824958ea51";
    const std::wstring path = MakeWorkFolder(L"checksum") + L"\\sparse";
    for (const LONGLONG size : {2147483648LL, 2147483649LL}) {
        const HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0);
        SetFilePointerEx(file, LARGE_INTEGER{.QuadPart = size}, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
        EXPECT_EQ(VerifyFile(path, zeros), size == 2147483648LL) << size << " bytes";
    }
}

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
    for (const size_t length : {127, 128}) {
        const std::wstring version = L"1." + std::wstring(length - 2, L'0');
        MSIHANDLE database = 0;
        MSIHANDLE view = 0;
        MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_TRANSACT, &database);
        MsiDatabaseOpenViewW(
            database,
            (L"UPDATE `Property` SET `Value`='" + version + L"' WHERE `Property`='ProductVersion'")
                .c_str(),
            &view);
        MsiViewExecute(view, 0);
        MsiCloseHandle(view);
        MsiDatabaseCommit(database);
        MsiCloseHandle(database);
        EXPECT_EQ(ReadMsiProductVersion(path), length < 128 ? version : L"") << length;
    }
}

size_t Find(const std::string& bytes, const std::wstring& text) {
    return bytes.find(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
}

TEST(DamagedVersionResource, ReadersGiveOnlyWhatTheResourceHolds) {
    struct Case {
        const char* Damage;
        void (*Apply)(std::string& resource);
        const wchar_t* Description; // null: not judged
        const wchar_t* Version;
    };
    const Case cases[] = {
        {"none", [](std::string&) {}, L"Tavo PDF Setup", L"2.0.0.0"},
        {"bad signature", [](std::string& r) { r[r.find("\xBD\x04\xEF\xFE")] = 0; },
         L"Tavo PDF Setup", L""},
        {"fixed block shorter than 52 bytes", [](std::string& r) { r[2] = 40; }, nullptr, L""},
        {"translation of one word", [](std::string& r) { r[Find(r, L"Translation") - 4] = 2; }, L"",
         L"2.0.0.0"},
        {"no translation", [](std::string& r) { r[Find(r, L"Translation")] = 'X'; }, L"",
         L"2.0.0.0"},
        {"resource ends inside the description",
         [](std::string& r) {
             const size_t end = Find(r, L"Tavo PDF Setup") + 28;
             r[0] = static_cast<char>(end & 0xFF), r[1] = static_cast<char>(end >> 8);
         },
         L"Tavo PDF Setup", L"2.0.0.0"}};
    // Each damage goes into a copy of the stand-in setup's own resource.
    const std::wstring setup = FixturesFolder() + L"\\setup\\tavoPDFEditor.exe";
    const HMODULE module = LoadLibraryExW(setup.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    const std::string resource(static_cast<const char*>(LockResource(LoadResource(module, found))),
                               SizeofResource(module, found));
    FreeLibrary(module);
    const std::wstring path = MakeWorkFolder(L"version") + L"\\setup.exe";
    for (const Case& c : cases) {
        std::string damaged = resource;
        c.Apply(damaged);
        CopyFileW(setup.c_str(), path.c_str(), FALSE);
        const HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
        UpdateResourceW(update, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), 0x409, damaged.data(),
                        static_cast<DWORD>(damaged.size()));
        EndUpdateResourceW(update, FALSE);
        if (c.Description != nullptr) {
            EXPECT_EQ(ReadFileDescription(path), c.Description) << c.Damage;
        }
        EXPECT_EQ(ReadFileVersion(path), c.Version) << c.Damage;
    }
}

} // namespace
