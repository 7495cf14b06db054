// Every outcome of an update that Wine can produce, driven as the editor
// drives it, against the real helper exe: one row per situation, each in
// folders of its own (so rows run in parallel), each checked for what leaves
// the helper: exit code, status file bytes, dialog texts, the installed
// editor, and the command lines and folders of the installer and of every
// editor started again.

#include "editor_side.h"
#include "install/editor_restart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using Arguments = std::vector<std::wstring>;

// What the editor does: the first two decide before the helper even starts,
// the last two commit once it is ready.
enum class Editor { Cancels, CommitsAndCancels, EndsUndecided, CommitsAndExits, CommitsAndStays };

struct Scenario {
    const wchar_t* Package = L"packages\\editor-2.0-1.msi"; // a fixture
    const wchar_t* Installed = L"editor-1.0";               // the installed editor's fixture
    Editor Choice = Editor::CommitsAndExits;
    const wchar_t* SuiteApp = L""; // started in the install folder before the helper
    bool SuiteAppAfterReady = false;
    // "planted": a copy of the helper beside planted version.dll, msi.dll and
    // bcrypt.dll, which Wine is told to prefer as Windows would; or the name of
    // the one library Wine is told not to load for the helper.
    const wchar_t* Libraries = L"";
    // Changes the arguments (1 onward) or the world around the update; another
    // program's handle it opens stays open until the test ends.
    void (*Edit)(const std::wstring& work, Arguments&) = [](const std::wstring&, Arguments&) {};
};

struct Row {
    const char* Situation;
    Scenario Given;
    DWORD ExitCode;
    const char* Status; // null: the status file still holds what it held before
    const wchar_t* Installed;
    size_t Restarts;
    size_t InstallerRuns;
};

// What every restarted editor must get back exactly, and the command line
// that carries it; a status file text longer than every outcome text, so that
// a write that does not replace the whole file leaves bytes behind.
// clang-format off
const Arguments EditorArguments = {L"--open", L"C:\\Docs\\Q3 report.pdf", L"", L"tab\there", L"say \"hi\"",
                                   L"ends\\with\\", L"\\\\srv\\s\\", L"中文 ünï", L"\U0001F600"};
const std::wstring EditorArgumentsQuoted = L" \"--open\" \"C:\\Docs\\Q3 report.pdf\" \"\" \"tab\there\" \"say \\\"hi\\\"\" "
                                           L"\"ends\\with\\\\\" \"\\\\srv\\s\\\\\" \"中文 ünï\" \"\U0001F600\"";
// clang-format on
const std::string StatusBefore(120, '#');

// The package becomes that many zero bytes, with its SHA-256.
void ZeroPackage(Arguments& a, std::uintmax_t size, const wchar_t* sha256) {
    std::filesystem::resize_file(a[2], 0);
    std::filesystem::resize_file(a[2], size);
    a[3] = sha256;
}

// The stand-in setup with one 16-bit value of its own version resource
// changed by delta, at offset from a text in it (found from the end: the
// editor it carries comes first); the package's checksum follows.
void DamageSetup(Arguments& a, const std::wstring& text, int offset, int delta) {
    std::string bytes = *ReadBytes(a[2]);
    const size_t at =
        bytes.rfind(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    auto* value = reinterpret_cast<unsigned short*>(bytes.data() + at + offset);
    *value = static_cast<unsigned short>(*value + delta);
    WriteBytes(a[2], bytes);
    a[3] = Sha256OfFile(a[2]);
}

const wchar_t Setup[] = L"setup\\tavoPDFEditor.exe";

// clang-format off
const Row Rows[] = {
    // The slowest first: it sets the suite's length.
    {"EditorCommitsButNeverExits", {.Choice = Editor::CommitsAndStays}, 5, "The editor did not exit; installation was not started.", L"editor-1.0", 0, 0},
    {"MsiAsksForWindowsRestart", {.Package = L"packages\\editor-2.0-2.msi"}, 0, "Installed; Windows restart may also be required.", L"editor-2.0", 1, 1},
    {"ExeUpdateBesideLibrariesPlantedToBePreferred", {.Package = Setup, .Libraries = L"planted"}, 0, "Installed successfully.", L"editor-2.0", 1, 1},
    {"MsiUpdateBesideLibrariesPlantedToBePreferred", {.Libraries = L"planted"}, 0, "Installed successfully.", L"editor-2.0", 1, 1},
    {"EditorSetsCommitAndCancel", {.Package = Setup, .Choice = Editor::CommitsAndCancels}, 0, "Installed successfully.", L"editor-2.0", 1, 1},
    {"EditorGivenNoArguments", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) { a.resize(8); }}, 0, "Installed successfully.", L"editor-2.0", 1, 1},
    {"ChecksumInCapitals", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) { CharUpperW(a[3].data()); }}, 0, "Installed successfully.", L"editor-2.0", 1, 1},
    {"PathsWithForwardSlashesAndOtherLetterCase", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) { std::replace(a[2].begin(), a[2].end(), L'\\', L'/'), a[4].replace(a[4].rfind(L'\\'), 99, L"//TAVOPDFEDITOR.EXE"); }}, 0, "Installed successfully.", L"editor-2.0", 1, 1},
    {"ExeSetupAsksForWindowsRestart", {.Package = Setup, .Edit = [](const std::wstring& work, Arguments&) { WriteBytes(work + L"\\behaviour.txt", "3010"); }}, 6, "Installation failed. Exit code: 3010", L"editor-2.0", 1, 1},
    {"ExeSetupCrashes", {.Package = Setup, .Edit = [](const std::wstring& work, Arguments&) { WriteBytes(work + L"\\behaviour.txt", "crash"); }}, 6, "Installation failed. Exit code: 3221225477", L"editor-1.0", 1, 1},
    {"ExeSetupInstallsNothing", {.Package = Setup, .Edit = [](const std::wstring& work, Arguments&) { WriteBytes(work + L"\\behaviour.txt", "idle"); }}, 6, "The installed application version does not match the requested update.", L"editor-1.0", 1, 1},
    {"EditorCannotBeRestartedAndStatusPathHasSlashes", {.Package = Setup, .Edit = [](const std::wstring& work, Arguments& a) { WriteBytes(work + L"\\Tavo PDF\\behaviour.txt", "exit"), std::replace(a[7].begin(), a[7].end(), L'\\', L'/'); }}, 6, "Installed successfully, but the editor could not be restarted.", L"editor-2.0", 2, 1},
    {"SuiteApplicationStartsWhileEditorExits", {.Package = Setup, .SuiteApp = L"NorvexViewer.exe", .SuiteAppAfterReady = true}, 6, "Another PDF application is still running. Installation was not started.", L"editor-1.0", 1, 0},
    {"SuiteApplicationRunsBeforeTheUpdate", {.SuiteApp = L"norvexcompare.EXE"}, 4, "Close other PDF editor, viewer, comparison and command-line instances before updating.", L"editor-1.0", 0, 0},
    {"ChecksumDiffers", {.Edit = [](const std::wstring&, Arguments& a) { a[3] = std::wstring(64, L'0'); }}, 4, "Update checksum failed.", L"editor-1.0", 0, 0},
    {"EmptyPackage", {.Edit = [](const std::wstring&, Arguments& a) { ZeroPackage(a, 0, L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"); }}, 4, "Update checksum failed.", L"editor-1.0", 0, 0},
    {"PackageOfTwoGibibytes", {.Edit = [](const std::wstring&, Arguments& a) { ZeroPackage(a, 1LL << 31, L"a7c744c13cc101ed66c29f672f92455547889cc586ce6d44fe76ae824958ea51"); }}, 4, "Unsupported installer or release version mismatch.", L"editor-1.0", 0, 0},
    {"PackageOneByteOverTwoGibibytes", {.Edit = [](const std::wstring&, Arguments& a) { ZeroPackage(a, (1LL << 31) + 1, L"b8030a8ab89280935633d8d991da3d9907c0f12e8b6fc3bfc515f4d440872b6e"); }}, 4, "Update checksum failed.", L"editor-1.0", 0, 0},
    {"PackageHeldOpenForWriting", {.Edit = [](const std::wstring&, Arguments& a) { CreateFileW(a[2].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr); }}, 4, "Update checksum failed.", L"editor-1.0", 0, 0},
    {"ChecksumLibraryCannotBeLoaded", {.Libraries = L"bcrypt"}, 4, "Update checksum failed.", L"editor-1.0", 0, 0},
    {"PackageIsNotTheTargetVersion", {.Edit = [](const std::wstring&, Arguments& a) { a[5] = L"3.0"; }}, 4, "Unsupported installer or release version mismatch.", L"editor-1.0", 0, 0},
    {"InstallerDatabaseLibraryCannotBeLoaded", {.Libraries = L"msi"}, 4, "Unsupported installer or release version mismatch.", L"editor-1.0", 0, 0},
    {"SetupDescribedInLowerCase", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) { DamageSetup(a, L"Tavo PDF Setup", 0, 'a' - 'A'); }}, 4, "Unsupported installer or release version mismatch.", L"editor-1.0", 0, 0},
    {"SetupVersionWithBadSignature", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) { DamageSetup(a, L"VS_VERSION_INFO", 34, 1); }}, 4, "Unsupported installer or release version mismatch.", L"editor-1.0", 0, 0},
    {"SetupVersionFixedBlockShorterThan52Bytes", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) { DamageSetup(a, L"VS_VERSION_INFO", -4, -3); }}, 4, "Unsupported installer or release version mismatch.", L"editor-1.0", 0, 0},
    {"SetupTranslationOfOneWord", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) { DamageSetup(a, L"Translation", -4, -2); }}, 4, "Unsupported installer or release version mismatch.", L"editor-1.0", 0, 0},
    {"SetupWithoutTranslation", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) { DamageSetup(a, L"Translation", 0, 1); }}, 4, "Unsupported installer or release version mismatch.", L"editor-1.0", 0, 0},
    // The resource's own length ends it before the description's NUL.
    {"SetupResourceEndingInTheDescription", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) { DamageSetup(a, L"VS_VERSION_INFO", -6, -2); }}, 0, "Installed successfully.", L"editor-2.0", 1, 1},
    {"EditorAlreadyAtTargetVersion", {.Installed = L"editor-2.0"}, 4, "The installed application is already at this version or newer, or its version cannot be verified.", L"editor-2.0", 0, 0},
    {"EditorVersionUnreadable", {.Installed = L"unversioned"}, 4, "The installed application is already at this version or newer, or its version cannot be verified.", L"unversioned", 0, 0},
    {"EditorCancels", {.Choice = Editor::Cancels}, 0, nullptr, L"editor-1.0", 0, 0},
    {"EditorEndsBeforeDeciding", {.Choice = Editor::EndsUndecided}, 0, nullptr, L"editor-1.0", 0, 0},
    {"HandoffEventsMissing", {.Edit = [](const std::wstring&, Arguments& a) { a[1] += L"-none"; }}, 3, "Cannot open update handoff events or editor process. Windows error: 2", L"editor-1.0", 0, 0},
    {"ParentRunsAnotherCopyOfTheEditor", {.Edit = [](const std::wstring& work, Arguments& a) { CopyFileW(a[4].c_str(), (work + L"\\tavoPDFEditor.exe").c_str(), FALSE), a[4] = work + L"\\tavoPDFEditor.exe"; }}, 3, "The update parent is not the requested editor executable.", L"editor-1.0", 0, 0},
    {"PackageKindInCapitals", {.Edit = [](const std::wstring&, Arguments& a) { a[6] = L"MSI"; }}, 2, nullptr, L"editor-1.0", 0, 0},
    {"ProcessIdWithoutDigitsInNineElements", {.Edit = [](const std::wstring&, Arguments& a) { a[0] = L"x", a.resize(8); }}, 7, "Unexpected error while preparing the update.", L"editor-1.0", 0, 0},
    {"ProcessIdWithoutDigitsAndRelativeStatusPath", {.Edit = [](const std::wstring&, Arguments& a) { a[0] = L"", a[7] = L"s.txt"; }}, 7, nullptr, L"editor-1.0", 0, 0},
    {"StatusFolderMissing", {.Package = Setup, .Edit = [](const std::wstring& work, Arguments& a) { a[7] = work + L"\\Missing\\s.txt"; }}, 0, nullptr, L"editor-2.0", 1, 1},
    {"StatusFileHeldOpenByAnotherProgram", {.Package = Setup, .Edit = [](const std::wstring&, Arguments& a) { CreateFileW(a[7].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr); }}, 0, nullptr, L"editor-2.0", 1, 1},
};
// clang-format on

class UpdateOutcome : public testing::TestWithParam<Row> {};

// A copy of the helper, beside planted libraries, under a name of its own (the
// work folder's) so that Wine's per-program load order applies to it alone.
std::wstring CopyHelperWithLoadOrder(const std::wstring& work, const Scenario& given) {
    const std::wstring folder = work + L"\\Helper";
    const std::wstring name = work.substr(work.rfind(L'\\') + 1) + L".exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW(HelperExecutablePath().c_str(), (folder + L"\\" + name).c_str(), FALSE);
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + name + L"\\DllOverrides";
    for (const std::wstring library : {L"version", L"msi", L"bcrypt"}) {
        const bool planted = std::wstring(given.Libraries) == L"planted";
        const std::wstring order = planted ? L"native,builtin" : L"";
        if (planted || library == given.Libraries) {
            RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), library.c_str(), REG_SZ, order.c_str(),
                            static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t)));
        }
        CopyFileW((FixturesFolder() + L"\\planted\\" + library + L".dll").c_str(),
                  (folder + L"\\" + library + L".dll").c_str(), FALSE);
    }
    return folder + L"\\" + name;
}

TEST_P(UpdateOutcome, LeavesTheExpectedTraces) {
    const Row& row = GetParam();
    const Scenario& given = row.Given;
    const std::wstring work = MakeWorkFolder(L"update");
    const std::wstring install = work + L"\\Tavo PDF";
    const std::wstring editor = install + L"\\tavoPDFEditor.exe";
    const bool isMsi = std::wstring(given.Package).ends_with(L".msi");
    const std::wstring package = work + (isMsi ? L"\\update 2.0.msi" : L"\\Setup 2.0.exe");
    const std::wstring status = work + L"\\State\\update status.txt";
    for (const wchar_t* folder : {L"\\Tavo PDF", L"\\State", L"\\Cwd"}) {
        CreateDirectoryW((work + folder).c_str(), nullptr);
    }
    const std::wstring fixtures = FixturesFolder() + L"\\";
    CopyFileW((fixtures + given.Installed + L"\\tavoPDFEditor.exe").c_str(), editor.c_str(), 0);
    CopyFileW((fixtures + given.Package).c_str(), package.c_str(), FALSE);
    WriteBytes(status, StatusBefore);
    HandoffEvents events = CreateHandoffEvents(work.substr(work.rfind(L'\\') + 1));
    // Decided before the helper even starts (SetEvent on no event does nothing).
    SetEvent(given.Choice <= Editor::CommitsAndCancels ? events.Cancel.get() : nullptr);
    SetEvent(given.Choice == Editor::CommitsAndCancels ? events.Commit.get() : nullptr);
    StartedProcess user = StartStandIn(editor);
    StartedProcess suiteApp;
    if (*given.SuiteApp != L'\0' && !given.SuiteAppAfterReady) {
        suiteApp = StartStandIn(install + L"\\" + given.SuiteApp);
    }
    Arguments arguments = {std::to_wstring(user.ProcessId), events.Name, package,
                           Sha256OfFile(package),           editor,      L"2.0",
                           isMsi ? L"msi" : L"exe",         status};
    arguments.insert(arguments.end(), EditorArguments.begin(), EditorArguments.end());
    given.Edit(work, arguments);
    const std::wstring helperPath =
        *given.Libraries != L'\0' ? CopyHelperWithLoadOrder(work, given) : HelperExecutablePath();
    StartedProcess helper = StartProcess(
        helperPath, BuildRestartCommandLine(helperPath, JoinRestartArguments(arguments)),
        work + L"\\Cwd");

    if (AwaitReady(events, helper, 60000)) {
        // Until the editor decides, nobody may change the package the helper
        // verified (a cancelled helper may have ended already).
        if (given.Choice != Editor::Cancels) {
            EXPECT_EQ(CreateFileW(package.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr),
                      INVALID_HANDLE_VALUE);
            EXPECT_FALSE(DeleteFileW(package.c_str()) ||
                         MoveFileW(package.c_str(), (package + L"~").c_str()));
        }
        if (given.SuiteAppAfterReady) {
            suiteApp = StartStandIn(install + L"\\" + given.SuiteApp);
        }
        SetEvent(given.Choice >= Editor::CommitsAndExits ? events.Commit.get() : nullptr);
        if (given.Choice != Editor::CommitsAndStays) {
            TerminateProcess(user.Process, 0);
        }
    }
    const HelperEnd end = AwaitHelperEnd(helper, 180000);
    auto starts = ReadStarts(install, 1 + row.Restarts + (*given.SuiteApp != 0));
    EndStandIns(install);
    EndProcess(user);
    EndProcess(suiteApp);

    ASSERT_TRUE(end.Ended) << "the helper did not end in time";
    EXPECT_EQ(end.ExitCode, row.ExitCode);
    EXPECT_EQ(ReadBytes(status), row.Status != nullptr ? row.Status : StatusBefore);
    const std::string text = row.Status != nullptr ? row.Status : "";
    std::vector<std::wstring> dialogs;
    if (row.ExitCode == 6) {
        dialogs.push_back(L"Tavo PDF update: " + std::wstring(text.begin(), text.end()) +
                          L"\n\nLog: " + arguments[7] + L"\n更新未完成，将尝试重新打开编辑器。\n" +
                          L"The editor will be reopened if available.");
    }
    if (row.Restarts == 2) { // the success path's restart failed, and so did the dialog's
        dialogs.push_back(L"Tavo PDF update: 无法重新打开编辑器，请从快捷方式启动或修复安装。\n"
                          L"Cannot reopen the editor. Please start it from its shortcut or "
                          L"repair the installation.");
    }
    EXPECT_EQ(end.Dialogs, dialogs);
    EXPECT_EQ(ReadBytes(editor), ReadBytes(fixtures + row.Installed + L"\\tavoPDFEditor.exe"));

    // Every start of the editor (the user's first), then the setup's runs.
    std::wstring restarted = install + L"> \"" + arguments[4] + L"\"";
    std::replace(restarted.begin() + static_cast<std::ptrdiff_t>(install.size()), restarted.end(),
                 L'/', L'\\');
    restarted += arguments.size() > 8 ? EditorArgumentsQuoted : L"";
    std::vector<std::wstring> expected = {install + L"> \"" + editor + L"\""};
    if (*given.SuiteApp != L'\0') {
        expected.push_back(install + L"> \"" + install + L"\\" + given.SuiteApp + L"\"");
    }
    expected.insert(expected.end(), row.Restarts, restarted);
    expected.insert(expected.end(), isMsi ? 0 : row.InstallerRuns,
                    install + L"> \"" + package + L"\" /S /D=" + install);
    const std::vector<std::wstring> setupRuns = ReadStarts(work);
    starts.insert(starts.end(), setupRuns.begin(), setupRuns.end());
    EXPECT_EQ(starts, expected);
    EXPECT_TRUE(RemoveDirectoryW((work + L"\\Cwd").c_str())) << "the helper wrote in its folder";
    EXPECT_FALSE(ReadBytes(work + L"\\Helper\\planted-library-loaded")) << "a planted library ran";
}

INSTANTIATE_TEST_SUITE_P(Situations, UpdateOutcome, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row>& row) {
                             return row.param.Situation;
                         });

} // namespace
