#include "install/installer_run.h"

#include "base/handle_owner.h"
#include "base/outcomes.h"
#include "base/system_libraries.h"
#include "handoff/suite_scan.h"
#include "install/editor_restart.h"
#include "install/installer_command_line.h"
#include "report/status_file.h"
#include "verify/file_version.h"
#include "verify/version_compare.h"

#include <vector>

std::optional<std::wstring> MsiexecPathFromSystemDirectory(UINT answer, const wchar_t* buffer,
                                                           UINT bufferLength) {
    if (answer == 0 || answer >= bufferLength) {
        return std::nullopt;
    }
    return std::wstring(buffer, answer) + L"\\msiexec.exe";
}

const wchar_t* InstallerStartFailureText(DWORD lastError) {
    return lastError == ERROR_CANCELLED ? TextPermissionCancelled : TextCannotStartInstaller;
}

bool IsAcceptedInstallerExitCode(bool isMsi, DWORD exitCode) {
    return exitCode == 0 || (isMsi && exitCode == ExitCodeRebootRequired);
}

const wchar_t* InstalledText(DWORD installerExitCode) {
    return installerExitCode == ExitCodeRebootRequired ? TextInstalledRebootRequired
                                                       : TextInstalled;
}

namespace {

// Starts the installer elevated and hidden in the install folder; a null
// owner with the last-error code read right after the failing call.
UniqueHandle StartInstallerElevated(const std::wstring& installerFile,
                                    const std::wstring& parameters,
                                    const std::wstring& workingFolder, DWORD& lastError) {
    SHELLEXECUTEINFOW start = {};
    start.cbSize = sizeof(start);
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    start.lpVerb = L"runas";
    start.lpFile = installerFile.c_str();
    start.lpParameters = parameters.c_str();
    start.lpDirectory = workingFolder.c_str();
    start.nShow = SW_HIDE;
    const ShellFunctions* shell = ShellLibrary();
    const BOOL started = shell != nullptr && shell->ShellExecuteEx(&start);
    UniqueHandle installer = OwnHandle(started ? start.hProcess : nullptr);
    if (!installer) {
        lastError = GetLastError();
    }
    return installer;
}

} // namespace

int RunInstaller(const UpdateRequest& request, bool isMsi, const std::wstring& restartArguments,
                 const FailureContext& failure) {
    if (IsSuiteApplicationRunning(request.InstallFolder, request.EditorProcessId)) {
        return ShowFailureAndReopen(failure, TextSuiteStillRunning);
    }

    std::vector<wchar_t> systemDirectory(SystemDirectoryBufferLength, L'\0');
    const UINT answer = GetSystemDirectoryW(systemDirectory.data(), SystemDirectoryBufferLength);
    const std::optional<std::wstring> msiexecPath =
        MsiexecPathFromSystemDirectory(answer, systemDirectory.data(), SystemDirectoryBufferLength);
    if (!msiexecPath) {
        return ShowFailureAndReopen(failure, TextNoWindowsInstaller);
    }

    const std::wstring& installerFile = isMsi ? *msiexecPath : request.PackagePath;
    const std::wstring parameters = BuildInstallerParameters(
        isMsi, request.PackagePath, request.InstallFolder, MsiLogPath(request.StatusFilePath));

    DWORD startError = 0;
    const UniqueHandle installer =
        StartInstallerElevated(installerFile, parameters, request.InstallFolder, startError);
    if (!installer) {
        return ShowFailureAndReopen(failure, InstallerStartFailureText(startError));
    }

    if (WaitForSingleObject(installer.get(), INFINITE) != WAIT_OBJECT_0) {
        return ShowFailureAndReopen(failure, TextCannotWaitForInstaller);
    }

    DWORD installerExitCode = 1;
    const BOOL exitCodeRead = GetExitCodeProcess(installer.get(), &installerExitCode);
    if (!exitCodeRead || !IsAcceptedInstallerExitCode(isMsi, installerExitCode)) {
        return ShowFailureAndReopen(failure,
                                    FormatCodeMessage(TextInstallationFailed, installerExitCode));
    }

    if (!IsSameVersion(request.TargetVersion, ReadFileVersion(request.EditorPath))) {
        return ShowFailureAndReopen(failure, TextInstalledVersionMismatch);
    }

    WriteStatusFile(request.StatusFilePath, InstalledText(installerExitCode));
    if (!RestartEditor(request.EditorPath, restartArguments)) {
        return ShowFailureAndReopen(failure, TextRestartFailed);
    }
    return ExitSuccess;
}
