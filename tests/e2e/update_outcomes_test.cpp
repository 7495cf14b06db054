// Every outcome of an update run that Wine can produce, driven as the editor
// drives it, against the real helper exe. Each case checks what leaves the
// helper: its exit code, the status file's exact bytes (or that there is
// none), the dialogs' exact texts, the installed editor, and how often and
// with what the editor was started again.

#include "update_scenario.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const std::wstring ReopeningNotice =
    L"\n更新未完成，将尝试重新打开编辑器。\nThe editor will be reopened if available.";
const std::wstring ReopenFailedText =
    L"无法重新打开编辑器，请从快捷方式启动或修复安装。\nCannot reopen the editor. Please start "
    L"it from its shortcut or repair the installation.";

std::wstring FailureDialogText(const std::wstring& outcome, const std::wstring& statusPath) {
    return outcome + L"\n\nLog: " + statusPath + ReopeningNotice;
}

// Starts a copy of the suite's stand-in application under a suite name.
std::shared_ptr<StartedProcess> StartSuiteApplication(const std::wstring& folder,
                                                      const std::wstring& name) {
    const std::wstring path = folder + L"\\" + name;
    CopyFileOver(FixturesFolder() + L"\\suite_app.exe", path);
    auto started = std::shared_ptr<StartedProcess>(new StartedProcess(), [](StartedProcess* p) {
        EndProcess(*p);
        delete p;
    });
    *started = StartProcess(path, L"\"" + path + L"\"", folder);
    // Give Wine a moment to list the new process in snapshots.
    Sleep(300);
    return started;
}

struct OutcomeCase {
    const char* Situation;
    std::function<void(UpdateScenario&, std::shared_ptr<StartedProcess>&)> Arrange;
    DWORD ExitCode;
    std::optional<std::wstring> Status; // exact text; no value: no status file at all
    bool FailureDialog;                 // the status text shown in the failure dialog
    bool ReopenFailedDialog;
    const wchar_t* EditorAfter; // fixture whose bytes the installed editor must have
    size_t Restarts;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << c.Situation;
}

class UpdateOutcome : public testing::TestWithParam<OutcomeCase> {};

TEST_P(UpdateOutcome, LeavesTheExpectedTraces) {
    const OutcomeCase& expected = GetParam();
    UpdateScenario scenario;
    std::shared_ptr<StartedProcess> suiteApplication;
    expected.Arrange(scenario, suiteApplication);

    const ScenarioOutcome outcome = RunScenario(scenario);
    suiteApplication.reset();

    ASSERT_TRUE(outcome.HelperEnded) << "the helper did not end in time";
    EXPECT_EQ(outcome.ExitCode, expected.ExitCode);
    if (expected.Status) {
        ASSERT_TRUE(outcome.StatusBytes.has_value()) << "no status file";
        EXPECT_EQ(*outcome.StatusBytes, WideToUtf8(*expected.Status));
    } else {
        EXPECT_FALSE(outcome.StatusBytes.has_value()) << *outcome.StatusBytes;
    }

    std::vector<std::wstring> expectedDialogs;
    if (expected.FailureDialog) {
        expectedDialogs.push_back(
            FailureDialogText(expected.Status.value_or(L""), outcome.Folders.StatusPath));
    }
    if (expected.ReopenFailedDialog) {
        expectedDialogs.push_back(ReopenFailedText);
    }
    std::vector<std::wstring> shownDialogs;
    for (const DialogSeen& dialog : outcome.Dialogs) {
        EXPECT_EQ(dialog.Caption, L"Tavo PDF update");
        shownDialogs.push_back(dialog.Text);
    }
    EXPECT_EQ(shownDialogs, expectedDialogs);

    ASSERT_TRUE(outcome.InstalledEditorBytes.has_value());
    EXPECT_TRUE(*outcome.InstalledEditorBytes ==
                FixtureBytes(std::wstring(expected.EditorAfter) + L"\\tavoPDFEditor.exe"))
        << "the installed editor is not the one from " << WideToUtf8(expected.EditorAfter);

    ASSERT_FALSE(outcome.Launches.empty()) << "the user's own editor never started";
    EXPECT_EQ(outcome.Launches.size() - 1, expected.Restarts);
    for (size_t restart = 1; restart < outcome.Launches.size(); ++restart) {
        EXPECT_EQ(outcome.Launches[restart].Arguments, scenario.EditorArguments);
        EXPECT_EQ(outcome.Launches[restart].WorkingFolder, outcome.Folders.Install);
    }
}

using Arrangement = std::function<void(UpdateScenario&, std::shared_ptr<StartedProcess>&)>;

Arrangement ExeSetup(const wchar_t* setup) {
    return [setup](UpdateScenario& s, std::shared_ptr<StartedProcess>&) {
        s.Package = std::wstring(L"setups\\") + setup;
        s.PackageFileName = L"Tavo PDF Setup 2.0.exe";
        s.PackageKind = L"exe";
    };
}

Arrangement Nothing() {
    return [](UpdateScenario&, std::shared_ptr<StartedProcess>&) {};
}

const OutcomeCase OutcomeCases[] = {
    {"MsiPackageInstallsAndEditorRestarts", Nothing(), 0, L"Installed successfully.", false, false,
     L"editor-2.0", 1},
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
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) {
         s.Package = L"packages\\editor-2.0-carrying-1.0.msi";
     },
     6, L"The installed application version does not match the requested update.", true, false,
     L"editor-1.0", 1},
    {"EditorCannotBeRestartedAfterInstall",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) {
         // Written after the user's editor has started: every later start ends at once.
         s.BeforeHelperStarts = [](const ScenarioFolders& f) {
             WriteBytes(f.Install + L"\\editor-behaviour.txt", "exit-at-once");
         };
     },
     6, L"Installed successfully, but the editor could not be restarted.", true, true,
     L"editor-2.0", 2},
    {"SuiteApplicationStartsWhileEditorExits",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>& suite) {
         s.AfterReady = [&suite](const ScenarioFolders& f) {
             suite = StartSuiteApplication(f.Install, L"NorvexViewer.exe");
         };
     },
     6, L"Another PDF application is still running. Installation was not started.", true, false,
     L"editor-1.0", 1},
    {"SuiteApplicationRunsBeforeTheUpdate",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>& suite) {
         s.BeforeHelperStarts = [&suite](const ScenarioFolders& f) {
             suite = StartSuiteApplication(f.Install, L"norvexcompare.EXE");
         };
     },
     4, L"Close other PDF editor, viewer, comparison and command-line instances before updating.",
     false, false, L"editor-1.0", 0},
    {"EditorCancels",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) { s.Choice = EditorChoice::Cancel; },
     0, std::nullopt, false, false, L"editor-1.0", 0},
    {"EditorEndsWithoutDeciding",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) {
         s.Choice = EditorChoice::ExitWithoutChoice;
     },
     0, std::nullopt, false, false, L"editor-1.0", 0},
    {"ChecksumDiffers",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) {
         s.Checksum = std::wstring(64, L'0');
     },
     4, L"Update checksum failed.", false, false, L"editor-1.0", 0},
    {"PackageIsNotTheTargetVersion",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) { s.TargetVersion = L"3.0"; }, 4,
     L"Unsupported installer or release version mismatch.", false, false, L"editor-1.0", 0},
    {"ExeIsNotTheSuiteSetup", ExeSetup(L"setup-foreign.exe"), 4,
     L"Unsupported installer or release version mismatch.", false, false, L"editor-1.0", 0},
    {"EditorAlreadyAtTargetVersion",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) { s.InstalledEditor = L"editor-2.0"; },
     4,
     L"The installed application is already at this version or newer, or its version cannot be "
     L"verified.",
     false, false, L"editor-2.0", 0},
    {"EditorVersionUnreadable",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) {
         s.InstalledEditor = L"editor-unversioned";
     },
     4,
     L"The installed application is already at this version or newer, or its version cannot be "
     L"verified.",
     false, false, L"editor-unversioned", 0},
    {"HandoffEventsMissing",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) { s.CreateEvents = false; }, 3,
     L"Cannot open update handoff events or editor process. Windows error: 2", false, false,
     L"editor-1.0", 0},
    {"ParentRunsAnotherCopyOfTheEditor",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) {
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
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) { s.PackageKind = L"MSI"; }, 2,
     std::nullopt, false, false, L"editor-1.0", 0},
    {"ProcessIdWithoutDigits",
     [](UpdateScenario& s, std::shared_ptr<StartedProcess>&) {
         s.EditArguments = [](std::vector<std::wstring> arguments) {
             arguments[0] = L"editor";
             return arguments;
         };
     },
     7, L"Unexpected error while preparing the update.", false, false, L"editor-1.0", 0},
};

INSTANTIATE_TEST_SUITE_P(Situations, UpdateOutcome, testing::ValuesIn(OutcomeCases),
                         [](const testing::TestParamInfo<OutcomeCase>& info) {
                             return std::string(info.param.Situation);
                         });

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
    EXPECT_TRUE(outcome.MsiLogExists) << "no verbose MSI log beside the status file";
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
