#pragma once

// Plays the editor's side of an update against the real helper exe, as the
// editor does: it creates the three handoff events, starts the stand-in
// editor and the helper, waits for the helper to be ready, and answers the
// helper's message boxes. Shared by the end-to-end tests, the demo and the
// benchmark. Every wait has a limit; a helper that hangs is ended.

#include "base/handle_owner.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

std::wstring ExecutableFolder();
std::wstring FixturesFolder();
std::wstring HelperExecutablePath();
// A folder under the temp folder that this call created.
std::wstring MakeWorkFolder(const std::wstring& purpose);
void WriteBytes(const std::wstring& path, const std::string& bytes);
std::optional<std::string> ReadBytes(const std::wstring& path);
// SHA-256 as lower-case hex, by bcrypt in one piece: an oracle independent
// of the helper's own checksum.
std::wstring Sha256OfFile(const std::wstring& path);

struct StartedProcess {
    HANDLE Process = nullptr;
    DWORD ProcessId = 0;
};
// Wine now and then fails to create a process before any line of it runs;
// such a start is tried once more, and the retry is printed.
StartedProcess StartProcess(const std::wstring& executable, const std::wstring& commandLine,
                            const std::wstring& workingFolder);
void EndProcess(StartedProcess& process);
// Starts the stand-in at path (copied there first, without a version
// resource, if nothing is there) in its folder, once its start is recorded.
StartedProcess StartStandIn(const std::wstring& path, const std::wstring& arguments = L"");
// The starts that stand-ins recorded in folder, in order, each as
// "<working folder>> <command line>", once there are at least that many (30 s
// at most: a process may be started and not yet have run a line); and ending
// all of them.
std::vector<std::wstring> ReadStarts(const std::wstring& folder, size_t atLeast = 0);
void EndStandIns(const std::wstring& folder);

struct HandoffEvents {
    std::wstring Name;
    UniqueHandle Ready = OwnHandle(nullptr);
    UniqueHandle Commit = OwnHandle(nullptr);
    UniqueHandle Cancel = OwnHandle(nullptr);
};
HandoffEvents CreateHandoffEvents(const std::wstring& suffix);
bool AwaitReady(const HandoffEvents& events, const StartedProcess& helper, DWORD limitMs);

struct HelperEnd {
    bool Ended = false;
    DWORD ExitCode = 0;
    std::vector<std::wstring> Dialogs; // "<caption>: <text>"
};
// Waits for the helper's end, reading and answering with OK every message box
// of that helper (by process id) after handing it to onDialog; ends the
// helper after limitMs.
HelperEnd AwaitHelperEnd(const StartedProcess& helper, DWORD limitMs,
                         const std::function<void(const std::wstring&)>& onDialog = {});
