#include "update_scenario.h"

#include "install/installer_command_line.h"

namespace {

constexpr DWORD ReadyLimitMs = 30000;

void CreateFolders(const std::wstring& path) {
    for (size_t next = path.find(L'\\', 3); next != std::wstring::npos;
         next = path.find(L'\\', next + 1)) {
        CreateDirectoryW(path.substr(0, next).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
}

} // namespace

std::string FixtureBytes(const std::wstring& relativePath) {
    return ReadBytes(FixturesFolder() + L"\\" + relativePath).value_or(std::string());
}

ScenarioOutcome RunScenario(const UpdateScenario& scenario) {
    ScenarioOutcome outcome;
    ScenarioFolders& folders = outcome.Folders;
    folders.Work = MakeWorkFolder(L"update");
    folders.Install = folders.Work + L"\\Program Files\\Tavo PDF";
    folders.EditorPath = folders.Install + L"\\tavoPDFEditor.exe";
    folders.PackagePath = folders.Work + L"\\Downloads\\" + scenario.PackageFileName;
    folders.StatusPath = folders.Work + L"\\State\\update status.txt";
    CreateFolders(folders.Install);
    CreateFolders(folders.Work + L"\\Downloads");
    CreateFolders(folders.Work + L"\\State");
    if (!scenario.InstalledEditor.empty()) {
        CopyFileOver(FixturesFolder() + L"\\" + scenario.InstalledEditor + L"\\tavoPDFEditor.exe",
                     folders.EditorPath);
    }
    const std::wstring packageSource = scenario.MakePackage
                                           ? scenario.MakePackage(folders.Work)
                                           : FixturesFolder() + L"\\" + scenario.Package;
    CopyFileOver(packageSource, folders.PackagePath);

    HandoffEvents events;
    if (scenario.CreateEvents) {
        events = CreateHandoffEvents(std::to_wstring(GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(GetTickCount64()));
    } else {
        events.Name = L"Local\\TavoPDFUpdate-nobody-created-these";
    }

    StartedProcess editor =
        StartProcess(folders.EditorPath, QuoteArgument(folders.EditorPath) + L" --opened-by-user",
                     folders.Install);
    AwaitEditorStarted(folders.Install);
    if (scenario.BeforeHelperStarts) {
        scenario.BeforeHelperStarts(folders);
    }

    std::vector<std::wstring> arguments = {
        std::to_wstring(editor.ProcessId),
        events.Name,
        folders.PackagePath,
        scenario.Checksum.value_or(Sha256OfFile(folders.PackagePath)),
        folders.EditorPath,
        scenario.TargetVersion,
        scenario.PackageKind,
        folders.StatusPath};
    arguments.insert(arguments.end(), scenario.EditorArguments.begin(),
                     scenario.EditorArguments.end());
    if (scenario.EditArguments) {
        arguments = scenario.EditArguments(arguments);
    }
    StartedProcess helper =
        StartProcess(HelperExecutablePath(), HelperCommandLine(arguments), folders.Work);

    if (helper.Process != nullptr && events.Ready != nullptr) {
        outcome.Ready = AwaitReady(events, helper, ReadyLimitMs);
    }
    if (outcome.Ready == ReadyWait::Ready) {
        if (scenario.AfterReady) {
            scenario.AfterReady(folders);
        }
        switch (scenario.Choice) {
        case EditorChoice::CommitAndExit:
            SetEvent(events.Commit);
            AskEditorToExit(editor.ProcessId);
            break;
        case EditorChoice::Cancel:
            SetEvent(events.Cancel);
            break;
        case EditorChoice::ExitWithoutChoice:
            AskEditorToExit(editor.ProcessId);
            break;
        case EditorChoice::CommitAndStay:
            SetEvent(events.Commit);
            break;
        case EditorChoice::KilledUndecided:
            TerminateProcess(editor.Process, 1);
            break;
        case EditorChoice::CommitAndKilled:
            SetEvent(events.Commit);
            TerminateProcess(editor.Process, 1);
            break;
        }
    }

    if (helper.Process != nullptr) {
        const HelperEnd end = AwaitHelperEnd(helper, scenario.HelperLimitMs);
        outcome.HelperEnded = end.Ended;
        outcome.ExitCode = end.ExitCode;
        outcome.Dialogs = end.Dialogs;
    }
    if (scenario.AfterHelperEnds) {
        scenario.AfterHelperEnds(folders);
    }
    outcome.StatusBytes = ReadBytes(folders.StatusPath);
    outcome.Launches = ReadEditorLaunches(folders.Install);
    outcome.InstalledEditorBytes = ReadBytes(folders.EditorPath);
    outcome.MsiLogExists =
        GetFileAttributesW((folders.StatusPath + L".msi.log").c_str()) != INVALID_FILE_ATTRIBUTES;

    EndEditorLaunches(outcome.Launches);
    EndProcess(editor);
    EndProcess(helper);
    CloseHandoffEvents(events);
    return outcome;
}
