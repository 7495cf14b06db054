#pragma once

// What only tests need around the editor's library: folders and files,
// stand-ins for the editor and the suite's applications, starts that Wine
// fails now and then, and the helper's message boxes read and answered.
// Shared by the end-to-end tests, the demo and the benchmark. Every wait
// has a limit; a helper that hangs is ended.

#include "tavo/editor_update.h"
#include "tavo/editor_updater.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

std::wstring ExecutableFolder();
inline std::wstring FixturesFolder() {
    return ExecutableFolder() + L"\\fixtures";
}
inline std::wstring HelperExecutablePath() {
    return ExecutableFolder() + L"\\tavoPDFUpdateHelper.exe";
}
// An environment variable's value; empty when it is not set.
std::wstring Environment(const wchar_t* name);
// A folder under the temp folder that this call created.
std::wstring MakeWorkFolder(const std::wstring& purpose);
void WriteBytes(const std::wstring& path, const std::string& bytes);
std::optional<std::string> ReadBytes(const std::wstring& path);
// SHA-256 as lower-case hex, by bcrypt in one piece: an oracle independent
// of the helper's own checksum.
std::wstring Sha256OfFile(const std::wstring& path);
// The lines nginx logged for requests of files whose names start with `name`, in order.
std::vector<std::string> LoggedFor(const std::wstring& name);
// A copy of an NSIS setup described as "tavo PDF Setup" in its own version
// resource (found from the end, past the setup's code).
void CopySetupDescribedInLowerCase(const std::wstring& setup, const std::wstring& copy);
// The pin of a fixture's signing key (publisher, renewed, unrelated), as an
// editor names its publisher's keys.
std::wstring KeyPin(const std::wstring& signer);

// Arguments that a restarted editor must get back exactly: blanks, quotes,
// backslashes before quotes and at the end, an empty one, tabs, CJK, emoji.
extern const std::vector<std::wstring> AwkwardArguments;

// The start-up call on a command line given as its elements.
tavo::UpdateRestart HandleUpdateRestartOf(const std::vector<std::wstring>& arguments,
                                          const std::wstring& updatesFolder);

struct StartedProcess {
    HANDLE Process = nullptr;
    DWORD ProcessId = 0;
};
// Wine now and then fails to create a process before any line of it runs;
// such a start is tried once more, and the retry is printed.
StartedProcess StartProcess(const std::wstring& executable, const std::wstring& commandLine,
                            const std::wstring& workingFolder);
void EndProcess(StartedProcess& process);
// The running process whose image is this file (30 s at most); none: null.
StartedProcess FindProcess(const std::wstring& image);
// Starts the stand-in at path (copied there first, without a version
// resource, if nothing is there) in its folder, once its start is recorded.
StartedProcess StartStandIn(const std::wstring& path);
// The starts that stand-ins recorded in folder, in order, each as
// "<working folder>> <command line>", once there are at least that many (30 s
// at most: a process may be started and not yet have run a line); and ending
// all of them.
std::vector<std::wstring> ReadStarts(const std::wstring& folder, size_t atLeast = 0);
void EndStandIns(const std::wstring& folder);

// Starts the helper through the editor's library, with the order's command
// line changed by tamper if one is given (one the library would refuse);
// false, with the reason printed, when it did not start. The handoff must
// have been created.
bool StartHelper(const tavo::UpdateOrder& order, tavo::UpdateHandoff& handoff,
                 void (*tamper)(std::vector<std::wstring>&) = nullptr);

struct HelperEnd {
    bool Ended = false;
    DWORD ExitCode = 0;
    std::vector<std::wstring> Dialogs; // "<caption> [<icon>, <buttons>]: <text>"
};
// Waits for the helper's end, reading and answering with OK every message box
// of that helper (by process id) after handing it to onDialog; ends the
// helper after limitMs.
HelperEnd AwaitHelperEnd(HANDLE helper, DWORD helperProcessId, DWORD limitMs,
                         const std::function<void(const std::wstring&)>& onDialog = {});

// The first visible top-level window of that process with this class and
// caption (60 s at most); null when none came.
HWND AwaitWindow(DWORD processId, const wchar_t* windowClass, const wchar_t* caption);
// A key pressed and let go on the window's focused control (the window
// itself when nothing there has the focus), as the keyboard would.
void PressKey(HWND window, WPARAM key);
// The text of a window's child control.
std::wstring ChildText(HWND window, int id);
