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

} // namespace tavo
