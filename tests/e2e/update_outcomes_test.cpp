// Every outcome of an update that Wine can produce, driven as the editor
// drives it, against the real helper exe: one row per situation, each run in
// folders of its own (so rows run in parallel), each checked for what leaves
// the helper: exit code, status file bytes, dialog texts, the installed
// editor, the installer's and the restarted editor's command lines.

#include "editor_side.h"
#include "install/editor_restart.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Arguments = std::vector<std::wstring>;

enum class Editor { CommitsAndExits, Cancels, CommitsAndCancels, EndsUndecided, CommitsAndStays };
enum class Held { Nothing, Package, StatusFile }; // open for writing by another program

struct Scenario {
    const wchar_t* Package = L"packages\\editor-2.0.msi"; // a fixture
    const wchar_t* Setup = L"";                           // what a stand-in setup does
    const wchar_t* Installed = L"editor-1.0";             // the installed editor's fixture
    const wchar_t* Target = L"2.0";
    Editor Choice = Editor::CommitsAndExits;
    const wchar_t* SuiteApp = L""; // started in the install folder before the helper
    bool SuiteAppAfterReady = false;
    bool RestartsFail = false;
    bool Events = true;
    Held HeldOpen = Held::Nothing;
    // A copy of the helper beside planted version.dll, msi.dll and bcrypt.dll,
    // which Wine is told to prefer as Windows would; or the one library Wine
    // is told not to load for the helper.
    bool Planted = false;
    const wchar_t* Missing = L"";
    void (*Edit)(const std::wstring& work, Arguments&) = nullptr; // arguments 1 onward
};

struct Outcome {
    DWORD ExitCode;
    const char* Status; // null: the status file still holds what it held before
    const wchar_t* Installed;
    size_t Restarts;
    size_t InstallerRuns;
};

struct Row {
    const char* Situation;
    Scenario Given;
    Outcome Expected;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.Situation;
}

const wchar_t Setup[] = L"setup\\tavoPDFEditor.exe";
const wchar_t V1[] = L"editor-1.0";
const wchar_t V2[] = L"editor-2.0";
const char Installed[] = "Installed successfully.";
const char Mismatch[] = "Unsupported installer or release version mismatch.";
const char NotOlder[] = "The installed application is already at this version or newer, or its "
                        "version cannot be verified.";
const char ChecksumFailed[] = "Update checksum failed.";

// What every restarted editor must get back exactly, and the command line
// that carries it.
const Arguments EditorArguments = {L"--open",
                                   L"C:\\Docs\\Q3 report.pdf",
                                   L"",
                                   L"tab\there",
                                   L"say \"hi\"",
                                   L"ends\\with\\",
                                   L"\\\\srv\\s\\",
                                   L"中文 ünï",
                                   L"\U0001F600"};
const wchar_t EditorArgumentsQuoted[] =
    L"\"--open\" \"C:\\Docs\\Q3 report.pdf\" \"\" \"tab\there\" \"say \\\"hi\\\"\" "
    L"\"ends\\with\\\\\" \"\\\\srv\\s\\\\\" \"中文 ünï\" \"\U0001F600\"";
// Longer than every outcome text: a write that does not replace the whole
// file leaves bytes behind.
const std::string StatusBefore(120, '#');

// clang-format off
const Row Rows[] = {
    // The slowest first: it sets the suite's length.
    {"EditorCommitsButNeverExits", {.Choice = Editor::CommitsAndStays}, {5, "The editor did not exit; installation was not started.", V1, 0, 0}},
    {"MsiUpdate", {}, {0, Installed, V2, 1, 1}},
    {"MsiAsksForWindowsRestart", {.Package = L"packages\\editor-2.0-reboot.msi"}, {0, "Installed; Windows restart may also be required.", V2, 1, 1}},
    {"ExeUpdate", {.Package = Setup}, {0, Installed, V2, 1, 1}},
    {"ExeUpdateBesidePlantedLibraries", {.Package = Setup, .Planted = true}, {0, Installed, V2, 1, 1}},
    {"MsiUpdateBesidePlantedLibraries", {.Planted = true}, {0, Installed, V2, 1, 1}},
    {"EditorSetsCommitAndCancel", {.Package = Setup, .Choice = Editor::CommitsAndCancels}, {0, Installed, V2, 1, 1}},
    {"PathsWithForwardSlashesAndOtherLetterCase", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) {
        std::replace(a[2].begin(), a[2].end(), L'\\', L'/'), a[4] = a[4].substr(0, a[4].rfind(L'\\')) + L"//TAVOPDFEDITOR.EXE"; }},
        {0, Installed, V2, 1, 1}},
    {"ExeSetupAsksForWindowsRestart", {.Package = Setup, .Setup = L"3010"}, {6, "Installation failed. Exit code: 3010", V2, 1, 1}},
    {"ExeSetupFails", {.Package = Setup, .Setup = L"1"}, {6, "Installation failed. Exit code: 1", V2, 1, 1}},
    {"ExeSetupCrashes", {.Package = Setup, .Setup = L"crash"}, {6, "Installation failed. Exit code: 3221225477", V1, 1, 1}},
    {"ExeSetupInstallsNothing", {.Package = Setup, .Setup = L"idle"}, {6, "The installed application version does not match the requested update.", V1, 1, 1}},
    {"EditorCannotBeRestartedAndStatusPathHasSlashes", {.RestartsFail = true, .Edit = [](const std::wstring&, Arguments& a) {
        std::replace(a[7].begin(), a[7].end(), L'\\', L'/'); }},
        {6, "Installed successfully, but the editor could not be restarted.", V2, 2, 1}},
    {"SuiteApplicationStartsWhileEditorExits", {.Package = Setup, .SuiteApp = L"NorvexViewer.exe", .SuiteAppAfterReady = true}, {6, "Another PDF application is still running. Installation was not started.", V1, 1, 0}},
    {"SuiteApplicationRunsBeforeTheUpdate", {.SuiteApp = L"norvexcompare.EXE"}, {4, "Close other PDF editor, viewer, comparison and command-line instances before updating.", V1, 0, 0}},
    {"ChecksumDiffers", {.Edit = [](const std::wstring&, Arguments& a) { a[3] = std::wstring(64, L'0'); }}, {4, ChecksumFailed, V1, 0, 0}},
    {"PackageHeldOpenForWriting", {.HeldOpen = Held::Package}, {4, ChecksumFailed, V1, 0, 0}},
    {"ChecksumLibraryCannotBeLoaded", {.Missing = L"bcrypt"}, {4, ChecksumFailed, V1, 0, 0}},
    {"PackageIsNotTheTargetVersion", {.Target = L"3.0"}, {4, Mismatch, V1, 0, 0}},
    {"InstallerDatabaseLibraryCannotBeLoaded", {.Missing = L"msi"}, {4, Mismatch, V1, 0, 0}},
    {"ExeIsAnotherVendorsSetup", {.Package = L"setup-foreign\\tavoPDFEditor.exe"}, {4, Mismatch, V1, 0, 0}},
    {"ExeSetupDescriptionInLowerCase", {.Package = L"setup-lowercase\\tavoPDFEditor.exe"}, {4, Mismatch, V1, 0, 0}},
    {"EditorAlreadyAtTargetVersion", {.Installed = V2}, {4, NotOlder, V2, 0, 0}},
    {"EditorVersionUnreadable", {.Installed = L"unversioned"}, {4, NotOlder, L"unversioned", 0, 0}},
    {"EditorCancels", {.Choice = Editor::Cancels}, {0, nullptr, V1, 0, 0}},
    {"EditorEndsBeforeDeciding", {.Choice = Editor::EndsUndecided}, {0, nullptr, V1, 0, 0}},
    {"HandoffEventsMissing", {.Events = false}, {3, "Cannot open update handoff events or editor process. Windows error: 2", V1, 0, 0}},
    {"ParentRunsAnotherCopyOfTheEditor", {.Edit = [](const std::wstring& work, Arguments& a) {
        CopyFileW(a[4].c_str(), (work + L"\\tavoPDFEditor.exe").c_str(), FALSE), a[4] = work + L"\\tavoPDFEditor.exe"; }},
        {3, "The update parent is not the requested editor executable.", V1, 0, 0}},
    {"PackageKindInCapitals", {.Edit = [](const std::wstring&, Arguments& a) { a[6] = L"MSI"; }}, {2, nullptr, V1, 0, 0}},
    {"ProcessIdWithoutDigitsInExactlyNineElements", {.Edit = [](const std::wstring&, Arguments& a) { a[0] = L"x", a.resize(8); }}, {7, "Unexpected error while preparing the update.", V1, 0, 0}},
    {"ProcessIdWithoutDigitsAndRelativeStatusPath", {.Edit = [](const std::wstring&, Arguments& a) { a[0] = L"", a[7] = L"status.txt"; }}, {7, nullptr, V1, 0, 0}},
    {"StatusFolderMissing", {.Package = Setup, .Edit = [](const std::wstring& work, Arguments& a) { a[7] = work + L"\\Missing\\s.txt"; }}, {0, nullptr, V2, 1, 1}},
    {"StatusFileHeldOpenByAnotherProgram", {.Package = Setup, .HeldOpen = Held::StatusFile}, {0, nullptr, V2, 1, 1}},
};
// clang-format on

class UpdateOutcome : public testing::TestWithParam<Row> {};

HANDLE HoldForWriting(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// While the helper waits for the editor's decision, nobody may change the
// package it verified.
void ExpectPackageUnchangeable(const std::wstring& package) {
    const HANDLE writer = HoldForWriting(package);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "the verified package could be opened for writing";
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
    }
    EXPECT_FALSE(DeleteFileW(package.c_str())) << "the verified package could be deleted";
    EXPECT_FALSE(MoveFileW(package.c_str(), (package + L"~").c_str())) << "... or renamed";
}

// A copy of the helper under a name of its own, so that Wine's per-program
// settings (its load order) apply to this run alone; planted libraries beside
// it when asked.
std::wstring CopyHelperWithLoadOrder(const std::wstring& folder, const Scenario& given) {
    const std::wstring name = L"helper-" + folder.substr(folder.rfind(L'\\') + 1) + L".exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW(HelperExecutablePath().c_str(), (folder + L"\\" + name).c_str(), FALSE);
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + name + L"\\DllOverrides";
    for (const std::wstring library : {L"version", L"msi", L"bcrypt"}) {
        const std::wstring order = given.Planted ? L"native,builtin" : L"";
        if (given.Planted || library == given.Missing) {
            RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), library.c_str(), REG_SZ, order.c_str(),
                            static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t)));
        }
        if (given.Planted) {
            CopyFileW((FixturesFolder() + L"\\planted\\" + library + L".dll").c_str(),
                      (folder + L"\\" + library + L".dll").c_str(), FALSE);
        }
    }
    return folder + L"\\" + name;
}

TEST_P(UpdateOutcome, LeavesTheExpectedTraces) {
    const Scenario& given = GetParam().Given;
    const Outcome& expected = GetParam().Expected;
    const std::wstring work = MakeWorkFolder(L"update");
    const std::wstring install = work + L"\\Program Files\\Tavo PDF";
    const std::wstring downloads = work + L"\\Downloads";
    const std::wstring helperCwd = work + L"\\Cwd";
    for (const std::wstring& folder :
         {work + L"\\Program Files", install, downloads, helperCwd, work + L"\\State"}) {
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    const std::wstring editorPath = install + L"\\tavoPDFEditor.exe";
    const bool isMsi = std::wstring(given.Package).ends_with(L".msi");
    const std::wstring package = downloads + (isMsi ? L"\\update 2.0.msi" : L"\\Setup 2.0.exe");
    const std::wstring statusPath = work + L"\\State\\update status.txt";
    CopyFileW((FixturesFolder() + L"\\" + given.Installed + L"\\tavoPDFEditor.exe").c_str(),
              editorPath.c_str(), FALSE);
    CopyFileW((FixturesFolder() + L"\\" + given.Package).c_str(), package.c_str(), FALSE);
    WriteBytes(downloads + L"\\behaviour.txt", WideToUtf8(given.Setup));
    WriteBytes(statusPath, StatusBefore);

    // Without events the helper finds none: the names stay, the events go.
    HandoffEvents events = CreateHandoffEvents(work.substr(work.rfind(L'\\') + 1));
    if (!given.Events) {
        CloseHandoffEvents(events);
    }
    if (given.Choice == Editor::Cancels || given.Choice == Editor::CommitsAndCancels) {
        SetEvent(events.Cancel);
    }
    if (given.Choice == Editor::CommitsAndCancels) {
        SetEvent(events.Commit);
    }
    StartedProcess editor = StartProcess(editorPath, L"\"" + editorPath + L"\" --user", install);
    ASSERT_TRUE(AwaitEditorStarted(install));
    if (given.RestartsFail) {
        WriteBytes(install + L"\\behaviour.txt", "exit");
    }
    StartedProcess suiteApp;
    if (*given.SuiteApp != L'\0' && !given.SuiteAppAfterReady) {
        suiteApp = StartStandIn(install + L"\\" + given.SuiteApp);
    }
    const HANDLE held = given.HeldOpen == Held::Package      ? HoldForWriting(package)
                        : given.HeldOpen == Held::StatusFile ? HoldForWriting(statusPath)
                                                             : INVALID_HANDLE_VALUE;

    Arguments arguments = {std::to_wstring(editor.ProcessId),
                           events.Name,
                           package,
                           Sha256OfFile(package),
                           editorPath,
                           given.Target,
                           isMsi ? L"msi" : L"exe",
                           statusPath};
    arguments.insert(arguments.end(), EditorArguments.begin(), EditorArguments.end());
    if (given.Edit != nullptr) {
        given.Edit(work, arguments);
    }
    const std::wstring helperPath = given.Planted || *given.Missing != L'\0'
                                        ? CopyHelperWithLoadOrder(work + L"\\Helper", given)
                                        : HelperExecutablePath();
    const ULONGLONG started = GetTickCount64();
    StartedProcess helper = StartProcess(
        helperPath, BuildRestartCommandLine(helperPath, JoinRestartArguments(arguments)),
        helperCwd);
    ASSERT_NE(helper.Process, nullptr);

    if (given.Events && AwaitReady(events, helper, 30000) == ReadyWait::Ready) {
        if (given.Choice != Editor::Cancels) { // a cancelled helper may be gone already
            ExpectPackageUnchangeable(package);
        }
        if (given.SuiteAppAfterReady) {
            suiteApp = StartStandIn(install + L"\\" + given.SuiteApp);
        }
        if (given.Choice == Editor::CommitsAndExits || given.Choice == Editor::CommitsAndStays) {
            SetEvent(events.Commit);
        }
        if (given.Choice != Editor::CommitsAndStays) {
            AskStandInToExit(editor.ProcessId);
        }
    }
    // The failure dialog starts the editor again only once it has been closed.
    size_t launchesAtFirstDialog = 0;
    const HelperEnd end = AwaitHelperEnd(
        helper, given.Choice == Editor::CommitsAndStays ? 180000 : 60000, [&](const DialogSeen&) {
            launchesAtFirstDialog =
                launchesAtFirstDialog != 0 ? launchesAtFirstDialog : ReadLaunches(install).size();
        });
    const ULONGLONG elapsed = GetTickCount64() - started;
    if (held != INVALID_HANDLE_VALUE) {
        CloseHandle(held);
    }
    const std::vector<Launch> launches = ReadLaunches(install);
    const std::vector<Launch> setupRuns = ReadLaunches(downloads);
    EndLaunches(launches);
    EndProcess(editor);
    EndProcess(suiteApp);
    EndProcess(helper);
    CloseHandoffEvents(events);

    ASSERT_TRUE(end.Ended) << "the helper did not end in time";
    EXPECT_EQ(end.ExitCode, expected.ExitCode);
    EXPECT_EQ(ReadBytes(statusPath), expected.Status != nullptr ? expected.Status : StatusBefore);
    std::vector<std::wstring> dialogs;
    for (const DialogSeen& dialog : end.Dialogs) {
        EXPECT_EQ(dialog.Caption, L"Tavo PDF update");
        dialogs.push_back(dialog.Text);
    }
    std::vector<std::wstring> expectedDialogs;
    if (expected.ExitCode == 6) {
        const std::string text = expected.Status;
        expectedDialogs.push_back(std::wstring(text.begin(), text.end()) + L"\n\nLog: " +
                                  arguments[7] + L"\n更新未完成，将尝试重新打开编辑器。\nThe " +
                                  L"editor will be reopened if available.");
        EXPECT_EQ(launchesAtFirstDialog + 1, launches.size());
    }
    if (expected.ExitCode == 6 && given.RestartsFail) {
        expectedDialogs.push_back(L"无法重新打开编辑器，请从快捷方式启动或修复安装。\nCannot "
                                  L"reopen the editor. Please start it from its shortcut or "
                                  L"repair the installation.");
    }
    EXPECT_EQ(dialogs, expectedDialogs);
    EXPECT_TRUE(ReadBytes(editorPath) ==
                ReadBytes(FixturesFolder() + L"\\" + expected.Installed + L"\\tavoPDFEditor.exe"))
        << "the installed editor is not the one from " << WideToUtf8(expected.Installed);

    ASSERT_EQ(launches.size(), expected.Restarts + 1) << "the user's start, then the restarts";
    std::wstring restartedEditor = arguments[4];
    std::replace(restartedEditor.begin(), restartedEditor.end(), L'/', L'\\');
    for (size_t restart = 1; restart < launches.size(); ++restart) {
        EXPECT_EQ(launches[restart].CommandLine,
                  L"\"" + restartedEditor + L"\" " + EditorArgumentsQuoted);
        EXPECT_EQ(launches[restart].Arguments, EditorArguments);
        EXPECT_EQ(launches[restart].WorkingFolder, install);
    }
    const std::optional<std::string> msiLog = ReadBytes(statusPath + L".msi.log");
    EXPECT_EQ(msiLog.has_value(), isMsi && expected.InstallerRuns > 0);
    if (msiLog) {
        EXPECT_NE(msiLog->find("INSTALLFOLDER = " + WideToUtf8(install)), std::string::npos);
    }
    EXPECT_EQ(setupRuns.size(), isMsi ? 0 : expected.InstallerRuns);
    for (const Launch& setupRun : setupRuns) {
        EXPECT_EQ(setupRun.CommandLine, L"\"" + package + L"\" /S /D=" + install);
        EXPECT_EQ(setupRun.WorkingFolder, install);
    }
    EXPECT_TRUE(RemoveDirectoryW(helperCwd.c_str())) << "the helper wrote into its working folder";
    EXPECT_FALSE(ReadBytes(work + L"\\Helper\\planted-library-loaded"))
        << "the helper loaded a library planted beside it";
    if (given.Choice == Editor::CommitsAndStays) {
        EXPECT_GE(elapsed, 120000u) << "the helper gave up before its two minutes";
    }
}

INSTANTIATE_TEST_SUITE_P(Situations, UpdateOutcome, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row>& row) {
                             return row.param.Situation;
                         });

} // namespace
