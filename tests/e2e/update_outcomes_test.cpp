// Every outcome of an update run that Wine can produce, driven as the editor
// drives it, against the real helper exe. Each case checks what leaves the
// helper: its exit code, the status file's exact bytes (or that there is
// none), the dialogs' exact texts, the installed editor, and how often and
// with what the editor was started again.

#include "outcome_table.h"

#include <gtest/gtest.h>

namespace {

const OutcomeCase OutcomeCases[] = {
    {"MsiPackageInstallsAndEditorRestarts", Nothing(), 0, L"Installed successfully.", false, false,
     L"editor-2.0", 1},
    {"MsiPackageAskingForWindowsRestartIsASuccess",
     [](UpdateScenario& s, std::shared_ptr<void>&) {
         s.Package = L"packages\\editor-2.0-reboot.msi";
     },
     0, L"Installed; Windows restart may also be required.", false, false, L"editor-2.0", 1},
    {"ExeSetupInstallsAndEditorRestarts", ExeSetup(L"setup-exit0.exe"), 0,
     L"Installed successfully.", false, false, L"editor-2.0", 1},
    {"ExeSetupAsking3010IsAFailure", ExeSetup(L"setup-exit3010.exe"), 6,
     L"Installation failed. Exit code: 3010", true, false, L"editor-2.0", 1},
    {"ExeSetupFailingWith1", ExeSetup(L"setup-exit1.exe"), 6, L"Installation failed. Exit code: 1",
     true, false, L"editor-2.0", 1},
    {"ExeSetupThatChangesNothing", ExeSetup(L"setup-copies-nothing.exe"), 6,
     L"The installed application version does not match the requested update.", true, false,
     L"editor-1.0", 1},
    {"MsiPackageCarryingTheOldEditor",
     [](UpdateScenario& s, std::shared_ptr<void>&) {
         s.Package = L"packages\\editor-2.0-carrying-1.0.msi";
     },
     6, L"The installed application version does not match the requested update.", true, false,
     L"editor-1.0", 1},
    {"EditorCannotBeRestartedAfterInstall",
     [](UpdateScenario& s, std::shared_ptr<void>&) {
         // Written after the user's editor has started: every later start ends at once.
         s.BeforeHelperStarts = [](const ScenarioFolders& f) {
             WriteBytes(f.Install + L"\\editor-behaviour.txt", "exit-at-once");
         };
     },
     6, L"Installed successfully, but the editor could not be restarted.", true, true,
     L"editor-2.0", 2},
    {"SuiteApplicationStartsWhileEditorExits",
     [](UpdateScenario& s, std::shared_ptr<void>& suite) {
         s.AfterReady = [&suite](const ScenarioFolders& f) {
             suite = StartSuiteApplication(f.Install, L"NorvexViewer.exe");
         };
     },
     6, L"Another PDF application is still running. Installation was not started.", true, false,
     L"editor-1.0", 1},
    {"SuiteApplicationRunsBeforeTheUpdate",
     [](UpdateScenario& s, std::shared_ptr<void>& suite) {
         s.BeforeHelperStarts = [&suite](const ScenarioFolders& f) {
             suite = StartSuiteApplication(f.Install, L"norvexcompare.EXE");
         };
     },
     4, L"Close other PDF editor, viewer, comparison and command-line instances before updating.",
     false, false, L"editor-1.0", 0},
    {"EditorCancels",
     [](UpdateScenario& s, std::shared_ptr<void>&) { s.Choice = EditorChoice::Cancel; }, 0,
     std::nullopt, false, false, L"editor-1.0", 0},
    {"EditorEndsWithoutDeciding",
     [](UpdateScenario& s, std::shared_ptr<void>&) { s.Choice = EditorChoice::ExitWithoutChoice; },
     0, std::nullopt, false, false, L"editor-1.0", 0},
    {"ChecksumDiffers",
     [](UpdateScenario& s, std::shared_ptr<void>&) { s.Checksum = std::wstring(64, L'0'); }, 4,
     L"Update checksum failed.", false, false, L"editor-1.0", 0},
    {"PackageIsNotTheTargetVersion",
     [](UpdateScenario& s, std::shared_ptr<void>&) { s.TargetVersion = L"3.0"; }, 4,
     L"Unsupported installer or release version mismatch.", false, false, L"editor-1.0", 0},
    {"ExeIsNotTheSuiteSetup", ExeSetup(L"setup-foreign.exe"), 4,
     L"Unsupported installer or release version mismatch.", false, false, L"editor-1.0", 0},
    {"EditorAlreadyAtTargetVersion",
     [](UpdateScenario& s, std::shared_ptr<void>&) { s.InstalledEditor = L"editor-2.0"; }, 4,
     L"The installed application is already at this version or newer, or its version cannot be "
     L"verified.",
     false, false, L"editor-2.0", 0},
    {"EditorVersionUnreadable",
     [](UpdateScenario& s, std::shared_ptr<void>&) { s.InstalledEditor = L"editor-unversioned"; },
     4,
     L"The installed application is already at this version or newer, or its version cannot be "
     L"verified.",
     false, false, L"editor-unversioned", 0},
    {"HandoffEventsMissing",
     [](UpdateScenario& s, std::shared_ptr<void>&) { s.CreateEvents = false; }, 3,
     L"Cannot open update handoff events or editor process. Windows error: 2", false, false,
     L"editor-1.0", 0},
    {"ParentRunsAnotherCopyOfTheEditor",
     [](UpdateScenario& s, std::shared_ptr<void>&) {
         s.EditArguments = [](std::vector<std::wstring> arguments) {
             const std::wstring folders = arguments[7].substr(0, arguments[7].rfind(L'\\'));
             const std::wstring other = folders + L"\\tavoPDFEditor.exe";
             CopyFileOver(arguments[4], other);
             arguments[4] = other;
             return arguments;
         };
     },
     3, L"The update parent is not the requested editor executable.", false, false, L"editor-1.0",
     0},
    {"PackageKindInCapitals",
     [](UpdateScenario& s, std::shared_ptr<void>&) { s.PackageKind = L"MSI"; }, 2, std::nullopt,
     false, false, L"editor-1.0", 0},
    {"ProcessIdWithoutDigits",
     [](UpdateScenario& s, std::shared_ptr<void>&) {
         s.EditArguments = [](std::vector<std::wstring> arguments) {
             arguments[0] = L"editor";
             return arguments;
         };
     },
     7, L"Unexpected error while preparing the update.", false, false, L"editor-1.0", 0},
};

INSTANTIATE_TEST_SUITE_P(Situations, UpdateOutcome, testing::ValuesIn(OutcomeCases), SituationName);

// The restarted editor gets back exactly what the editor handed over, however
// awkward: blanks, tabs, quotes, trailing backslashes, an empty argument,
// non-ASCII text and a character outside the BMP.
TEST(UpdateRestart, EditorGetsItsArgumentsBackExactlyAfterAnMsiUpdate) {
    UpdateScenario scenario;
    scenario.EditorArguments = {L"--open",
                                L"C:\\Docs\\Quarterly report.pdf",
                                L"",
                                L"tab\there",
                                L"say \"hi\"",
                                L"ends\\with\\",
                                L"\\\\server\\share\\",
                                L"中文文档 ünïcödé",
                                L"\U0001F600 emoji"};
    const ScenarioOutcome outcome = RunScenario(scenario);

    ASSERT_TRUE(outcome.HelperEnded);
    EXPECT_EQ(outcome.ExitCode, 0u);
    EXPECT_EQ(outcome.StatusBytes.value_or("(none)"), "Installed successfully.");
    EXPECT_TRUE(outcome.Dialogs.empty());
    // The verbose log beside the status file shows where msiexec installed.
    const std::string log = ReadBytes(outcome.Folders.StatusPath + L".msi.log").value_or("");
    EXPECT_NE(log.find("INSTALLFOLDER = " + WideToUtf8(outcome.Folders.Install)), std::string::npos)
        << "no verbose MSI log naming the install folder beside the status file";
    ASSERT_EQ(outcome.Launches.size(), 2u);
    const EditorLaunch& restarted = outcome.Launches[1];
    EXPECT_EQ(restarted.Arguments, scenario.EditorArguments);
    EXPECT_EQ(restarted.CommandLine,
              L"\"" + outcome.Folders.EditorPath +
                  L"\" \"--open\" \"C:\\Docs\\Quarterly report.pdf\" \"\" \"tab\there\" "
                  L"\"say \\\"hi\\\"\" \"ends\\with\\\\\" \"\\\\server\\share\\\\\" "
                  L"\"中文文档 ünïcödé\" \"\U0001F600 emoji\"");
}

TEST(UpdateRestart, EditorWithoutArgumentsIsRestartedWithItsPathAlone) {
    UpdateScenario scenario;
    scenario.EditorArguments = {};
    const ScenarioOutcome outcome = RunScenario(scenario);

    ASSERT_TRUE(outcome.HelperEnded);
    EXPECT_EQ(outcome.ExitCode, 0u);
    ASSERT_EQ(outcome.Launches.size(), 2u);
    EXPECT_EQ(outcome.Launches[1].CommandLine, L"\"" + outcome.Folders.EditorPath + L"\"");
    EXPECT_TRUE(outcome.Launches[1].Arguments.empty());
}

// The EXE setup is told "/S /D=" and the install folder, unquoted.
TEST(UpdateInstaller, ExeSetupIsToldToInstallSilentlyIntoTheInstallFolder) {
    UpdateScenario scenario;
    scenario.Package = L"setups\\setup-exit0.exe";
    scenario.PackageFileName = L"Tavo PDF Setup 2.0.exe";
    scenario.PackageKind = L"exe";
    const ScenarioOutcome outcome = RunScenario(scenario);

    ASSERT_TRUE(outcome.HelperEnded);
    EXPECT_EQ(outcome.ExitCode, 0u);
    const std::vector<std::wstring> setupRuns =
        ReadSetupLaunches(outcome.Folders.Work + L"\\Downloads");
    ASSERT_EQ(setupRuns.size(), 1u) << "the setup should run exactly once";
    EXPECT_EQ(setupRuns[0],
              L"\"" + outcome.Folders.PackagePath + L"\" /S /D=" + outcome.Folders.Install);
    EXPECT_FALSE(outcome.MsiLogExists) << "an EXE setup must not get an MSI log";
}

// An MSI update whose status file path uses forward slashes: the path is used
// as given, and the MSI log lies at that same path plus ".msi.log".
TEST(UpdateInstaller, StatusPathWithForwardSlashesIsUsedAsGivenForStatusAndLog) {
    UpdateScenario scenario;
    scenario.Package = L"packages\\editor-2.0-carrying-1.0.msi";
    std::wstring slashed;
    scenario.EditArguments = [&slashed](std::vector<std::wstring> arguments) {
        for (wchar_t& unit : arguments[7]) {
            unit = unit == L'\\' ? L'/' : unit;
        }
        slashed = arguments[7];
        return arguments;
    };
    const ScenarioOutcome outcome = RunScenario(scenario);

    ASSERT_TRUE(outcome.HelperEnded);
    EXPECT_EQ(outcome.ExitCode, 6u);
    ASSERT_EQ(outcome.Dialogs.size(), 1u);
    EXPECT_EQ(
        outcome.Dialogs[0].Text,
        FailureDialogText(L"The installed application version does not match the requested update.",
                          slashed));
    EXPECT_EQ(outcome.StatusBytes.value_or("(none)"),
              "The installed application version does not match the requested update.");
    EXPECT_TRUE(outcome.MsiLogExists);
}

} // namespace
