// Every outcome of an update that Wine can produce, driven through the
// editor's library against the real helper exe: one row per situation, each
// in folders of its own (so rows run in parallel), each checked for what
// leaves the helper: exit code, status file bytes, dialog texts, the
// installed editor, and the command lines and folders of the installer and
// of every editor started again.

#include "app/update_request.h"
#include "base/paths.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

using namespace tavo;

namespace {

using tavo::PackageFormat; // not the helper's own, which app/update_request.h names

using Arguments = std::vector<std::wstring>;
using Work = const std::wstring&;

// What the editor does: the first decides before the helper even starts, the
// second while it checks the package (then commits all the same), the last
// two commit once it is ready.
enum class Editor {
    CommitsAndCancels,
    CancelsThenCommits,
    EndsUndecided,
    CommitsAndExits,
    CommitsAndStays
};

struct Scenario {
    const wchar_t* Package = L"packages\\editor-2.0-1.msi"; // a fixture
    const wchar_t* Installed = L"editor-1.0";               // the installed editor's fixture
    const wchar_t* Drive = nullptr; // the editor in its root folder, not in work\Tavo PDF
    Editor Choice = Editor::CommitsAndExits;
    const char* SetupDoes = "";        // the EXE setup: an exit code, or "crash"
    bool RestartedEditorExits = false; // every later start of the editor ends within 1 s
    const wchar_t* SuiteApp = L"";     // started in the install folder before the helper
    bool SuiteAppAfterReady = false;
    // The helper beside planted version.dll, msi.dll and bcrypt.dll, which
    // Wine is told to prefer as Windows would.
    bool PlantedLibraries = false;
    bool Pinned = false; // the publisher's two keys pinned, the old and the renewed
    // The editor (this test program, from then on) runs in a job with these limits.
    DWORD JobLimits = 0;
    // Changes the order or the world around it; another program's handle it
    // opens stays open until the test ends.
    void (*Edit)(Work work, UpdateOrder&) = nullptr;
    // A command line the library would refuse, given to the helper all the same.
    void (*Tamper)(Arguments&) = nullptr;
};

struct Outcome {
    DWORD ExitCode;
    // null: nothing written; the editor's side removed the earlier text (a
    // tampered start does not, and the file still holds what it held)
    const char* Status;
    const wchar_t* Installed; // the installed editor's fixture afterwards
    size_t Restarts;
    size_t InstallerRuns;
};

// What a row changes, and what it expects.
struct Row {
    const char* Situation;
    Scenario Given;
    Outcome Expect;
};

// What every restarted editor must get back exactly, and the command line
// that carries it; a status file text longer than every outcome text, so that
// a write that does not replace the whole file leaves bytes behind.
const Arguments& EditorArguments = AwkwardArguments;
const std::wstring EditorArgumentsQuoted =
    L" \"--open\" \"C:\\Docs\\Q3 report.pdf\" \"\" \"tab\there\" \"say \\\"hi\\\"\" "
    L"\"ends\\with\\\\\" \"\\\\srv\\s\\\\\" \"中文 ünï\" \"\U0001F600\" "
    L"\"a\\\\\\\"b\" \"\\\\\\\\\\\"\\\\\\\\\"";
const std::string StatusBefore(120, '#');

const wchar_t V1[] = L"editor-1.0"; // the installed editor's fixtures
const wchar_t V2[] = L"editor-2.0";
const char Installed[] = "Installed successfully.";
const char ChecksumFailed[] = "Update checksum failed.";
const char Mismatch[] = "Unsupported installer or release version mismatch.";
const char NotNewer[] = "The installed application is already at this version or newer, or "
                        "its version cannot be verified.";
const wchar_t Setup[] = L"packages\\editor-2.0.exe"; // made by NSIS

HANDLE HoldOpenForWriting(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// The package becomes that many zero bytes, with their SHA-256.
void ZeroPackage(UpdateOrder& order, std::uintmax_t size) {
    std::filesystem::resize_file(order.PackagePath, 0);
    std::filesystem::resize_file(order.PackagePath, size);
    order.PackageSha256 =
        size == 0             ? L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"
        : size == (1LL << 31) ? L"a7c744c13cc101ed66c29f672f92455547889cc586ce6d44fe76ae824958ea51"
                              : L"b8030a8ab89280935633d8d991da3d9907c0f12e8b6fc3bfc515f4d440872b6e";
}

void OverTwoGibibytes(Work, UpdateOrder& order) {
    ZeroPackage(order, (1LL << 31) + 1);
}

// The package's checksum follows the change.
void DescribeSetupInLowerCase(Work, UpdateOrder& order) {
    CopySetupDescribedInLowerCase(order.PackagePath, order.PackagePath);
    order.PackageSha256 = Sha256OfFile(order.PackagePath);
}

void CapitalsSlashesAndNoArguments(Work, UpdateOrder& order) {
    CharUpperW(order.PackageSha256.data());
    order.EditorArguments.clear();
    std::replace(order.PackagePath.begin(), order.PackagePath.end(), L'\\', L'/');
    order.EditorPath->replace(order.EditorPath->rfind(L'\\'), 99, L"//TAVOPDFEDITOR.EXE");
}

// A copy in another folder (not one the helper lies in, which is refused).
void ParentRunsACopy(Work work, UpdateOrder& order) {
    CopyFileW(order.EditorPath->c_str(), (work + L"\\State\\tavoPDFEditor.exe").c_str(), 0);
    order.EditorPath = work + L"\\State\\tavoPDFEditor.exe";
}

const Row Rows[] = {
    // The slowest first: it sets the suite's length.
    {"EditorCommitsButNeverExits",
     {.Choice = Editor::CommitsAndStays},
     {5, "The editor did not exit; installation was not started.", V1, 0, 0}},
    {"MsiAsksForWindowsRestart",
     {.Package = L"packages\\editor-2.0-2.msi"},
     {0, "Installed; Windows restart may also be required.", V2, 1, 1}},
    {"ExeUpdateBesidePlantedLibrariesWithCommitAndCancelBothSet",
     {.Package = Setup, .Choice = Editor::CommitsAndCancels, .PlantedLibraries = true},
     {0, Installed, V2, 1, 1}},
    {"SignedMsiWithThePublishersKeysPinned",
     {.Package = L"packages\\signed\\editor-2.0-3.msi", .Pinned = true},
     {0, Installed, V2, 1, 1}},
    {"SetupSignedWithTheRenewedOfTwoPinnedKeys",
     {.Package = L"packages\\signed\\editor-2.0-renewed.exe", .Pinned = true},
     {0, Installed, V2, 1, 1}},
    {"MsiUpdateBesideLibrariesPlantedToBePreferred",
     {.PlantedLibraries = true},
     {0, Installed, V2, 1, 1}},
    {"ChecksumInCapitalsPathsWithForwardSlashesAndNoEditorArguments",
     {.Package = Setup, .Edit = CapitalsSlashesAndNoArguments},
     {0, Installed, V2, 1, 1}},
    {"ExeSetupAsksForWindowsRestart",
     {.Package = Setup, .SetupDoes = "3010"},
     {6, "Installation failed. Exit code: 3010", V2, 1, 1}},
    {"ExeSetupCrashes",
     {.Package = Setup, .SetupDoes = "crash"},
     {6, "Installation failed. Exit code: 3221225477", V1, 1, 1}},
    {"EditorCannotBeRestarted",
     {.Package = Setup, .RestartedEditorExits = true},
     {6, "Installed successfully, but the editor could not be restarted.", V2, 2, 1}},
    {"SuiteApplicationStartsWhileEditorExits",
     {.Package = Setup, .SuiteApp = L"NorvexViewer.exe", .SuiteAppAfterReady = true},
     {6, "Another PDF application is still running. Installation was not started.", V1, 1, 0}},
    {"SuiteApplicationRunsBeforeTheUpdate",
     {.SuiteApp = L"norvexcompare.EXE"},
     {4, "Close other PDF editor, viewer, comparison and command-line instances before updating.",
      V1, 0, 0}},
    {"ChecksumDiffers",
     {.Edit = [](Work, UpdateOrder& o) { o.PackageSha256 = std::wstring(64, L'0'); }},
     {4, ChecksumFailed, V1, 0, 0}},
    {"EmptyPackage",
     {.Edit = [](Work, UpdateOrder& o) { ZeroPackage(o, 0); }},
     {4, ChecksumFailed, V1, 0, 0}},
    {"PackageOfExactlyTwoGibibytesIsHashedThenNotAnMsi",
     {.Edit = [](Work, UpdateOrder& o) { ZeroPackage(o, 1LL << 31); }},
     {4, Mismatch, V1, 0, 0}},
    {"EditorCancelsWhileTheHelperHashesTwoGibibytesThenCommits",
     {.Choice = Editor::CancelsThenCommits, .Edit = OverTwoGibibytes},
     {0, nullptr, V1, 0, 0}},
    {"PackageOneByteOverTwoGibibytes", {.Edit = OverTwoGibibytes}, {4, ChecksumFailed, V1, 0, 0}},
    {"PackageHeldOpenForWriting",
     {.Edit = [](Work, UpdateOrder& o) { HoldOpenForWriting(o.PackagePath); }},
     {4, ChecksumFailed, V1, 0, 0}},
    {"PackageIsNotTheTargetVersion",
     {.Edit = [](Work, UpdateOrder& o) { o.TargetVersion = L"3.0"; }},
     {4, Mismatch, V1, 0, 0}},
    {"SetupDescribedInLowerCase",
     {.Package = Setup, .Edit = DescribeSetupInLowerCase},
     {4, Mismatch, V1, 0, 0}},
    // NSIS refuses a drive's root folder as /D= unless its script allows it,
    // and then installs into its default folder.
    {"ExeEditorAtADriveRootWhereTheSetupAllowsIt",
     {.Package = L"packages\\editor-2.0-root.exe", .Drive = L"R:"}, // AllowRootDirInstall
     {0, Installed, V2, 1, 1}},
    {"ExeEditorAtADriveRootWhereTheSetupRefusesIt",
     {.Package = Setup, .Drive = L"S:"},
     {6, "The installed application version does not match the requested update.", V1, 1, 1}},
    {"EditorAlreadyAtTargetVersion", {.Installed = V2}, {4, NotNewer, V2, 0, 0}},
    {"EditorVersionUnreadable", {.Installed = L"unversioned"}, {4, NotNewer, L"unversioned", 0, 0}},
    {"EditorInAJobThatEndsItsProcessesOnCloseAndAllowsBreakaway",
     {.Package = Setup,
      .JobLimits = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK},
     {0, Installed, V2, 1, 1}},
    {"EditorEndsBeforeDeciding", {.Choice = Editor::EndsUndecided}, {0, nullptr, V1, 0, 0}},
    {"HandoffEventsMissing",
     {.Tamper = [](Arguments& a) { a[ArgumentHandoffName] += L"-none"; }},
     {3, "Cannot open update handoff events or editor process. Windows error: 2", V1, 0, 0}},
    {"ParentRunsAnotherCopyOfTheEditor",
     {.Edit = ParentRunsACopy},
     {3, "The update parent is not the requested editor executable.", V1, 0, 0}},
    {"PackageKindInCapitals",
     {.Tamper = [](Arguments& a) { a[ArgumentPackageKind] = L"MSI"; }},
     {2, nullptr, V1, 0, 0}},
    {"ProcessIdWithoutDigitsInNineElements",
     {.Tamper = [](Arguments& a) { a[ArgumentProcessId] = L"x", a.resize(9); }},
     {7, "Unexpected error while preparing the update.", V1, 0, 0}},
    // Nothing is written in the helper's folder, its working folder.
    {"ProcessIdWithoutDigitsAndARelativeStatusPath",
     {.Tamper = [](Arguments& a) { a[ArgumentProcessId] = L"x", a[ArgumentStatusFile] = L"s"; }},
     {7, nullptr, V1, 0, 0}},
    {"StatusFolderMissing",
     {.Package = Setup, .Tamper = [](Arguments& a) { a[ArgumentStatusFile] += L"-\\s"; }},
     {0, nullptr, V2, 1, 1}},
};

// ctest and gtest name a row by its situation.
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.Situation;
}

class UpdateOutcome : public testing::TestWithParam<Row> {};

// A copy of the helper in a folder of its own, which is its working folder,
// under a name of its own (the work folder's) so that Wine's per-program load
// order applies to it alone; for some rows beside planted libraries.
std::wstring CopyHelper(Work work, bool planted) {
    const std::wstring folder = work + L"\\Helper";
    const std::wstring name = work.substr(work.rfind(L'\\') + 1) + L".exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW(HelperExecutablePath().c_str(), (folder + L"\\" + name).c_str(), FALSE);
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + name + L"\\DllOverrides";
    for (const std::wstring library : {L"version", L"msi", L"bcrypt"}) {
        if (planted) {
            RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), library.c_str(), REG_SZ,
                            L"native,builtin", sizeof(L"native,builtin"));
            CopyFileW((FixturesFolder() + L"\\planted\\" + library + L".dll").c_str(),
                      (folder + L"\\" + library + L".dll").c_str(), FALSE);
        }
    }
    return folder + L"\\" + name;
}

std::wstring Widen(const char* ascii) {
    return std::wstring(ascii, ascii + std::strlen(ascii));
}

TEST_P(UpdateOutcome, LeavesTheExpectedTraces) {
    const Scenario& given = GetParam().Given;
    const Outcome& expect = GetParam().Expect;
    const std::wstring work = MakeWorkFolder(L"update");
    const std::wstring editor =
        (given.Drive != nullptr ? given.Drive : work + L"\\Tavo PDF") + L"\\tavoPDFEditor.exe";
    const std::wstring install = ParentFolder(editor);
    const bool isMsi = std::wstring(given.Package).ends_with(L".msi");
    const std::wstring package = work + (isMsi ? L"\\update 2.0.msi" : L"\\Setup 2.0.exe");
    CreateDirectoryW(install.c_str(), nullptr);
    CreateDirectoryW((work + L"\\State").c_str(), nullptr);
    const std::wstring fixtures = FixturesFolder() + L"\\";
    CopyFileW((fixtures + given.Installed + L"\\tavoPDFEditor.exe").c_str(), editor.c_str(), 0);
    CopyFileW((fixtures + given.Package).c_str(), package.c_str(), FALSE);
    WriteBytes(work + L"\\behaviour.txt", given.SetupDoes);
    UpdateHandoff handoff;
    ASSERT_EQ(CreateUpdateHandoff(handoff), 0u);
    // Decided before the helper even starts (SetEvent on no event does nothing).
    for (const HANDLE event : {handoff.Cancel.get(), handoff.Commit.get()}) {
        SetEvent(given.Choice == Editor::CommitsAndCancels ? event : nullptr);
    }
    StartedProcess user = StartStandIn(editor);
    WriteBytes(install + L"\\behaviour.txt", given.RestartedEditorExits ? "exit" : "");
    StartedProcess suiteApp;
    const auto startSuiteApp = [&](bool afterReady) {
        if (*given.SuiteApp != L'\0' && given.SuiteAppAfterReady == afterReady) {
            suiteApp = StartStandIn(install + L"\\" + given.SuiteApp);
        }
    };
    startSuiteApp(false);

    const std::wstring helper = CopyHelper(work, given.PlantedLibraries);
    // A forward slash, which the status path keeps wherever it is shown.
    const std::wstring status = work + L"\\State/update status.txt";
    const PackageFormat kind = isMsi ? PackageFormat::Msi : PackageFormat::Exe;
    UpdateOrder order = {helper, package,         Sha256OfFile(package), kind,   L"2.0",
                         status, EditorArguments, user.ProcessId,        editor, {}};
    if (given.Pinned) {
        order.PublisherKeys = {KeyPin(L"publisher"), KeyPin(L"renewed")};
    }
    if (given.Edit != nullptr) {
        given.Edit(work, order);
    }
    WriteBytes(order.StatusFilePath, StatusBefore);
    // The editor's current folder, which the helper must not hold open.
    const std::wstring startIn = work + L"\\Start in";
    CreateDirectoryW(startIn.c_str(), nullptr);
    SetCurrentDirectoryW(startIn.c_str());
    // Never closed: this program is in the job, which would end it.
    const HANDLE job = given.JobLimits != 0 ? CreateJobObjectW(nullptr, nullptr) : nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = given.JobLimits;
    ASSERT_TRUE(!job || (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                                 sizeof(limits)) &&
                         AssignProcessToJobObject(job, GetCurrentProcess())));
    ASSERT_TRUE(StartHelper(order, handoff, given.Tamper));
    // The bytes whose signer was checked are held until the helper holds them.
    EXPECT_TRUE(!given.Pinned || HoldOpenForWriting(package) == INVALID_HANDLE_VALUE);
    SetCurrentDirectoryW(work.c_str());
    // When the editor's job closes, it ends the processes in it: never the helper.
    BOOL helperInJob = FALSE;
    EXPECT_FALSE(job && IsProcessInJob(handoff.Helper.get(), job, &helperInJob) && helperInJob);

    ULONGLONG committed = 0;
    const bool checking = given.Choice == Editor::CancelsThenCommits; // hashing 2 GiB
    const HelperReadiness readiness = AwaitHelperReady(handoff, checking ? 0 : 60000);
    if (checking) { // it would write its refusal after the cancel, into a later attempt's file
        EXPECT_EQ(CancelUpdate(handoff), CancelResult::Cancelled);
        EXPECT_EQ(CommitUpdate(handoff), CommitResult::Cancelled);
    } else if (readiness.State == HelperState::Ready) {
        // Until the editor decides, nobody may change the package the helper
        // verified, and the helper holds none of the editor's folders open.
        EXPECT_EQ(HoldOpenForWriting(package), INVALID_HANDLE_VALUE);
        EXPECT_FALSE(DeleteFileW(package.c_str()) ||
                     MoveFileW(package.c_str(), (package + L"~").c_str()));
        EXPECT_TRUE(RemoveDirectoryW(startIn.c_str())) << GetLastError();
        startSuiteApp(true);
        if (given.Choice >= Editor::CommitsAndExits) {
            committed = GetTickCount64();
            EXPECT_EQ(CommitUpdate(handoff), CommitResult::Committed);
            EXPECT_EQ(CancelUpdate(handoff), CancelResult::CommitStands); // and the helper goes on
        }
        if (given.Choice != Editor::CommitsAndStays) {
            TerminateProcess(user.Process, 0);
        }
    } else { // a refusal comes back to the editor as it left the helper
        EXPECT_EQ(readiness.State, HelperState::EndedBeforeReady);
        EXPECT_EQ(readiness.ExitCode, expect.ExitCode);
        EXPECT_EQ(readiness.Outcome.Text, Widen(expect.Status != nullptr ? expect.Status : ""));
    }
    // The user reads why the update failed before the editor comes back.
    size_t startsAtFirstDialog = 0;
    const HelperEnd end = AwaitHelperEnd(
        handoff.Helper.get(), handoff.HelperProcessId, 180000, [&](const std::wstring&) {
            startsAtFirstDialog += startsAtFirstDialog == 0 ? ReadStarts(install).size() : 0;
        });
    const ULONGLONG ended = GetTickCount64();
    EXPECT_NE(CommitUpdate(handoff), CommitResult::Committed) << "to a helper that has ended";
    auto starts = ReadStarts(install, 1 + expect.Restarts + (*given.SuiteApp != 0));
    EndStandIns(install);
    EndProcess(user);
    EndProcess(suiteApp);

    ASSERT_TRUE(end.Ended) << "the helper did not end in time";
    EXPECT_EQ(end.ExitCode, expect.ExitCode);
    if (expect.ExitCode == 5) { // an editor has two minutes to close its documents, no more
        EXPECT_GE(ended - committed, 120000u);
        EXPECT_LT(ended - committed, 130000u);
    }
    // Every start but the last, the dialog's own, had happened.
    EXPECT_EQ(startsAtFirstDialog, expect.ExitCode == 6 ? starts.size() - 1 : 0u);
    EXPECT_EQ(ReadBytes(order.StatusFilePath), expect.Status != nullptr ? expect.Status
                                               : given.Tamper == nullptr
                                                   ? std::nullopt // removed by the library
                                                   : std::optional(StatusBefore));
    std::vector<std::wstring> dialogs;
    const std::wstring box = L"Tavo PDF update [error icon, OK]: ";
    if (expect.ExitCode == 6) {
        dialogs.push_back(box + Widen(expect.Status) + L"\n\nLog: " + order.StatusFilePath +
                          L"\n更新未完成，将尝试重新打开编辑器。\n" +
                          L"The editor will be reopened if available.");
    }
    if (expect.Restarts == 2) { // the success path's restart failed, and so did the dialog's
        dialogs.push_back(box +
                          L"无法重新打开编辑器，"
                          L"请从快捷方式启动或修复安装。\n" +
                          L"Cannot reopen the editor. Please start it from its shortcut or " +
                          L"repair the installation.");
    }
    EXPECT_EQ(end.Dialogs, dialogs);
    EXPECT_EQ(ReadBytes(editor), ReadBytes(fixtures + expect.Installed + L"\\tavoPDFEditor.exe"));

    // Every start of the editor (the user's first), then the setup's runs.
    const std::wstring restarted = install + L"> \"" + WithBackslashes(*order.EditorPath) + L"\"" +
                                   (order.EditorArguments.empty() ? L"" : EditorArgumentsQuoted);
    std::vector<std::wstring> expected = {install + L"> \"" + editor + L"\""};
    if (*given.SuiteApp != L'\0') {
        expected.push_back(install + L"> \"" + install + L"\\" + given.SuiteApp + L"\"");
    }
    expected.insert(expected.end(), expect.Restarts, restarted);
    expected.insert(expected.end(), isMsi ? 0 : expect.InstallerRuns,
                    install + L"> \"" + package + L"\" /S /D=" + install + L" (show 1,0)");
    const std::vector<std::wstring> setupRuns = ReadStarts(work);
    starts.insert(starts.end(), setupRuns.begin(), setupRuns.end());
    EXPECT_EQ(starts, expected);

    // The helper's folder, its working folder, holds only what the row put
    // there: nothing written beside it, and no planted library ran.
    for (const auto& file : std::filesystem::directory_iterator(work + L"\\Helper")) {
        const std::wstring name = file.path().filename().wstring();
        EXPECT_TRUE(name.ends_with(L".exe") || name.ends_with(L".dll")) << name;
    }
}

// An editor written in C and built for the MSVC ABI updates through the C
// interface: started, ready, committed, exited, installed and started again,
// the outcome read back as installed; a refusal comes back as code and words.
TEST(CInterface, UpdatesAnEditorBuiltInCForTheMsvcAbi) {
    const std::wstring work = MakeWorkFolder(L"c-editor"), install = work + L"\\Tavo PDF";
    const std::wstring editor = install + L"\\tavoPDFEditor.exe", package = work + L"\\setup.exe";
    CreateDirectoryW(install.c_str(), nullptr);
    CopyFileW((FixturesFolder() + L"\\editor-1.0\\tavoPDFEditor.exe").c_str(), editor.c_str(), 0);
    CopyFileW((FixturesFolder() + L"\\packages\\signed\\editor-2.0.exe").c_str(), package.c_str(),
              0);
    StartedProcess user = StartStandIn(editor);
    // Offered by the signed feed that the test command published with the
    // signed setup, downloaded by the C editor first.
    std::wstring web(4096, L'\0');
    web.resize(GetEnvironmentVariableW(L"TAVO_TEST_WEB", web.data(), 4096));
    CreateDirectoryW((work + L"\\Downloads").c_str(), nullptr);
    const std::pair<const wchar_t*, std::wstring> order[] = {
        {L"TAVO_HELPER", CopyHelper(work, false)},
        {L"TAVO_FEED", web + L"/stable.json"},
        {L"TAVO_FEED_KEY", KeyPin(L"feed-ec")},
        {L"TAVO_PUBLISHER_KEY", KeyPin(L"publisher")},
        {L"TAVO_STATE", work + L"\\state.json"},
        {L"TAVO_DOWNLOADS", work + L"\\Downloads"},
        {L"TAVO_STATUS", work + L"\\status.txt"},
        {L"TAVO_EDITOR", editor},
        {L"TAVO_EDITOR_ID", std::to_wstring(user.ProcessId)}};
    for (const auto& [name, value] : order) {
        SetEnvironmentVariableW(name, value.c_str());
    }
    const std::wstring program = ExecutableFolder() + L"\\c_editor.exe";
    StartedProcess cEditor = StartProcess(program, L"c_editor.exe", work);
    DWORD exitCode = 99;
    WaitForSingleObject(cEditor.Process, 120000);
    GetExitCodeProcess(cEditor.Process, &exitCode);
    EXPECT_EQ(exitCode, 0u) << "the step that failed";
    EXPECT_EQ(ReadStarts(install, 2).size(), 2u) << "the editor, then the editor started again";
    EXPECT_EQ(ReadBytes(editor), ReadBytes(FixturesFolder() + L"\\editor-2.0\\tavoPDFEditor.exe"));
    EXPECT_TRUE(ReadBytes(work + L"\\Downloads\\tavoPDF-2.0.exe") == ReadBytes(package));
    EndStandIns(install);
    EndProcess(user);
    EndProcess(cEditor);
}

INSTANTIATE_TEST_SUITE_P(Situations, UpdateOutcome, testing::ValuesIn(Rows),
                         testing::PrintToStringParamName());

} // namespace
