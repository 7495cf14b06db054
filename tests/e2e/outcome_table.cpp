#include "outcome_table.h"

const std::wstring ReopeningNotice =
    L"\n更新未完成，将尝试重新打开编辑器。\nThe editor will be reopened if available.";
const std::wstring ReopenFailedText =
    L"无法重新打开编辑器，请从快捷方式启动或修复安装。\nCannot reopen the editor. Please start "
    L"it from its shortcut or repair the installation.";

std::wstring FailureDialogText(const std::wstring& outcome, const std::wstring& statusPath) {
    return outcome + L"\n\nLog: " + statusPath + ReopeningNotice;
}

// Starts a copy of the suite's stand-in application under a suite name.
std::shared_ptr<void> StartSuiteApplication(const std::wstring& folder, const std::wstring& name) {
    const std::wstring path = folder + L"\\" + name;
    CopyFileOver(FixturesFolder() + L"\\suite_app.exe", path);
    auto* started = new StartedProcess(StartProcess(path, L"\"" + path + L"\"", folder));
    // Give Wine a moment to list the new process in snapshots.
    Sleep(300);
    return std::shared_ptr<void>(started, [](void* process) {
        EndProcess(*static_cast<StartedProcess*>(process));
        delete static_cast<StartedProcess*>(process);
    });
}

void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << c.Situation;
}

TEST_P(UpdateOutcome, LeavesTheExpectedTraces) {
    const OutcomeCase& expected = GetParam();
    UpdateScenario scenario;
    std::shared_ptr<void> heldDuringRun;
    expected.Arrange(scenario, heldDuringRun);

    const ScenarioOutcome outcome = RunScenario(scenario);
    heldDuringRun.reset();

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

Arrangement ExeSetup(const wchar_t* setup) {
    return [setup](UpdateScenario& s, std::shared_ptr<void>&) {
        s.Package = std::wstring(L"setups\\") + setup;
        s.PackageFileName = L"Tavo PDF Setup 2.0.exe";
        s.PackageKind = L"exe";
    };
}

Arrangement Nothing() {
    return [](UpdateScenario&, std::shared_ptr<void>&) {};
}

std::string SituationName(const testing::TestParamInfo<OutcomeCase>& info) {
    return info.param.Situation;
}
