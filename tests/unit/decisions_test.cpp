// The decisions made in process that the end-to-end rows cannot show or that
// Wine cannot produce: the command-line check at its edges, the editor's
// library naming a broken rule, guarding its commit and reading outcomes back,
// version texts and comparisons, the MSI parameters, the scan's verdict on one
// process (one that cannot be inspected included), a declined elevation prompt
// and a system directory that does not fit.

#include "app/update_request.h"
#include "editor/editor_update.h"
#include "harness.h"
#include "handoff/suite_scan.h"
#include "install/installer_command_line.h"
#include "install/installer_run.h"
#include "verify/version_compare.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(UpdateRequestCheck, NamesTheFirstRuleEachArgumentBreaks) {
    using R = RequestRule;
    const std::wstring prefix = HandoffNamePrefix;
    // An argument's index, the rule its values break (none: the check
    // throws), and the values. Index 0 changes nothing; index 9 passes only
    // eight elements.
    const std::tuple<size_t, std::optional<R>, std::vector<std::wstring>> cases[] = {
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
        {5, R::EditorPathAbsolute, {L"tavoPDFEditor.exe"}},
        {5, R::EditorFileName, {L"C:\\T\\NorvexViewer.exe", L"C:\\T\\tavoPDFEditor.exe.bak"}},
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
        {[](UpdateOrder& o) { o.StatusFilePath = L"s.txt"; }, L"status file: not an absolute path"},
        // Unset, the editor is this process: helper_tests.exe.
        {[](UpdateOrder& o) { o.EditorPath.reset(); },
         L"editor executable: not named tavoPDFEditor.exe"},
        {[](UpdateOrder& o) { o.PackageSha256[9] = L'g'; }, L"SHA-256: not 64 hexadecimal digits"},
        {[](UpdateOrder& o) { o.TargetVersion = L"2"; },
         L"target version: not 2 to 4 numbers of at most 65535"},
    };
    for (const auto& [edit, refusal] : cases) {
        UpdateOrder order = {L"C:\\h.exe",       L"C:\\u.msi", std::wstring(64, L'A'),
                             PackageFormat::Exe, L"2.0",       L"C:\\s.txt",
                             {L"--open"},        {},           L"C:\\T\\tavoPDFEditor.exe"};
        edit(order);
        UpdateHandoff handoff; // a good order gets as far as the start of C:\h.exe, not there
        const HelperStart start = StartUpdateHelper(order, handoff);
        EXPECT_EQ(start.Refusal, refusal);
        EXPECT_FALSE(start.Started || handoff.Helper || (*refusal != L'\0' && handoff.Ready));
    }
}

// An editor that exits with no ready helper left would stay closed and not
// updated.
TEST(EditorHandoff, CommitsOnlyToAReadyHelper) {
    UpdateHandoff handoff;
    ASSERT_EQ(CreateUpdateHandoff(handoff), 0u);
    EXPECT_EQ(CommitUpdate(handoff), CommitResult::NotReady);
    SetEvent(handoff.Ready.get());
    EXPECT_EQ(CommitUpdate(handoff), CommitResult::HelperEnded) << "no helper runs";
    EXPECT_EQ(WaitForSingleObject(handoff.Commit.get(), 0), WAIT_TIMEOUT);
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
         {"Update checksum failed.", "Cannot signal update readiness. Windows error: 0"}},
        {K::FailedAfterEditorExit,
         {failed + "4294967295", "Installed successfully, but the editor could not be restarted."}},
        {K::UnexpectedError, {"Unexpected error while preparing the update."}},
        {K::NotAnOutcome,
         {"", installed + "\n", "\xEF\xBB\xBF" + installed, "installed successfully.",
          installed + std::string(99, ' '), failed, failed + "01", failed + "4294967296"}},
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
    for (const wchar_t* text : {L"2.1", L"2.01", L"2.1.0.0"}) {
        EXPECT_EQ(ParseVersion(text), (VersionNumber{2, 1, 0, 0})) << testing::PrintToString(text);
    }
    EXPECT_EQ(ParseVersion(L"65535.00001.0.9"), (VersionNumber{65535, 1, 0, 9}));
    for (const wchar_t* text : {L"", L"7", L"1.2.3.4.5", L"1..2", L".1.2", L"1.2.", L"1.2 ",
                                L"v1.2", L"1./", L"1.:", L"65536.0", L"000001.0", L"\uFF11.0"}) {
        EXPECT_EQ(ParseVersion(text), std::nullopt) << testing::PrintToString(text);
    }
    // By number, all four components, and never for a text that is no version.
    EXPECT_TRUE(IsNewerVersion(L"10.0", L"9.9.9.9") && IsSameVersion(L"2.01", L"2.1"));
    EXPECT_FALSE(IsNewerVersion(L"2.1.0.0", L"2.1.0.1") || IsSameVersion(L"2.1.0.1", L"2.1"));
    EXPECT_FALSE(IsNewerVersion(L"2.0", L"") || IsSameVersion(L"x.y", L"x.y"));
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
    EXPECT_STREQ(InstallerStartFailureText(1223), L"Installation permission was cancelled.");
    for (const DWORD error : {0ul, 2ul, 5ul, 1222ul, 1224ul, 0xFFFFFFFFul}) {
        EXPECT_STREQ(InstallerStartFailureText(error), L"Cannot start the installer.");
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
    for (const wchar_t* name : {L"tavoPDFEditor.exe", L"NorvexViewer.exe", L"NORVEXorganizer.EXE",
                                L"NorvexCompare.exe", L"NorvexStarter.exe", L"norvextool.exe"}) {
        EXPECT_TRUE(IsSuiteExecutableName(name)) << testing::PrintToString(name);
    }
    for (const wchar_t* name :
         {L"NorvexViewer2.exe", L"xNorvexTool.exe", L"NorvexTool.exe.exe", L"NorvexTool"}) {
        EXPECT_FALSE(IsSuiteExecutableName(name)) << testing::PrintToString(name);
    }
    // Image paths against the install folder C:\Tavo PDF: only its own files count.
    for (const std::wstring image :
         {L"C:\\Tavo PDF\\NorvexViewer.exe", L"c:\\tavo pdf\\NorvexViewer.exe"}) {
        EXPECT_TRUE(SuiteProcessCounts(true, &image, L"C:\\Tavo PDF"))
            << testing::PrintToString(image);
    }
    for (const std::wstring image :
         {L"C:\\Tavo PDF\\plugins\\NorvexViewer.exe", L"C:\\Tavo PDF 2\\NorvexViewer.exe",
          L"C:\\NorvexViewer.exe"}) {
        EXPECT_FALSE(SuiteProcessCounts(true, &image, L"C:\\Tavo PDF"))
            << testing::PrintToString(image);
    }
    EXPECT_TRUE(SuiteProcessCounts(false, nullptr, L"D:\\")) << "could not be opened";
    EXPECT_TRUE(SuiteProcessCounts(true, nullptr, L"D:\\")) << "image path unreadable";
    const std::wstring inRoot = L"C:\\NorvexTool.exe";
    EXPECT_TRUE(SuiteProcessCounts(true, &inRoot, L"C:\\")) << "install folder at a drive root";
}

} // namespace
