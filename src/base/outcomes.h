#pragma once

// Every exit code and every outcome text of an update run, in one place, in
// the order of the update sequence. The README's table of outcomes is this
// file read aloud; change both together.

enum ExitCode : int {
    ExitSuccess = 0,               // installed and restarted, or the editor did not commit
    ExitBadRequest = 2,            // command line refused; nothing written
    ExitHandoffFailed = 3,         // events, editor process, parent check or ready signal
    ExitPackageRefused = 4,        // checksum, identity, versions or a running suite application
    ExitEditorDidNotExit = 5,      // committed but still running after the exit timeout
    ExitFailedAfterEditorExit = 6, // reported through the failure dialog, editor started again
    ExitUnexpectedError = 7,       // an exception escaped the run
};

// Before the editor has exited: status file only.
inline constexpr wchar_t TextHandoffOpenFailed[] =
    L"Cannot open update handoff events or editor process. Windows error: ";
inline constexpr wchar_t TextEditorImageUnreadable[] =
    L"Cannot inspect the editor process. Windows error: ";
inline constexpr wchar_t TextParentNotEditor[] =
    L"The update parent is not the requested editor executable.";
inline constexpr wchar_t TextChecksumFailed[] = L"Update checksum failed.";
inline constexpr wchar_t TextPackageMismatch[] =
    L"Unsupported installer or release version mismatch.";
inline constexpr wchar_t TextInstalledNotOlder[] = L"The installed application is already at "
                                                   L"this version or newer, or its version "
                                                   L"cannot be verified.";
inline constexpr wchar_t TextCloseSuiteApplications[] =
    L"Close other PDF editor, viewer, comparison and command-line instances before updating.";
inline constexpr wchar_t TextReadySignalFailed[] =
    L"Cannot signal update readiness. Windows error: ";
inline constexpr wchar_t TextEditorDidNotExit[] =
    L"The editor did not exit; installation was not started.";

// After the editor has exited: failure dialog, editor started again.
inline constexpr wchar_t TextSuiteStillRunning[] =
    L"Another PDF application is still running. Installation was not started.";
inline constexpr wchar_t TextNoWindowsInstaller[] = L"Cannot locate Windows Installer.";
inline constexpr wchar_t TextPermissionCancelled[] = L"Installation permission was cancelled.";
inline constexpr wchar_t TextCannotStartInstaller[] = L"Cannot start the installer.";
inline constexpr wchar_t TextCannotWaitForInstaller[] = L"Cannot wait for installer completion.";
inline constexpr wchar_t TextInstallationFailed[] = L"Installation failed. Exit code: ";
inline constexpr wchar_t TextInstalledVersionMismatch[] =
    L"The installed application version does not match the requested update.";
inline constexpr wchar_t TextRestartFailed[] =
    L"Installed successfully, but the editor could not be restarted.";

// Success: status file, then the editor started again.
inline constexpr wchar_t TextInstalled[] = L"Installed successfully.";
inline constexpr wchar_t TextInstalledRebootRequired[] =
    L"Installed; Windows restart may also be required.";

// An exception that escaped the run.
inline constexpr wchar_t TextUnexpectedError[] = L"Unexpected error while preparing the update.";

// Every outcome text with the exit code it goes with, as the editor's side
// reads them back from the status file. A text that ends in a blank is
// followed at once by a number in unsigned decimal.
struct OutcomeText {
    const wchar_t* Text;
    ExitCode Code;
};

inline constexpr OutcomeText OutcomeTexts[] = {
    {TextHandoffOpenFailed, ExitHandoffFailed},
    {TextEditorImageUnreadable, ExitHandoffFailed},
    {TextParentNotEditor, ExitHandoffFailed},
    {TextChecksumFailed, ExitPackageRefused},
    {TextPackageMismatch, ExitPackageRefused},
    {TextInstalledNotOlder, ExitPackageRefused},
    {TextCloseSuiteApplications, ExitPackageRefused},
    {TextReadySignalFailed, ExitHandoffFailed},
    {TextEditorDidNotExit, ExitEditorDidNotExit},
    {TextSuiteStillRunning, ExitFailedAfterEditorExit},
    {TextNoWindowsInstaller, ExitFailedAfterEditorExit},
    {TextPermissionCancelled, ExitFailedAfterEditorExit},
    {TextCannotStartInstaller, ExitFailedAfterEditorExit},
    {TextCannotWaitForInstaller, ExitFailedAfterEditorExit},
    {TextInstallationFailed, ExitFailedAfterEditorExit},
    {TextInstalledVersionMismatch, ExitFailedAfterEditorExit},
    {TextRestartFailed, ExitFailedAfterEditorExit},
    {TextInstalled, ExitSuccess},
    {TextInstalledRebootRequired, ExitSuccess},
    {TextUnexpectedError, ExitUnexpectedError},
};
