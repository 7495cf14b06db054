#pragma once

// One update as the editor would drive it, against the real helper exe, in a
// fresh folder: an installed editor, a downloaded package, the three events,
// the editor's decision and exit, and everything that comes out of it.

#include "editor_side.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class EditorChoice {
    CommitAndExit,     // the normal update
    Cancel,            // the user withdrew the update
    ExitWithoutChoice, // the editor ended before deciding
    CommitAndStay,     // agreed to exit, then kept running
    KilledUndecided,   // ended by force before deciding
    CommitAndKilled,   // agreed to exit, then ended by force
};

struct ScenarioFolders {
    std::wstring Work;
    std::wstring Install; // "...\Program Files\Tavo PDF"
    std::wstring EditorPath;
    std::wstring PackagePath;
    std::wstring StatusPath;
};

struct UpdateScenario {
    std::wstring InstalledEditor = L"editor-1.0"; // fixture folder, empty for none
    std::wstring Package = L"packages\\editor-2.0.msi";
    // Makes the package in the given folder instead, answering its path.
    std::function<std::wstring(const std::wstring&)> MakePackage;
    std::wstring PackageFileName = L"update package.msi";
    std::wstring PackageKind = L"msi";
    std::wstring TargetVersion = L"2.0";
    std::optional<std::wstring> Checksum; // the package's real SHA-256 when unset
    std::vector<std::wstring> EditorArguments = {L"--restore-session"};
    EditorChoice Choice = EditorChoice::CommitAndExit;
    bool CreateEvents = true;
    // Replaces arguments 1 to 8 and the editor arguments when set.
    std::function<std::vector<std::wstring>(const std::vector<std::wstring>&)> EditArguments;
    std::function<void(const ScenarioFolders&)> BeforeHelperStarts;
    std::function<void(const ScenarioFolders&)> AfterReady;
    std::function<void(const ScenarioFolders&)> AfterHelperEnds;
    DWORD HelperLimitMs = 60000;
};

struct ScenarioOutcome {
    ScenarioFolders Folders;
    ReadyWait Ready = ReadyWait::TimedOut;
    bool HelperEnded = false;
    DWORD ExitCode = 0;
    std::optional<std::string> StatusBytes; // nothing when no status file exists
    std::vector<DialogSeen> Dialogs;
    std::vector<EditorLaunch> Launches; // the user's own start first, then restarts
    std::optional<std::string> InstalledEditorBytes;
    bool MsiLogExists = false;
};

ScenarioOutcome RunScenario(const UpdateScenario& scenario);

std::string FixtureBytes(const std::wstring& relativePath);
