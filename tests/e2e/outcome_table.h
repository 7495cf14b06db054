#pragma once

// A table of update situations and what each must leave behind, checked by
// one parameterised test: exit code, status file bytes (or none), the exact
// dialog texts, the installed editor's bytes, and every restart's arguments
// and working folder.

#include "update_scenario.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

// Whatever Arrange puts in the holder lives until the helper has ended.
using Arrangement = std::function<void(UpdateScenario&, std::shared_ptr<void>&)>;

struct OutcomeCase {
    const char* Situation;
    Arrangement Arrange;
    DWORD ExitCode;
    std::optional<std::wstring> Status; // exact text; no value: no status file at all
    bool FailureDialog;                 // the status text shown in the failure dialog
    bool ReopenFailedDialog;
    const wchar_t* EditorAfter; // fixture whose bytes the installed editor must have
    size_t Restarts;
};

void PrintTo(const OutcomeCase& c, std::ostream* os);

class UpdateOutcome : public testing::TestWithParam<OutcomeCase> {};

std::string SituationName(const testing::TestParamInfo<OutcomeCase>& info);

extern const std::wstring ReopeningNotice;
extern const std::wstring ReopenFailedText;
std::wstring FailureDialogText(const std::wstring& outcome, const std::wstring& statusPath);

// A copy of the suite's stand-in application, running under a suite name.
std::shared_ptr<void> StartSuiteApplication(const std::wstring& folder, const std::wstring& name);

Arrangement ExeSetup(const wchar_t* setup);
Arrangement Nothing();
