// Every outcome of an update that Wine can produce, driven through the
// editor's library against the real helper exe: one row per situation, each
// in folders of its own (so rows run in parallel), each checked for what
// leaves the helper: exit code, status file bytes, dialog texts, the
// installed editor, and the command lines and folders of the installer and
// of every editor started again.

#include "base/paths.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

namespace {

using Arguments = std::vector<std::wstring>;
using Work = const std::wstring&;

// What the editor does: the first two decide before the helper even starts,
// the last two commit once it is ready.
enum class Editor { Cancels, CommitsAndCancels, EndsUndecided, CommitsAndExits, CommitsAndStays };

struct Scenario {
    const wchar_t* Package = L"packages\\editor-2.0-1.msi"; // a fixture
    const wchar_t* Installed = L"editor-1.0";               // the installed editor's fixture
    const wchar_t* Drive = nullptr; // the editor in its root folder, not in work\Tavo PDF
    Editor Choice = Editor::CommitsAndExits;
    const char* SetupDoes = "";        // the EXE setup: an exit code, "crash" or "idle"
    bool RestartedEditorExits = false; // every later start of the editor ends at once
    const wchar_t* SuiteApp = L"";     // started in the install folder before the helper
    bool SuiteAppAfterReady = false;
    bool StatusHeldAfterReady = false; // another program opens the status file for writing
    // "planted": the helper beside planted version.dll, msi.dll and bcrypt.dll,
    // which Wine is told to prefer as Windows would; or the name of the one
    // library Wine is told not to load for the helper.
    const wchar_t* Libraries = L"";
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

struct Row {
    const char* Situation;
    Scenario Given;
    Outcome Expect;
};

// What every restarted editor must get back exactly, and the command line
// that carries it; a status file text longer than every outcome text, so that
// a write that does not replace the whole file leaves bytes behind.
const Arguments EditorArguments = {L"--open",
                                   L"C:\\Docs\\Q3 report.pdf",
                                   L"",
                                   L"tab\there",
                                   L"say \"hi\"",
                                   L"ends\\with\\",
                                   L"\\\\srv\\s\\",
                                   L"中文 ünï",
                                   L"\U0001F600"};
const std::wstring EditorArgumentsQuoted =
    L" \"--open\" \"C:\\Docs\\Q3 report.pdf\" \"\" \"tab\there\" \"say \\\"hi\\\"\" "
    L"\"ends\\with\\\\\" \"\\\\srv\\s\\\\\" \"中文 ünï\" \"\U0001F600\"";
const std::string StatusBefore(120, '#');

const char Installed[] = "Installed successfully.";
const char ChecksumFailed[] = "Update checksum failed.";
const char Mismatch[] = "Unsupported installer or release version mismatch.";
const char NotNewer[] = "The installed application is already at this version or newer, or "
                        "its version cannot be verified.";
const char WrongVersion[] = "The installed application version does not match the requested "
                            "update.";
const wchar_t Setup[] = L"packages\\editor-2.0.exe";          // made by NSIS
const wchar_t RootSetup[] = L"packages\\editor-2.0-root.exe"; // AllowRootDirInstall true

HANDLE HoldOpenForWriting(const std::wstring& path, DWORD disposition = OPEN_EXISTING) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       disposition, 0, nullptr);
}

// The package becomes that many zero bytes, with their SHA-256.
void ZeroPackage(UpdateOrder& order, std::uintmax_t size) {
    const std::map<std::uintmax_t, const wchar_t*> digests = {
        {0, L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {1LL << 31, L"a7c744c13cc101ed66c29f672f92455547889cc586ce6d44fe76ae824958ea51"},
        {(1LL << 31) + 1, L"b8030a8ab89280935633d8d991da3d9907c0f12e8b6fc3bfc515f4d440872b6e"}};
    std::filesystem::resize_file(order.PackagePath, 0);
    std::filesystem::resize_file(order.PackagePath, size);
    order.PackageSha256 = digests.at(size);
}

// The stand-in setup with one 16-bit value of its own version resource
// changed by delta, at offset from a text in it (found from the end: the
// editor it carries comes first); the package's checksum follows.
const wchar_t Description[] = L"Tavo PDF Setup";
const wchar_t VersionInfo[] = L"VS_VERSION_INFO";
const wchar_t Translation[] = L"Translation";
template <const wchar_t* Text, int Offset, int Delta> void DamageSetup(Work, UpdateOrder& order) {
    const std::wstring text = Text;
    std::string bytes = *ReadBytes(order.PackagePath);
    const size_t at =
        bytes.rfind(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    auto* value = reinterpret_cast<unsigned short*>(bytes.data() + at + Offset);
    *value = static_cast<unsigned short>(*value + Delta);
    WriteBytes(order.PackagePath, bytes);
    order.PackageSha256 = Sha256OfFile(order.PackagePath);
}

void ForwardSlashesAndCapitals(Work, UpdateOrder& order) {
    std::replace(order.PackagePath.begin(), order.PackagePath.end(), L'\\', L'/');
    order.EditorPath->replace(order.EditorPath->rfind(L'\\'), 99, L"//TAVOPDFEDITOR.EXE");
}

void StatusPathWithForwardSlashes(Work, UpdateOrder& order) {
    std::replace(order.StatusFilePath.begin(), order.StatusFilePath.end(), L'\\', L'/');
}

void ParentRunsACopy(Work work, UpdateOrder& order) {
    CopyFileW(order.EditorPath->c_str(), (work + L"\\tavoPDFEditor.exe").c_str(), FALSE);
    order.EditorPath = work + L"\\tavoPDFEditor.exe";
}

const Row Rows[] = {
    // The slowest first: it sets the suite's length.
    {"EditorCommitsButNeverExits",
     {.Choice = Editor::CommitsAndStays},
     {5, "The editor did not exit; installation was not started.", L"editor-1.0", 0, 0}},
    {"MsiAsksForWindowsRestart",
     {.Package = L"packages\\editor-2.0-2.msi"},
     {0, "Installed; Windows restart may also be required.", L"editor-2.0", 1, 1}},
    {"ExeUpdateBesideLibrariesPlantedToBePreferred",
     {.Package = Setup, .Libraries = L"planted"},
     {0, Installed, L"editor-2.0", 1, 1}},
    {"MsiUpdateBesideLibrariesPlantedToBePreferred",
     {.Libraries = L"planted"},
     {0, Installed, L"editor-2.0", 1, 1}},
    {"EditorSetsCommitAndCancel",
     {.Package = Setup, .Choice = Editor::CommitsAndCancels},
     {0, Installed, L"editor-2.0", 1, 1}},
    {"EditorGivenNoArguments",
     {.Package = Setup, .Edit = [](Work, UpdateOrder& o) { o.EditorArguments.clear(); }},
     {0, Installed, L"editor-2.0", 1, 1}},
    {"ChecksumInCapitals",
     {.Package = Setup, .Edit = [](Work, UpdateOrder& o) { CharUpperW(o.PackageSha256.data()); }},
     {0, Installed, L"editor-2.0", 1, 1}},
    {"PathsWithForwardSlashesAndOtherLetterCase",
     {.Package = Setup, .Edit = ForwardSlashesAndCapitals},
     {0, Installed, L"editor-2.0", 1, 1}},
    {"ExeSetupAsksForWindowsRestart",
     {.Package = Setup, .SetupDoes = "3010"},
     {6, "Installation failed. Exit code: 3010", L"editor-2.0", 1, 1}},
    {"ExeSetupCrashes",
     {.Package = Setup, .SetupDoes = "crash"},
     {6, "Installation failed. Exit code: 3221225477", L"editor-1.0", 1, 1}},
    {"ExeSetupInstallsNothing",
     {.Package = Setup, .SetupDoes = "idle"},
     {6, WrongVersion, L"editor-1.0", 1, 1}},
    {"EditorCannotBeRestartedAndStatusPathHasSlashes",
     {.Package = Setup, .RestartedEditorExits = true, .Edit = StatusPathWithForwardSlashes},
     {6, "Installed successfully, but the editor could not be restarted.", L"editor-2.0", 2, 1}},
    {"SuiteApplicationStartsWhileEditorExits",
     {.Package = Setup, .SuiteApp = L"NorvexViewer.exe", .SuiteAppAfterReady = true},
     {6, "Another PDF application is still running. Installation was not started.", L"editor-1.0",
      1, 0}},
    {"SuiteApplicationRunsBeforeTheUpdate",
     {.SuiteApp = L"norvexcompare.EXE"},
     {4, "Close other PDF editor, viewer, comparison and command-line instances before updating.",
      L"editor-1.0", 0, 0}},
    {"ChecksumDiffers",
     {.Edit = [](Work, UpdateOrder& o) { o.PackageSha256 = std::wstring(64, L'0'); }},
     {4, ChecksumFailed, L"editor-1.0", 0, 0}},
    {"EmptyPackage",
     {.Edit = [](Work, UpdateOrder& o) { ZeroPackage(o, 0); }},
     {4, ChecksumFailed, L"editor-1.0", 0, 0}},
    {"PackageOfTwoGibibytes",
     {.Edit = [](Work, UpdateOrder& o) { ZeroPackage(o, 1LL << 31); }},
     {4, Mismatch, L"editor-1.0", 0, 0}},
    {"PackageOneByteOverTwoGibibytes",
     {.Edit = [](Work, UpdateOrder& o) { ZeroPackage(o, (1LL << 31) + 1); }},
     {4, ChecksumFailed, L"editor-1.0", 0, 0}},
    {"PackageHeldOpenForWriting",
     {.Edit = [](Work, UpdateOrder& o) { HoldOpenForWriting(o.PackagePath); }},
     {4, ChecksumFailed, L"editor-1.0", 0, 0}},
    {"ChecksumLibraryCannotBeLoaded",
     {.Libraries = L"bcrypt"},
     {4, ChecksumFailed, L"editor-1.0", 0, 0}},
    {"PackageIsNotTheTargetVersion",
     {.Edit = [](Work, UpdateOrder& o) { o.TargetVersion = L"3.0"; }},
     {4, Mismatch, L"editor-1.0", 0, 0}},
    {"InstallerDatabaseLibraryCannotBeLoaded",
     {.Libraries = L"msi"},
     {4, Mismatch, L"editor-1.0", 0, 0}},
    {"SetupDescribedInLowerCase",
     {.Package = Setup, .Edit = DamageSetup<Description, 0, 32>},
     {4, Mismatch, L"editor-1.0", 0, 0}},
    {"SetupVersionWithBadSignature",
     {.Package = Setup, .Edit = DamageSetup<VersionInfo, 34, 1>},
     {4, Mismatch, L"editor-1.0", 0, 0}},
    {"SetupVersionFixedBlockShorterThan52Bytes",
     {.Package = Setup, .Edit = DamageSetup<VersionInfo, -4, -3>},
     {4, Mismatch, L"editor-1.0", 0, 0}},
    {"SetupTranslationOfOneWord",
     {.Package = Setup, .Edit = DamageSetup<Translation, -4, -2>},
     {4, Mismatch, L"editor-1.0", 0, 0}},
    {"SetupWithoutTranslation",
     {.Package = Setup, .Edit = DamageSetup<Translation, 0, 1>},
     {4, Mismatch, L"editor-1.0", 0, 0}},
    // NSIS refuses a drive's root folder as /D= unless its script allows it, and
    // then installs into its default folder.
    {"ExeEditorAtADriveRootWhereTheSetupAllowsIt",
     {.Package = RootSetup, .Drive = L"R:"},
     {0, Installed, L"editor-2.0", 1, 1}},
    {"ExeEditorAtADriveRootWhereTheSetupRefusesIt",
     {.Package = Setup, .Drive = L"S:"},
     {6, WrongVersion, L"editor-1.0", 1, 1}},
    {"EditorAlreadyAtTargetVersion",
     {.Installed = L"editor-2.0"},
     {4, NotNewer, L"editor-2.0", 0, 0}},
    {"EditorVersionUnreadable", {.Installed = L"unversioned"}, {4, NotNewer, L"unversioned", 0, 0}},
    {"EditorCancels", {.Choice = Editor::Cancels}, {0, nullptr, L"editor-1.0", 0, 0}},
    {"EditorEndsBeforeDeciding",
     {.Choice = Editor::EndsUndecided},
     {0, nullptr, L"editor-1.0", 0, 0}},
    {"HandoffEventsMissing",
     {.Tamper = [](Arguments& a) { a[ArgumentHandoffName] += L"-none"; }},
     {3, "Cannot open update handoff events or editor process. Windows error: 2", L"editor-1.0", 0,
      0}},
    {"ParentRunsAnotherCopyOfTheEditor",
     {.Edit = ParentRunsACopy},
     {3, "The update parent is not the requested editor executable.", L"editor-1.0", 0, 0}},
    {"PackageKindInCapitals",
     {.Tamper = [](Arguments& a) { a[ArgumentPackageKind] = L"MSI"; }},
     {2, nullptr, L"editor-1.0", 0, 0}},
    {"ProcessIdWithoutDigitsInNineElements",
     {.Tamper = [](Arguments& a) { a[ArgumentProcessId] = L"x", a.resize(9); }},
     {7, "Unexpected error while preparing the update.", L"editor-1.0", 0, 0}},
    {"ProcessIdWithoutDigitsAndRelativeStatusPath",
     {.Tamper = [](Arguments& a) { a[ArgumentProcessId] = L"", a[ArgumentStatusFile] = L"s"; }},
     {7, nullptr, L"editor-1.0", 0, 0}},
    {"StatusFolderMissing",
     {.Package = Setup, .Edit = [](Work w, UpdateOrder& o) { o.StatusFilePath = w + L"\\-\\s"; }},
     {0, nullptr, L"editor-2.0", 1, 1}},
    {"StatusFileHeldOpenByAnotherProgram",
     {.Package = Setup, .StatusHeldAfterReady = true},
     {0, "", L"editor-2.0", 1, 1}},
};

class UpdateOutcome : public testing::TestWithParam<Row> {};

// A copy of the helper in a folder of its own, which is its working folder,
// under a name of its own (the work folder's) so that Wine's per-program load
// order applies to it alone; for some rows beside planted libraries.
std::wstring CopyHelper(const std::wstring& work, const Scenario& given) {
    const std::wstring folder = work + L"\\Helper";
    const std::wstring helper = folder + L"\\" + work.substr(work.rfind(L'\\') + 1) + L".exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW(HelperExecutablePath().c_str(), helper.c_str(), FALSE);
    const std::wstring key =
        L"Software\\Wine\\AppDefaults\\" + helper.substr(folder.size() + 1) + L"\\DllOverrides";
    for (const std::wstring library : {L"version", L"msi", L"bcrypt"}) {
        const bool planted = std::wstring(given.Libraries) == L"planted";
        const std::wstring order = planted ? L"native,builtin" : L"";
        if (planted || library == given.Libraries) {
            RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), library.c_str(), REG_SZ, order.c_str(),
                            static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t)));
        }
        if (planted) {
            CopyFileW((FixturesFolder() + L"\\planted\\" + library + L".dll").c_str(),
                      (folder + L"\\" + library + L".dll").c_str(), FALSE);
        }
    }
    return helper;
}

std::wstring Widen(const char* ascii) {
    return std::wstring(ascii, ascii + std::strlen(ascii));
}

TEST_P(UpdateOutcome, LeavesTheExpectedTraces) {
    const Row& row = GetParam();
    const Scenario& given = row.Given;
    const Outcome& expect = row.Expect;
    const std::wstring work = MakeWorkFolder(L"update");
    const std::wstring editor =
        (given.Drive != nullptr ? given.Drive : work + L"\\Tavo PDF") + L"\\tavoPDFEditor.exe";
    const std::wstring install = ParentFolder(editor);
    const bool isMsi = std::wstring(given.Package).ends_with(L".msi");
    const std::wstring package = work + (isMsi ? L"\\update 2.0.msi" : L"\\Setup 2.0.exe");
    for (const std::wstring& folder : {install, work + L"\\State"}) {
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    std::error_code empty; // an empty drive root lists nothing, not even "."
    for (const auto& file : std::filesystem::directory_iterator(install, empty)) {
        std::filesystem::remove(file); // a drive's root from an earlier run
    }
    const std::wstring fixtures = FixturesFolder() + L"\\";
    CopyFileW((fixtures + given.Installed + L"\\tavoPDFEditor.exe").c_str(), editor.c_str(), 0);
    CopyFileW((fixtures + given.Package).c_str(), package.c_str(), FALSE);
    WriteBytes(work + L"\\behaviour.txt", given.SetupDoes);
    UpdateHandoff handoff;
    ASSERT_EQ(CreateUpdateHandoff(handoff), 0u);
    // Decided before the helper even starts (SetEvent on no event does nothing).
    SetEvent(given.Choice <= Editor::CommitsAndCancels ? handoff.Cancel.get() : nullptr);
    SetEvent(given.Choice == Editor::CommitsAndCancels ? handoff.Commit.get() : nullptr);
    StartedProcess user = StartStandIn(editor);
    WriteBytes(install + L"\\behaviour.txt", given.RestartedEditorExits ? "exit" : "");
    StartedProcess suiteApp;
    if (*given.SuiteApp != L'\0' && !given.SuiteAppAfterReady) {
        suiteApp = StartStandIn(install + L"\\" + given.SuiteApp);
    }

    UpdateOrder order;
    order.HelperPath = CopyHelper(work, given);
    order.PackagePath = package;
    order.PackageSha256 = Sha256OfFile(package);
    order.PackageKind = isMsi ? PackageFormat::Msi : PackageFormat::Exe;
    order.TargetVersion = L"2.0";
    order.StatusFilePath = work + L"\\State\\update status.txt";
    order.EditorArguments = EditorArguments;
    order.EditorProcessId = user.ProcessId;
    order.EditorPath = editor;
    if (given.Edit != nullptr) {
        given.Edit(work, order);
    }
    WriteBytes(order.StatusFilePath, StatusBefore);
    ASSERT_TRUE(StartHelper(order, handoff, given.Tamper));

    const HelperReadiness readiness = AwaitHelperReady(handoff, 60000);
    if (readiness.State == HelperState::Ready) {
        // Until the editor decides, nobody may change the package the helper
        // verified (a cancelled helper may have ended already).
        if (given.Choice != Editor::Cancels) {
            EXPECT_EQ(HoldOpenForWriting(package), INVALID_HANDLE_VALUE);
            EXPECT_FALSE(DeleteFileW(package.c_str()) ||
                         MoveFileW(package.c_str(), (package + L"~").c_str()));
        }
        if (given.SuiteAppAfterReady) {
            suiteApp = StartStandIn(install + L"\\" + given.SuiteApp);
        }
        if (given.StatusHeldAfterReady) {
            HoldOpenForWriting(order.StatusFilePath, OPEN_ALWAYS);
        }
        if (given.Choice >= Editor::CommitsAndExits) {
            EXPECT_EQ(CommitUpdate(handoff), CommitResult::Committed);
        }
        if (given.Choice != Editor::CommitsAndStays) {
            TerminateProcess(user.Process, 0);
        }
    } else {
        // A refusal comes back to the editor as it left the helper.
        EXPECT_EQ(readiness.State, HelperState::EndedBeforeReady);
        EXPECT_EQ(readiness.ExitCode, expect.ExitCode);
        EXPECT_EQ(readiness.Outcome.Text, Widen(expect.Status != nullptr ? expect.Status : ""));
    }
    const HelperEnd end = AwaitHelperEnd(handoff.Helper.get(), handoff.HelperProcessId, 180000);
    auto starts = ReadStarts(install, 1 + expect.Restarts + (*given.SuiteApp != 0));
    EndStandIns(install);
    EndProcess(user);
    EndProcess(suiteApp);

    ASSERT_TRUE(end.Ended) << "the helper did not end in time";
    EXPECT_EQ(end.ExitCode, expect.ExitCode);
    const std::optional<std::string> statusBefore =
        given.Tamper != nullptr ? std::optional(StatusBefore) : std::nullopt;
    EXPECT_EQ(ReadBytes(order.StatusFilePath),
              expect.Status != nullptr ? std::optional<std::string>(expect.Status) : statusBefore);
    std::vector<std::wstring> dialogs;
    if (expect.ExitCode == 6) {
        dialogs.push_back(L"Tavo PDF update: " + Widen(expect.Status) + L"\n\nLog: " +
                          order.StatusFilePath + L"\n更新未完成，将尝试重新打开编辑器。\n" +
                          L"The editor will be reopened if available.");
    }
    if (expect.Restarts == 2) { // the success path's restart failed, and so did the dialog's
        dialogs.push_back(L"Tavo PDF update: 无法重新打开编辑器，请从快捷方式启动或修复安装。\n"
                          L"Cannot reopen the editor. Please start it from its shortcut or "
                          L"repair the installation.");
    }
    EXPECT_EQ(end.Dialogs, dialogs);
    EXPECT_EQ(ReadBytes(editor), ReadBytes(fixtures + expect.Installed + L"\\tavoPDFEditor.exe"));

    // Every start of the editor (the user's first), then the setup's runs.
    std::wstring restarted = L"\"" + *order.EditorPath + L"\"";
    std::replace(restarted.begin(), restarted.end(), L'/', L'\\');
    restarted =
        install + L"> " + restarted + (order.EditorArguments.empty() ? L"" : EditorArgumentsQuoted);
    std::vector<std::wstring> expected = {install + L"> \"" + editor + L"\""};
    if (*given.SuiteApp != L'\0') {
        expected.push_back(install + L"> \"" + install + L"\\" + given.SuiteApp + L"\"");
    }
    expected.insert(expected.end(), expect.Restarts, restarted);
    expected.insert(expected.end(), isMsi ? 0 : expect.InstallerRuns,
                    install + L"> \"" + package + L"\" /S /D=" + install);
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

INSTANTIATE_TEST_SUITE_P(Situations, UpdateOutcome, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row>& row) {
                             return row.param.Situation;
                         });

} // namespace
