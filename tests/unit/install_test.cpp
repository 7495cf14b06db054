// Installer parameters and quoting, and the installer phase's decisions that
// Wine cannot produce: a declined elevation prompt and a system directory
// that does not fit its buffer.

#include "install/editor_restart.h"
#include "install/installer_command_line.h"
#include "install/installer_run.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <random>

namespace {

// Random argument lists over an alphabet that makes quoting hard, quoted and
// joined as the restart does, split back by Windows' own CommandLineToArgvW.
TEST(QuoteArgument, RandomArgumentListsSplitBackExactly) {
    const std::wstring alphabet = L"\\\\\\\"\"  \tab/:é中\u3000\U0001F600";
    const unsigned seed = 20261207;
    std::mt19937 random(seed);
    const std::wstring program = L"C:\\Program Files\\Tavo PDF\\tavoPDFEditor.exe";
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::wstring> arguments(random() % 6);
        for (std::wstring& argument : arguments) {
            for (unsigned length = random() % 10; length > 0; --length) {
                argument += alphabet[random() % alphabet.size()];
            }
        }
        const std::wstring commandLine =
            BuildRestartCommandLine(program, JoinRestartArguments(arguments));
        int count = 0;
        LPWSTR* split = CommandLineToArgvW(commandLine.c_str(), &count);
        std::vector<std::wstring> back(split + 1, split + count);
        LocalFree(split);
        ASSERT_EQ(back, arguments) << "seed " << seed << ", round " << round << ": "
                                   << testing::PrintToString(commandLine);
    }
}

TEST(RestartCommandLine, IsTheQuotedEditorPathThenEachArgumentQuoted) {
    const std::wstring editor = L"C:\\Tavo PDF\\tavoPDFEditor.exe";
    EXPECT_EQ(BuildRestartCommandLine(editor, JoinRestartArguments({})), L"\"" + editor + L"\"");
    EXPECT_EQ(BuildRestartCommandLine(editor, JoinRestartArguments({L""})),
              L"\"" + editor + L"\" \"\"");
    EXPECT_EQ(JoinRestartArguments({L"a\\\\", L"\\\"", L"x y"}),
              L"\"a\\\\\\\\\" \"\\\\\\\"\" \"x y\"");
}

TEST(InstallerParameters, EachPackageKindGetsItsSilentForm) {
    const std::wstring msi = L"/i \"D:\\Down loads\\u.msi\" /qn /norestart REBOOT=ReallySuppress "
                             L"MSIRESTARTMANAGERCONTROL=Disable INSTALLFOLDER=";
    const std::tuple<bool, const wchar_t*, const wchar_t*, std::wstring> cases[] = {
        {true, L"C:\\Program Files\\Tavo PDF", L"C:\\Temp\\up date.txt",
         msi + L"\"C:\\Program Files\\Tavo PDF\" /L*v \"C:\\Temp\\up date.txt.msi.log\""},
        {true, L"C:\\", L"C:/Temp/s.txt", msi + L"\"C:\\\\\" /L*v \"C:/Temp/s.txt.msi.log\""},
        {false, L"C:\\Program Files\\Tavo PDF", L"C:\\s", L"/S /D=C:\\Program Files\\Tavo PDF"},
        {false, L"C:\\", L"C:\\s", L"/S /D=C:\\"},
    };
    for (const auto& [isMsi, folder, statusPath, expected] : cases) {
        EXPECT_EQ(BuildInstallerParameters(isMsi, L"D:\\Down loads\\u.msi", folder,
                                           MsiLogPath(statusPath)),
                  expected);
    }
}

TEST(InstallerStartFailure, OnlyADeclinedPromptReadsAsCancelledPermission) {
    EXPECT_STREQ(InstallerStartFailureText(1223), L"Installation permission was cancelled.");
    for (const DWORD other : {0ul, 2ul, 5ul, 1222ul, 1224ul, 0xFFFFFFFFul}) {
        EXPECT_STREQ(InstallerStartFailureText(other), L"Cannot start the installer.") << other;
    }
}

// GetSystemDirectoryW answers 0 on failure and the size it needs when the
// directory does not fit; only an answer below the buffer's size is a path.
TEST(SystemDirectory, OnlyAnAnswerThatFitsTheBufferGivesAnInstallerPath) {
    wchar_t buffer[SystemDirectoryBufferLength] = L"C:\\windows\\system32";
    EXPECT_EQ(MsiexecPathFromSystemDirectory(19, buffer, SystemDirectoryBufferLength),
              L"C:\\windows\\system32\\msiexec.exe");
    EXPECT_TRUE(MsiexecPathFromSystemDirectory(259, buffer, SystemDirectoryBufferLength));
    for (const UINT answer : {0u, 260u, 261u, 32767u}) {
        EXPECT_FALSE(MsiexecPathFromSystemDirectory(answer, buffer, SystemDirectoryBufferLength))
            << answer;
    }
}

} // namespace
