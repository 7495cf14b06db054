// The decisions made in process that the end-to-end rows cannot show or that
// Wine cannot produce: the command-line check at its edges, parent folders,
// version texts and comparisons, the longest MSI product version that is read,
// the quoting round trip through Windows' own splitting, the MSI parameters,
// the scan's verdict on one process (one that cannot be inspected included),
// a declined elevation prompt and a system directory that does not fit.

#include "app/update_request.h"
#include "editor_side.h"
#include "handoff/suite_scan.h"
#include "install/editor_restart.h"
#include "install/installer_command_line.h"
#include "install/installer_run.h"
#include "report/status_file.h"
#include "verify/file_version.h"
#include "verify/version_compare.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

namespace {

TEST(UpdateRequestCheck, EachArgumentGetsItsVerdict) {
    const std::wstring prefix = L"Local\\TavoPDFUpdate-";
    // An argument's index and value, and the verdict: accepted, refused, or
    // thrown. Index 0 changes nothing; index 9 passes only eight elements.
    // clang-format off
    const std::tuple<size_t, std::wstring, char> cases[] = {
        {0, L"", 'a'}, {9, L"", 'r'},
        {1, L"  \t4242", 'a'}, {1, L"4242 ", 'r'}, {1, L"12ab", 'r'}, {1, L"0", 'r'}, {1, L"-1", 'a'},
        {1, L"4294967295", 'a'}, {1, L"4294967296", 't'}, {1, L"", 't'},
        {2, prefix, 'a'}, {2, prefix + std::wstring(80, L'x'), 'a'}, {2, prefix + std::wstring(81, L'x'), 'r'},
        {2, L"Local\\TavoPDFUpdate", 'r'}, {2, L"x" + prefix, 'r'}, {2, L"local\\tavopdfupdate-1", 'r'},
        {3, L"C:update.msi", 'r'}, {3, L"\\update.msi", 'r'}, {3, L"update.msi", 'r'}, {3, L"1:\\u.msi", 'r'},
        {3, L"\\\\server\\share\\u.msi", 'a'}, {3, L"\\\\\\server\\u.msi", 'r'}, {3, L"//?/C:/u.msi", 'a'},
        {3, L"\\??\\C:\\u.msi", 'a'}, {3, L"/\?\?/", 'a'}, {3, L"\\??\\\\u.msi", 'r'},
        {5, L"tavoPDFEditor.exe", 'r'}, {5, L"C:\\T\\TAVOPDFEDITOR.EXE", 'a'},
        {5, L"C:\\T\\NorvexViewer.exe", 'r'}, {5, L"C:\\T\\tavoPDFEditor.exe.bak", 'r'},
        {7, L"exe", 'a'}, {7, L"msi ", 'r'}, {8, L"status.txt", 'r'}};
    const wchar_t* const valid[] = {L"helper.exe", L"4242", L"Local\\TavoPDFUpdate-3f2a", L"C:\\u.msi",
        L"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", L"C:\\Tavo PDF\\tavoPDFEditor.exe", L"2.0", L"msi", L"C:\\s.txt"};
    // clang-format on
    for (const auto& [index, value, verdict] : cases) {
        std::vector<const wchar_t*> arguments(std::begin(valid), std::end(valid));
        arguments[index % 9] = index % 9 == 0 ? valid[0] : value.c_str();
        char seen = 't';
        try {
            seen = ParseUpdateRequest(index == 9 ? 8 : 9, arguments.data()) ? 'a' : 'r';
        } catch (const std::logic_error&) { // std::stoul's invalid_argument and out_of_range
        }
        EXPECT_EQ(seen, verdict) << "argument " << index << ": " << testing::PrintToString(value);
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
    // By number, all four components, and never for a text that is no version.
    EXPECT_TRUE(IsNewerVersion(L"10.0", L"9.9.9.9") && IsSameVersion(L"2.01", L"2.1.0.0"));
    EXPECT_FALSE(IsNewerVersion(L"2.1.0.0", L"2.1.0.1") || IsSameVersion(L"2.1.0.1", L"2.1"));
    EXPECT_FALSE(IsNewerVersion(L"2.0", L"") || IsSameVersion(L"x.y", L"x.y"));
}

TEST(MsiProductVersion, IsReadUpTo127Characters) {
    const std::wstring packages = FixturesFolder() + L"\\packages\\version-1.";
    EXPECT_EQ(ReadMsiProductVersion(packages + L"125.msi"), L"1." + std::wstring(125, L'0'));
    EXPECT_EQ(ReadMsiProductVersion(packages + L"126.msi"), L"");
}

// Every outcome text is ASCII: the encoding shows only here.
TEST(StatusFile, HoldsTheUtf8BytesOfItsText) {
    const std::wstring path = MakeWorkFolder(L"status") + L"\\status.txt";
    WriteStatusFile(path, L"é中\U0001F600");
    EXPECT_EQ(ReadBytes(path), "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
}

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

// A declined elevation prompt is error 1223. GetSystemDirectoryW answers 0 on
// failure and the size it needs when the directory does not fit: only an
// answer below the buffer's size is a path.
TEST(InstallerPhase, DecidesWhatWineCannotProduce) {
    for (const DWORD error : {0ul, 2ul, 5ul, 1222ul, 1223ul, 1224ul, 0xFFFFFFFFul}) {
        EXPECT_STREQ(InstallerStartFailureText(error),
                     error == 1223 ? L"Installation permission was cancelled."
                                   : L"Cannot start the installer.");
    }
    wchar_t buffer[SystemDirectoryBufferLength] = L"C:\\windows\\system32";
    EXPECT_EQ(MsiexecPathFromSystemDirectory(19, buffer, SystemDirectoryBufferLength),
              L"C:\\windows\\system32\\msiexec.exe");
    for (const UINT answer : {0u, 259u, 260u, 261u, 32767u}) {
        const bool path = MsiexecPathFromSystemDirectory(answer, buffer, 260).has_value();
        EXPECT_EQ(path, answer == 259) << answer;
    }
}

TEST(SuiteScan, CountsASuiteNameRunningFromTheInstallFolderOrThatCannotBeInspected) {
    // clang-format off
    const std::pair<const wchar_t*, bool> names[] = {
        {L"tavoPDFEditor.exe", true}, {L"NorvexViewer.exe", true}, {L"NORVEXorganizer.EXE", true},
        {L"NorvexCompare.exe", true}, {L"NorvexStarter.exe", true}, {L"norvextool.exe", true},
        {L"NorvexViewer2.exe", false}, {L"xNorvexTool.exe", false}, {L"NorvexTool.exe.exe", false},
        {L"NorvexTool", false}};
    const std::pair<std::wstring, bool> images[] = {
        {L"C:\\Tavo PDF\\NorvexViewer.exe", true}, {L"c:\\tavo pdf\\NorvexViewer.exe", true},
        {L"C:\\Tavo PDF\\plugins\\NorvexViewer.exe", false}, {L"C:\\Tavo PDF 2\\NorvexViewer.exe", false},
        {L"C:\\NorvexViewer.exe", false}};
    // clang-format on
    for (const auto& [name, isSuite] : names) {
        EXPECT_EQ(IsSuiteExecutableName(name), isSuite) << testing::PrintToString(name);
    }
    for (const auto& [image, counts] : images) {
        EXPECT_EQ(SuiteProcessCounts(true, &image, L"C:\\Tavo PDF"), counts)
            << testing::PrintToString(image);
    }
    EXPECT_TRUE(SuiteProcessCounts(false, nullptr, L"D:\\")) << "could not be opened";
    EXPECT_TRUE(SuiteProcessCounts(true, nullptr, L"D:\\")) << "image path unreadable";
    const std::wstring inRoot = L"C:\\NorvexTool.exe";
    EXPECT_TRUE(SuiteProcessCounts(true, &inRoot, L"C:\\")) << "install folder at a drive root";
}

} // namespace
