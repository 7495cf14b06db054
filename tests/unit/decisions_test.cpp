// The decisions made in process that the end-to-end rows cannot show or that
// Wine cannot produce: the command-line check at its edges, parent folders,
// version texts and comparisons, the longest MSI product version that is read,
// the quoting round trip through Windows' own splitting, the MSI parameters,
// the scan's verdict on one process (one that cannot be inspected included),
// a declined elevation prompt and a system directory that does not fit.

#include "app/update_request.h"
#include "editor/editor_update.h"
#include "editor/helper_launch.h"
#include "handoff/handoff.h"
#include "harness.h"
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

TEST(UpdateRequestCheck, NamesTheFirstRuleEachArgumentBreaks) {
    using R = RequestRule;
    const std::wstring prefix = HandoffNamePrefix;
    // An argument's index, the rule its values break (none: the check
    // throws), and the values. Index 0 changes nothing; index 9 passes only
    // eight elements.
    const std::tuple<size_t, std::optional<R>, std::vector<std::wstring>> cases[] = {
        {0, R::Met, {L""}},
        {9, R::EightArguments, {L""}},
        {1, R::Met, {L"  \t4242", L"-1", L"4294967295"}},
        {1, R::ProcessIdAlone, {L"4242 ", L"12ab"}},
        {1, R::ProcessIdNotZero, {L"0"}},
        {1, {}, {L"4294967296", L""}},
        {2, R::Met, {prefix, prefix + std::wstring(80, L'x')}},
        {2,
         R::HandoffName,
         {prefix + std::wstring(81, L'x'), L"Local\\TavoPDFUpdate", L"x" + prefix,
          L"local\\tavopdfupdate-1"}},
        {3, R::Met, {L"\\\\server\\share\\u.msi", L"//?/C:/u.msi", L"\\??\\C:\\u.msi", L"/\?\?/"}},
        {3,
         R::PackagePathAbsolute,
         {L"C:update.msi", L"\\update.msi", L"update.msi", L"1:\\u.msi", L"\\\\\\server\\u.msi",
          L"\\??\\\\u.msi"}},
        {5, R::Met, {L"C:\\T\\TAVOPDFEDITOR.EXE"}},
        {5, R::EditorPathAbsolute, {L"tavoPDFEditor.exe"}},
        {5, R::EditorFileName, {L"C:\\T\\NorvexViewer.exe", L"C:\\T\\tavoPDFEditor.exe.bak"}},
        {7, R::Met, {L"exe"}},
        {7, R::PackageKind, {L"msi ", L"MSI"}},
        {8, R::StatusFileAbsolute, {L"status.txt"}}};
    const std::wstring handoff = prefix + L"3f2a";
    const std::wstring checksum(64, L'0');
    const wchar_t* const valid[] = {
        L"helper.exe", L"4242",          handoff.c_str(),
        L"C:\\u.msi",  checksum.c_str(), L"C:\\Tavo PDF\\tavoPDFEditor.exe",
        L"2.0",        L"msi",           L"C:\\s.txt"};
    for (const auto& [index, rule, values] : cases) {
        for (const std::wstring& value : values) {
            std::vector<const wchar_t*> arguments(std::begin(valid), std::end(valid));
            arguments[index % 9] = index % 9 == 0 ? valid[0] : value.c_str();
            std::optional<R> seen;
            try {
                UpdateRequest request;
                seen = ParseUpdateRequest(index == 9 ? 8 : 9, arguments.data(), request);
            } catch (const std::logic_error&) { // std::stoul's invalid_argument and out_of_range
            }
            EXPECT_EQ(seen, rule) << "argument " << index << ": " << testing::PrintToString(value);
        }
    }
}

// The editor's side names the argument and the rule, and starts nothing.
TEST(UpdateOrderCheck, NamesTheArgumentAndTheRuleItBreaks) {
    using Edit = void (*)(UpdateOrder&);
    const std::pair<Edit, const wchar_t*> cases[] = {
        {[](UpdateOrder&) {}, L""},
        {[](UpdateOrder& o) { o.HelperPath = L"helper.exe"; }, L"helper: not an absolute path"},
        {[](UpdateOrder& o) { o.EditorProcessId = 0; }, L"editor process id: not a process (0)"},
        {[](UpdateOrder& o) { o.StatusFilePath = L"s.txt"; }, L"status file: not an absolute path"},
        // Unset, the editor is this process: helper_tests.exe.
        {[](UpdateOrder& o) { o.EditorPath.reset(); },
         L"editor executable: not named tavoPDFEditor.exe"},
        {[](UpdateOrder& o) { o.PackageSha256.pop_back(); }, L"SHA-256: not 64 hexadecimal digits"},
        {[](UpdateOrder& o) { o.PackageSha256.back() = L'g'; },
         L"SHA-256: not 64 hexadecimal digits"},
        {[](UpdateOrder& o) { o.TargetVersion = L"2"; },
         L"target version: not 2 to 4 numbers of at most 65535"},
    };
    for (const auto& [edit, refusal] : cases) {
        UpdateOrder order = {L"C:\\h.exe",       L"C:\\u.msi", std::wstring(64, L'A'),
                             PackageFormat::Exe, L"2.0",       L"C:\\s.txt",
                             {L"--open"},        {},           L"C:\\T\\tavoPDFEditor.exe"};
        edit(order);
        UpdateHandoff handoff;
        EXPECT_EQ(CheckUpdateOrder(order, HandoffNamePrefix + std::wstring(L"1")), refusal);
        if (*refusal != L'\0') {
            const HelperStart start = StartUpdateHelper(order, handoff);
            EXPECT_EQ(start.Refusal, refusal);
            EXPECT_FALSE(start.Started || handoff.Helper || handoff.Ready);
        }
    }
}

// An editor that exits with no ready helper left would stay closed and not
// updated; events that somebody else made are not the editor's to trust.
TEST(EditorHandoff, CommitsOnlyToAReadyHelperOverEventsOfItsOwn) {
    UpdateHandoff handoff;
    ASSERT_EQ(CreateUpdateHandoff(handoff), 0u);
    EXPECT_EQ(CommitUpdate(handoff), CommitResult::NotReady);
    SetEvent(handoff.Ready.get());
    EXPECT_EQ(CommitUpdate(handoff), CommitResult::HelperEnded) << "no helper runs";
    EXPECT_EQ(WaitForSingleObject(handoff.Commit.get(), 0), WAIT_TIMEOUT);

    const std::wstring taken = std::wstring(L"Local\\x") + CancelEventSuffix;
    const UniqueHandle event = OwnHandle(CreateEventW(nullptr, TRUE, FALSE, taken.c_str()));
    EXPECT_EQ(CreateNamedHandoff(L"Local\\x", handoff), DWORD{ERROR_ALREADY_EXISTS});
    EXPECT_FALSE(handoff.Ready || handoff.Commit || handoff.Cancel);
}

// What the status file holds, read back against the helper's own outcomes:
// only its texts count, exactly as it writes them.
TEST(StatusFileOutcome, IsOneOfTheHelpersTextsOrSaysWhatItIs) {
    using K = OutcomeKind;
    const std::string failed = "Installation failed. Exit code: ";
    const std::string installed = "Installed successfully.";
    const std::pair<K, std::vector<std::string>> cases[] = {
        {K::Installed, {installed}},
        {K::InstalledRestartAdvised, {"Installed; Windows restart may also be required."}},
        {K::RefusedBeforeEditorExit,
         {"Update checksum failed.", "Cannot signal update readiness. Windows error: 0",
          "The editor did not exit; installation was not started."}},
        {K::FailedAfterEditorExit,
         {failed + "4294967295", "Installed successfully, but the editor could not be restarted."}},
        {K::UnexpectedError, {"Unexpected error while preparing the update."}},
        {K::NotAnOutcome,
         {"", installed + "\n", "\xEF\xBB\xBF" + installed, "installed successfully.",
          installed + '\0', installed + std::string(99, ' '), failed, failed + "01",
          failed + "4294967296", failed + "+1", failed + "1 "}},
    };
    const std::wstring path = MakeWorkFolder(L"outcome") + L"\\status.txt";
    for (const auto& [kind, files] : cases) {
        for (const std::string& bytes : files) {
            WriteBytes(path, bytes);
            const UpdateOutcome outcome = ReadUpdateOutcome(path);
            EXPECT_EQ(outcome.Kind, kind) << testing::PrintToString(bytes);
            const bool known = kind != K::NotAnOutcome;
            EXPECT_EQ(outcome.Text, known ? std::wstring(bytes.begin(), bytes.end()) : L"");
        }
    }
    const UniqueHandle locked =
        OwnHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ReadUpdateOutcome(path).Kind, K::Unreadable) << "held without sharing";
    EXPECT_EQ(ReadUpdateOutcome(path + L".none").Kind, K::NothingWritten);
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
        const std::wstring line = BuildCommandLine(L"e", JoinRestartArguments(arguments));
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
