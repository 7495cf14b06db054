// The editor agrees to exit and then keeps running: the helper gives up
// after its two-minute limit without installing or showing anything. Slow by
// nature (the limit is the behaviour), so it lives in its own executable
// with the "slow" label; the test command still runs it.

#include "update_scenario.h"

#include <gtest/gtest.h>

TEST(EditorExitTimeout, EditorThatCommitsButStaysEndsTheRunWithExitCode5) {
    UpdateScenario scenario;
    scenario.Choice = EditorChoice::CommitAndStay;
    scenario.HelperLimitMs = 180000;
    const ScenarioOutcome outcome = RunScenario(scenario);

    ASSERT_TRUE(outcome.HelperEnded);
    EXPECT_EQ(outcome.ExitCode, 5u);
    EXPECT_EQ(outcome.StatusBytes.value_or("(none)"),
              "The editor did not exit; installation was not started.");
    EXPECT_TRUE(outcome.Dialogs.empty());
    EXPECT_EQ(outcome.Launches.size(), 1u) << "the editor was started again";
    EXPECT_TRUE(outcome.InstalledEditorBytes == FixtureBytes(L"editor-1.0\\tavoPDFEditor.exe"));
}
