#pragma once

// The argument the updater adds after the editor's own at hand-over, and
// takes off again: only the last two elements, and only with this name.

#include <optional>
#include <string>
#include <vector>

namespace tavo {

// Removes "--tavo-update-status <file>" from the end of a command line's
// elements (element 0, the program, included) and gives the file; nothing
// when the line does not end so, and then it is left as it is.
std::optional<std::wstring> TakeStatusArgument(std::vector<std::wstring>& arguments);

// The name the updater gives its status file in the updates folder; the
// start-up call reads no other file.
inline constexpr wchar_t UpdateStatusFileName[] = L"update status.txt";

// The status file an argument names, as a full path, when it is the updates
// folder's own status file and a regular file; else empty, with nothing
// opened (a server share, a device or a pipe is never touched).
std::wstring OwnStatusFile(const std::wstring& argument, const std::wstring& updatesFolder);

} // namespace tavo
