// Decisions made in process: the quoting round trip through Windows' own
// splitting, the MSI parameters, the scan's verdict on one process (including
// one that cannot be inspected, which Wine never produces), a declined
// elevation prompt and a system directory that does not fit its buffer.

#include "handoff/suite_scan.h"
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
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::wstring> arguments(random() % 6);
        for (std::wstring& argument : arguments) {
            for (unsigned length = random() % 10; length > 0; --length) {
                argument += alphabet[random() % alphabet.size()];
            }
        }
        const std::wstring line = BuildRestartCommandLine(L"e", JoinRestartArguments(arguments));
        int count = 0;
        LPWSTR* split = CommandLineToArgvW(line.c_str(), &count);
        const std::vector<std::wstring> back(split + 1, split + count);
        LocalFree(split);
        ASSERT_EQ(back, arguments)
            << "seed " << seed << ", round " << round << ": " << testing::PrintToString(line);
    }
}

TEST(InstallerParameters, AreTheSilentMsiFormWithTheLogBesideTheStatusFile) {
    EXPECT_EQ(BuildInstallerParameters(true, L"D:\\Down loads\\u.msi", L"C:\\",
                                       MsiLogPath(L"C:/Temp/up date.txt")),
              L"/i \"D:\\Down loads\\u.msi\" /qn /norestart REBOOT=ReallySuppress "
              L"MSIRESTARTMANAGERCONTROL=Disable INSTALLFOLDER=\"C:\\\\\" /L*v "
              L"\"C:/Temp/up date.txt.msi.log\"");
}

TEST(InstallerStart, OnlyADeclinedPromptReadsAsCancelledPermission) {
    for (const DWORD error : {0ul, 2ul, 5ul, 1222ul, 1223ul, 1224ul, 0xFFFFFFFFul}) {
        EXPECT_STREQ(InstallerStartFailureText(error),
                     error == 1223 ? L"Installation permission was cancelled."
                                   : L"Cannot start the installer.");
    }
}

// GetSystemDirectoryW answers 0 on failure and the size it needs when the
// directory does not fit; only an answer below the buffer's size is a path.
TEST(SystemDirectory, OnlyAnAnswerThatFitsTheBufferGivesAnInstallerPath) {
    wchar_t buffer[SystemDirectoryBufferLength] = L"C:\\windows\\system32";
    EXPECT_EQ(MsiexecPathFromSystemDirectory(19, buffer, SystemDirectoryBufferLength),
              L"C:\\windows\\system32\\msiexec.exe");
    for (const UINT answer : {0u, 259u, 260u, 261u, 32767u}) {
        const bool path = MsiexecPathFromSystemDirectory(answer, buffer, 260).has_value();
        EXPECT_EQ(path, answer == 259) << answer;
    }
}

TEST(SuiteScan, KnowsTheSuiteByExactFileNameInAnyAsciiLetterCase) {
    // clang-format off
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"tavoPDFEditor.exe", true}, {L"NorvexViewer.exe", true}, {L"NORVEXorganizer.EXE", true},
        {L"NorvexCompare.exe", true}, {L"NorvexStarter.exe", true}, {L"norvextool.exe", true},
        {L"NorvexViewer2.exe", false}, {L"xNorvexTool.exe", false}, {L"NorvexTool.exe.exe", false},
        {L"NorvexTool", false}};
    // clang-format on
    for (const auto& [name, isSuite] : cases) {
        EXPECT_EQ(IsSuiteExecutableName(name), isSuite) << testing::PrintToString(name);
    }
}

TEST(SuiteScan, CountsAProcessFromTheInstallFolderOrOneThatCannotBeInspected) {
    const std::wstring folder = L"C:\\Tavo PDF";
    // clang-format off
    const std::pair<std::wstring, bool> cases[] = {
        {L"C:\\Tavo PDF\\NorvexViewer.exe", true}, {L"c:\\tavo pdf\\NorvexViewer.exe", true},
        {L"C:\\Tavo PDF\\plugins\\NorvexViewer.exe", false}, {L"C:\\Tavo PDF 2\\NorvexViewer.exe", false},
        {L"C:\\NorvexViewer.exe", false}};
    // clang-format on
    for (const auto& [image, counts] : cases) {
        EXPECT_EQ(SuiteProcessCounts(true, &image, folder), counts)
            << testing::PrintToString(image);
    }
    EXPECT_TRUE(SuiteProcessCounts(false, nullptr, folder)) << "could not be opened";
    EXPECT_TRUE(SuiteProcessCounts(true, nullptr, folder)) << "image path unreadable";
    const std::wstring inRoot = L"C:\\NorvexTool.exe";
    EXPECT_TRUE(SuiteProcessCounts(true, &inRoot, L"C:\\")) << "install folder at a drive root";
}

} // namespace
