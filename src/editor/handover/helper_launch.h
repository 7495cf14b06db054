#pragma once

#include "tavo/editor_update.h"

#include "base/handle_owner.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavo {

// The helper's command line for an order, element by element: the helper's
// path, then every argument in its place, then the editor's arguments.
std::vector<std::wstring> HelperArguments(const UpdateOrder& order,
                                          const std::wstring& handoffName);

// The order's broken rule, judged on the command line built from it; empty
// when it keeps every rule.
std::wstring CheckHelperArguments(const UpdateOrder& order,
                                  const std::vector<std::wstring>& arguments);

// The editor's executable as the hand-over takes it: an absolute path named
// as the helper wants and, without a process id, this process's own; empty
// when it is, else the rule broken.
std::wstring CheckEditorExecutable(const std::wstring& editorPath, bool processIdGiven);

// Empty when every key is 64 hexadecimal digits; otherwise "<name> N: not 64
// hexadecimal digits" for the first that is not ("publisher key 2: ...").
std::wstring CheckKeys(const std::vector<std::wstring>& keys, const std::wstring& name);
std::wstring CheckPublisherKeys(const std::vector<std::wstring>& keys);

// How the helper is started when the editor runs in a job object: a job that
// ends its processes when it closes would end the helper with the editor,
// halfway through an install or before the restart.
enum class JobStart {
    Plain,             // no job, or one whose children leave it by themselves
    Breakaway,         // out of the job, or not at all
    BreakawayOrInside, // out of the job where it allows that, else inside
    Refused,           // the job would end the helper and lets nothing out
};

// The choice for a process in a job (or not) with these limit flags; no
// flags: they could not be read.
JobStart ChooseJobStart(bool inJob, std::optional<DWORD> limitFlags);
JobStart JobStartOfThisProcess();

// Held while a record's decision is read or changed: commit and cancel may
// come from any of the editor's threads, while another starts or awaits.
std::mutex& DecisionLock();

// Starts the helper with exactly these elements, checked or not (the tests
// give it command lines the helper must refuse). 0, or the Windows error.
DWORD LaunchHelper(const std::vector<std::wstring>& arguments, UpdateHandoff& handoff,
                   JobStart job = JobStartOfThisProcess());

} // namespace tavo
