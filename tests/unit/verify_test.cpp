// Package verification where the end-to-end rows cannot tell: the checksum's
// text and size rules, version texts, and what the readers return for
// packages and version resources that are damaged or at their limits.

#include "editor_side.h"
#include "verify/checksum.h"
#include "verify/file_version.h"
#include "verify/version_compare.h"

#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

namespace {

bool VerifyFile(const std::wstring& path, const std::wstring& expected) {
    const UniqueHandle package = OpenPackageFile(path);
    return VerifyPackageChecksum(package.get(), expected);
}

TEST(PackageChecksum, ExpectedTextAndFileContentDecide) {
    const std::wstring abc = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string large(3 * 1048576 + 5, '\0'); // more than one read
    for (size_t index = 0; index < large.size(); ++index) {
        large[index] = static_cast<char>(index * 31 + 7);
    }
    const std::wstring folder = MakeWorkFolder(L"checksum");
    WriteBytes(folder + L"\\large", large);
    const std::tuple<std::string, std::wstring, bool> cases[] = {
        {"abc", abc, true},
        {"abc", L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", true},
        {"abc", L"Ba7816bF8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015Ad", true},
        {"abc", abc.substr(0, 63), false},
        {"abc", abc + L"0", false},
        {"abc", L" a7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", false},
        {"abc", L"ga7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", false},
        {"abd", abc, false},
        {"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", false},
        {large, Sha256OfFile(folder + L"\\large"), true},
    };
    for (const auto& [content, expected, verdict] : cases) {
        WriteBytes(folder + L"\\package", content);
        EXPECT_EQ(VerifyFile(folder + L"\\package", expected), verdict)
            << content.size() << " bytes, " << testing::PrintToString(expected);
    }
}

// Sparse files of exactly 2 GiB of zeros and one byte more.
TEST(PackageChecksum, TwoGibibytesPassAndOneByteMoreIsRefused) {
    const std::wstring zeros = L"a7c744c13cc101ed66c29f672f92455547889cc586ce6d44fe76ae824958ea51";
    const std::wstring path = MakeWorkFolder(L"checksum") + L"\\sparse";
    for (const LONGLONG size : {2147483648LL, 2147483649LL}) {
        {
            const UniqueHandle file = OwnHandle(
                CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            LARGE_INTEGER end;
            end.QuadPart = size;
            SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN);
            SetEndOfFile(file.get());
        }
        EXPECT_EQ(VerifyFile(path, zeros), size == 2147483648LL) << size << " bytes";
    }
}

TEST(VersionText, IsTwoToFourComponentsOfAtMostFiveAsciiDigitsUpTo65535) {
    const std::pair<const wchar_t*, std::optional<VersionNumber>> cases[] = {
        {L"2.1", VersionNumber{2, 1, 0, 0}},
        {L"65535.00001.0.9", VersionNumber{65535, 1, 0, 9}},
        {L"", std::nullopt},
        {L"7", std::nullopt},
        {L"1.2.3.4.5", std::nullopt},
        {L"1..2", std::nullopt},
        {L".1.2", std::nullopt},
        {L"1.2.", std::nullopt},
        {L"1.2 ", std::nullopt},
        {L"v1.2", std::nullopt},
        {L"1./", std::nullopt},
        {L"1.:", std::nullopt},
        {L"65536.0", std::nullopt},
        {L"000001.0", std::nullopt},
        {L"\uFF11.0", std::nullopt},
    };
    for (const auto& [text, version] : cases) {
        EXPECT_EQ(ParseVersion(text), version) << testing::PrintToString(text);
    }
}

TEST(VersionComparison, FollowsTheNumbersNotTheText) {
    const std::tuple<const wchar_t*, const wchar_t*, bool, bool> cases[] = {
        // first, second, first is newer, both are the same version
        {L"2.1", L"2.1.0.0", false, true},
        {L"2.01", L"2.1", false, true},
        {L"10.0", L"9.9.9.9", true, false},
        {L"2.1.1", L"2.1.0.9", true, false},
        {L"2.1.0.1", L"2.1.0.0", true, false},
        {L"2.1.0.0", L"2.1.0.1", false, false},
        {L"1.0", L"2.0", false, false},
        {L"65535.65535.65535.65535", L"65535.65535.65535.65534", true, false},
        {L"latest", L"latest", false, false},
        {L"2.0", L"", false, false},
        {L"", L"2.0", false, false},
    };
    for (const auto& [first, second, newer, same] : cases) {
        EXPECT_EQ(IsNewerVersion(first, second), newer) << first << " vs " << second;
        EXPECT_EQ(IsSameVersion(first, second), same) << first << " vs " << second;
    }
}

// A copy of the 2.0 package with its Property table changed by one query.
std::wstring ChangedMsi(const std::wstring& path, const std::wstring& query) {
    CopyFileW((FixturesFolder() + L"\\packages\\editor-2.0.msi").c_str(), path.c_str(), FALSE);
    MSIHANDLE database = 0;
    MSIHANDLE view = 0;
    MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_TRANSACT, &database);
    MsiDatabaseOpenViewW(database, query.c_str(), &view);
    MsiViewExecute(view, 0);
    MsiCloseHandle(view);
    MsiDatabaseCommit(database);
    MsiCloseHandle(database);
    return path;
}

TEST(MsiProductVersion, IsReadUpTo127Characters) {
    const std::wstring folder = MakeWorkFolder(L"msi");
    const std::wstring set = L"UPDATE `Property` SET `Value`='";
    const std::wstring where = L"' WHERE `Property`='ProductVersion'";
    const std::wstring long127 = L"1." + std::wstring(125, L'0');
    const std::wstring long128 = L"1." + std::wstring(126, L'0');
    const std::pair<std::wstring, std::wstring> cases[] = {
        {ChangedMsi(folder + L"\\127.msi", set + long127 + where), long127},
        {ChangedMsi(folder + L"\\128.msi", set + long128 + where), L""},
        {ChangedMsi(folder + L"\\none.msi",
                    L"DELETE FROM `Property` WHERE `Property`='ProductVersion'"),
         L""},
        {FixturesFolder() + L"\\setup\\tavoPDFEditor.exe", L""},
    };
    for (const auto& [path, version] : cases) {
        EXPECT_EQ(ReadMsiProductVersion(path), version) << testing::PrintToString(path);
    }
}

size_t Find(const std::string& bytes, const std::wstring& text) {
    return bytes.find(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
}

// A copy of the stand-in setup whose version resource went through damage.
std::wstring DamagedSetup(const std::wstring& path, void (*damage)(std::string&)) {
    const std::wstring setup = FixturesFolder() + L"\\setup\\tavoPDFEditor.exe";
    const HMODULE module = LoadLibraryExW(setup.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    std::string resource(static_cast<const char*>(LockResource(LoadResource(module, found))),
                         SizeofResource(module, found));
    FreeLibrary(module);
    damage(resource);
    CopyFileW(setup.c_str(), path.c_str(), FALSE);
    const HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    UpdateResourceW(update, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), 0x409, resource.data(),
                    static_cast<DWORD>(resource.size()));
    EndUpdateResourceW(update, FALSE);
    return path;
}

TEST(DamagedVersionResource, ReadersGiveOnlyWhatTheResourceHolds) {
    struct Case {
        const char* Damage;
        void (*Apply)(std::string&);
        const wchar_t* Description; // null: not judged
        const wchar_t* Version;
    };
    const Case cases[] = {
        {"none", [](std::string&) {}, L"Tavo PDF Setup", L"2.0.0.0"},
        {"bad signature", [](std::string& r) { r[r.find("\xBD\x04\xEF\xFE")] = 0; },
         L"Tavo PDF Setup", L""},
        {"fixed block shorter than 52 bytes", [](std::string& r) { r[2] = 40; }, nullptr, L""},
        {"translation table of one word",
         [](std::string& r) { r[Find(r, L"Translation") - 4] = 2; }, L"", L"2.0.0.0"},
        {"no translation table", [](std::string& r) { r[Find(r, L"Translation")] = 'X'; }, L"",
         L"2.0.0.0"},
        {"resource ends inside the description",
         [](std::string& r) {
             const size_t end = Find(r, L"Tavo PDF Setup") + 28;
             r[0] = static_cast<char>(end & 0xFF);
             r[1] = static_cast<char>(end >> 8);
         },
         L"Tavo PDF Setup", L"2.0.0.0"},
    };
    const std::wstring folder = MakeWorkFolder(L"version");
    for (const Case& c : cases) {
        const std::wstring path =
            DamagedSetup(folder + L"\\" + std::to_wstring(&c - cases) + L".exe", c.Apply);
        if (c.Description != nullptr) {
            EXPECT_EQ(ReadFileDescription(path), c.Description) << c.Damage;
        }
        EXPECT_EQ(ReadFileVersion(path), c.Version) << c.Damage;
    }
}

} // namespace
