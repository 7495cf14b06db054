#pragma once

#include "editor/editor_update.h"

#include <string>
#include <vector>

// The helper's command line for an order, element by element: the helper's
// path, then every argument in its place, then the editor's arguments.
std::vector<std::wstring> HelperArguments(const UpdateOrder& order,
                                          const std::wstring& handoffName);

// The order's broken rule, judged on the command line built from it; empty
// when it keeps every rule.
std::wstring CheckHelperArguments(const UpdateOrder& order,
                                  const std::vector<std::wstring>& arguments);

// Starts the helper with exactly these elements, checked or not (the tests
// give it command lines the helper must refuse). 0, or the Windows error.
DWORD LaunchHelper(const std::vector<std::wstring>& arguments, UpdateHandoff& handoff);
