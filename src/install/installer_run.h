#pragma once

#include "app/update_request.h"
#include "report/failure_dialog.h"

#include <windows.h>

#include <optional>
#include <string>

inline constexpr UINT SystemDirectoryBufferLength = 260;
inline constexpr DWORD ExitCodeRebootRequired = 3010;

// The msiexec path from GetSystemDirectoryW's answer and buffer; nothing when
// the call failed (0) or the directory did not fit the buffer (the answer is
// then the size it needs, and the buffer holds no path to start).
std::optional<std::wstring> MsiexecPathFromSystemDirectory(UINT answer, const wchar_t* buffer,
                                                           UINT bufferLength);

// 1223 (ERROR_CANCELLED) is the user declining the elevation prompt.
const wchar_t* InstallerStartFailureText(DWORD lastError);

// 0 always; 3010 (restart required) only from Windows Installer.
bool IsAcceptedInstallerExitCode(bool isMsi, DWORD exitCode);

const wchar_t* InstalledText(DWORD installerExitCode);

// The installer phase, once the editor has exited: second scan, elevated and
// hidden installer, its exit code, the installed version, the success text
// and the restart. Every failure goes through the failure dialog. Answers 0
// or 6.
int RunInstaller(const UpdateRequest& request, bool isMsi, const std::wstring& restartArguments,
                 const FailureContext& failure);
