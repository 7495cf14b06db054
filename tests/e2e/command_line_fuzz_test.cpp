// Generated command lines through the real helper exe, each run in an empty
// folder of its own. Without handoff events no run can get past the handoff,
// so the only outcomes are 2, 3 and 7; a status file appears exactly where
// the outcome calls for one, holds its text, and nothing else is written.

#include "app/paths.h"
#include "argument_fuzz.h"
#include "editor_side.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// Whether a mutated status path still names the run's own status file: the
// same text up to letter case and slashes, behind a device prefix or not.
bool NamesTheStatusFile(const std::wstring& argument, const std::wstring& statusPath) {
    std::wstring path = WithBackslashes(argument);
    for (const wchar_t* prefix : {L"\\\\?\\", L"\\??\\", L"\\\\.\\"}) {
        if (path.rfind(prefix, 0) == 0) {
            path = path.substr(std::wstring(prefix).size());
            break;
        }
    }
    return EqualsIgnoringAsciiCase(path, statusPath);
}

TEST(CommandLineFuzz, ThreeHundredGeneratedCommandLinesThroughTheHelper) {
    const unsigned seed = 300;
    std::mt19937 random(seed);
    const std::wstring root = MakeWorkFolder(L"fuzz");
    std::map<DWORD, int> exitCodes;
    for (int round = 0; round < 300; ++round) {
        const std::wstring sandbox = root + L"\\" + std::to_wstring(round);
        CreateDirectoryW(sandbox.c_str(), nullptr);
        const std::wstring statusPath = sandbox + L"\\status.txt";
        const std::vector<std::wstring> valid = {HelperExecutablePath(),
                                                 std::to_wstring(GetCurrentProcessId()),
                                                 L"Local\\TavoPDFUpdate-fuzz-" +
                                                     std::to_wstring(round),
                                                 sandbox + L"\\update.msi",
                                                 std::wstring(64, L'0'),
                                                 sandbox + L"\\Tavo PDF\\tavoPDFEditor.exe",
                                                 L"2.0",
                                                 random() % 2 ? L"msi" : L"exe",
                                                 statusPath,
                                                 L"--restore"};
        // Command lines are limited to 32767 characters.
        std::vector<std::wstring> arguments = GenerateArgumentList(random, valid, 2000, true);
        // A random absolute status path could point anywhere; keep it here.
        if (arguments.size() > 8 && IsAbsolutePath(arguments[8]) &&
            !NamesTheStatusFile(arguments[8], statusPath)) {
            arguments[8] = statusPath;
        }
        arguments.erase(arguments.begin());
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round) +
                     ", command line " + testing::PrintToString(HelperCommandLine(arguments)));

        StartedProcess helper =
            StartProcess(HelperExecutablePath(), HelperCommandLine(arguments), sandbox);
        ASSERT_NE(helper.Process, nullptr);
        const HelperEnd end = AwaitHelperEnd(helper, 20000);
        EndProcess(helper);
        ASSERT_TRUE(end.Ended) << "the helper hung";
        ++exitCodes[end.ExitCode];
        EXPECT_TRUE(end.Dialogs.empty());

        const std::vector<std::wstring> written = FilesIn(sandbox);
        const bool statusExpected =
            end.ExitCode == 3 ||
            (end.ExitCode == 7 && arguments.size() >= 8 && IsAbsolutePath(arguments[7]));
        switch (end.ExitCode) {
        case 2:
        case 3:
        case 7:
            break;
        default:
            ADD_FAILURE() << "exit code " << end.ExitCode;
        }
        if (!statusExpected) {
            EXPECT_TRUE(written.empty()) << "wrote " << testing::PrintToString(written);
            continue;
        }
        ASSERT_EQ(written.size(), 1u) << "wrote " << testing::PrintToString(written);
        const std::string status = ReadBytes(sandbox + L"\\" + written[0]).value_or("");
        if (end.ExitCode == 3) {
            EXPECT_EQ(status.rfind("Cannot open update handoff events or editor process. "
                                   "Windows error: ",
                                   0),
                      0u)
                << status;
        } else {
            EXPECT_EQ(status, "Unexpected error while preparing the update.");
        }
    }
    for (const auto& [code, count] : exitCodes) {
        std::printf("exit code %lu: %d runs\n", code, count);
    }
    // Each outcome must be reached often enough to mean something.
    EXPECT_GE(exitCodes[2], 30);
    EXPECT_GE(exitCodes[3], 30);
    EXPECT_GE(exitCodes[7], 30);
}

} // namespace
