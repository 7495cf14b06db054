#pragma once

#include <string>
#include <vector>

// How long a restarted editor must keep running for the restart to count.
inline constexpr unsigned long RestartGracePeriodMs = 3000;

// Arguments 9 onward, each quoted, joined by single spaces; empty when none.
std::wstring JoinRestartArguments(const std::vector<std::wstring>& editorArguments);

// Starts the editor in its own folder; true only when it is still running
// after the grace period. Holds no handle to it afterwards.
bool RestartEditor(const std::wstring& editorPath, const std::wstring& restartArguments);
