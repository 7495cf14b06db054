#pragma once

#include <string>
#include <vector>

// One argument in double quotes, escaped so that CommandLineToArgvW gives it
// back unchanged: backslashes are doubled only where a quote follows them.
std::wstring QuoteArgument(const std::wstring& argument);

// Each argument quoted, joined by single spaces; empty when there are none.
std::wstring JoinQuotedArguments(const std::vector<std::wstring>& arguments);

// A program's command line: its quoted path, then one space and the joined
// arguments if there are any.
std::wstring BuildCommandLine(const std::wstring& programPath, const std::wstring& arguments);

// The status file path followed by ".msi.log" (joined, not a new extension).
std::wstring MsiLogPath(const std::wstring& statusFilePath);

// Silent installer parameters. MSI: install, no UI, no reboot, no Restart
// Manager, into the install folder, verbose log. EXE: "/S /D=" and the folder
// unquoted, since the setup takes the rest of the line as the folder.
std::wstring BuildInstallerParameters(bool isMsi, const std::wstring& packagePath,
                                      const std::wstring& installFolder,
                                      const std::wstring& msiLogPath);
