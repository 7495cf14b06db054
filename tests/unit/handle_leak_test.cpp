// Every operation that opens handles closes them again: a few hundred calls
// of each leave this process's handle count where it was. Under Wine
// GetProcessHandleCount always answers 0, so the count comes from the
// system's handle table (NtQuerySystemInformation, SystemHandleInformation).

#include "editor_side.h"
#include "handoff/handoff.h"
#include "handoff/suite_scan.h"
#include "install/editor_restart.h"
#include "verify/checksum.h"
#include "verify/file_version.h"

#include <winternl.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

constexpr ULONG SystemHandleInformationClass = 16;

struct HandleEntry {
    ULONG OwnerProcessId;
    UCHAR ObjectType;
    UCHAR Flags;
    USHORT Value;
    PVOID Object;
    ACCESS_MASK Access;
};

size_t CountOwnHandles() {
    std::vector<unsigned char> table(1 << 20);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status = NtQuerySystemInformation(
            static_cast<SYSTEM_INFORMATION_CLASS>(SystemHandleInformationClass), table.data(),
            static_cast<ULONG>(table.size()), &needed);
        if (status == static_cast<NTSTATUS>(0xC0000004)) { // STATUS_INFO_LENGTH_MISMATCH
            table.resize(table.size() * 2);
            continue;
        }
        if (status < 0) {
            return 0;
        }
        break;
    }
    ULONG entries = 0;
    memcpy(&entries, table.data(), sizeof(entries));
    const auto* first = reinterpret_cast<const HandleEntry*>(table.data() + sizeof(void*));
    size_t own = 0;
    for (ULONG index = 0; index < entries; ++index) {
        own += first[index].OwnerProcessId == GetCurrentProcessId() ? 1 : 0;
    }
    return own;
}

TEST(HandleLeaks, RepeatedOperationsLeaveTheHandleCountUnchanged) {
    const std::wstring folder = MakeWorkFolder(L"leaks");
    const std::wstring package = folder + L"\\package.bin";
    WriteBytes(package, std::string(3 * 1048576, 'p'));
    const std::wstring digest = Sha256OfFile(package);
    const std::wstring setup = FixturesFolder() + L"\\setups\\setup-exit0.exe";
    const std::wstring msi = FixturesFolder() + L"\\packages\\editor-2.0.msi";
    const std::wstring editorFolder = folder + L"\\Tavo PDF";
    CreateDirectoryW(editorFolder.c_str(), nullptr);
    CopyFileOver(FixturesFolder() + L"\\editor-2.0\\tavoPDFEditor.exe",
                 editorFolder + L"\\tavoPDFEditor.exe");
    WriteBytes(editorFolder + L"\\editor-behaviour.txt", "exit-at-once");
    std::wstring own(32768, L'\0');
    own.resize(GetModuleFileNameW(nullptr, own.data(), 32768));

    const std::vector<std::pair<const char*, std::function<bool()>>> operations = {
        {"OpenHandoff with missing events",
         [] {
             HandoffHandles handles;
             DWORD error = 0;
             return !OpenHandoff(L"Local\\TavoPDFUpdate-leak", GetCurrentProcessId(), handles,
                                 error);
         }},
        {"CheckEditorImage",
         [&own] {
             DWORD error = 0;
             return CheckEditorImage(GetCurrentProcess(), own, error) == ParentCheck::SameFile;
         }},
        {"IsSameFile", [&own, &setup] { return !IsSameFile(own, setup); }},
        {"checksum",
         [&package, &digest] {
             const UniqueHandle file = OpenPackageFile(package);
             return VerifyPackageChecksum(file.get(), digest);
         }},
        {"ReadMsiProductVersion", [&msi] { return ReadMsiProductVersion(msi) == L"2.0.0"; }},
        {"ReadFileDescription",
         [&setup] { return ReadFileDescription(setup) == L"Tavo PDF Setup"; }},
        {"ReadFileVersion", [&setup] { return ReadFileVersion(setup) == L"2.0.0.0"; }},
        {"IsSuiteApplicationRunning", [&folder] { return !IsSuiteApplicationRunning(folder, 0); }},
        {"RestartEditor",
         [&editorFolder] { return !RestartEditor(editorFolder + L"\\tavoPDFEditor.exe", L""); }},
    };

    for (const auto& [name, operation] : operations) {
        // One call first: libraries load and keep handles of their own once.
        ASSERT_TRUE(operation()) << name;
        const int rounds = std::string(name) == "RestartEditor" ? 200 : 300;
        const size_t before = CountOwnHandles();
        ASSERT_GT(before, 0u) << "the handle table cannot be read";
        for (int round = 0; round < rounds; ++round) {
            ASSERT_TRUE(operation()) << name << ", round " << round;
        }
        const size_t after = CountOwnHandles();
        std::printf("%-32s %3d calls: %zu handles before, %zu after\n", name, rounds, before,
                    after);
        EXPECT_LE(after, before + 2) << name << " leaks handles";
    }
}

} // namespace
