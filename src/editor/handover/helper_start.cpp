#include "editor/handover/helper_launch.h"

#include "app/update_request.h"
#include "base/paths.h"
#include "handoff/handoff.h"
#include "editor/handover/package_signer.h"
#include "install/installer_command_line.h"
#include "verify/checksum.h"

#include <atomic>

namespace tavo {

namespace {

// Unique among the attempts of all running processes: the process id, the
// time and a count within the process.
std::wstring NewHandoffName() {
    static std::atomic<unsigned> attempts = 0;
    return HandoffNamePrefix + std::to_wstring(GetCurrentProcessId()) + L'-' +
           std::to_wstring(GetTickCount64()) + L'-' + std::to_wstring(++attempts);
}

// Manual reset, not set. An event of that name that existed already is
// somebody else's, and its state would not be ours to trust.
DWORD CreateHandoffEvent(const std::wstring& name, const wchar_t* suffix, UniqueHandle& event) {
    SetLastError(ERROR_SUCCESS);
    event = OwnHandle(CreateEventW(nullptr, TRUE, FALSE, (name + suffix).c_str()));
    const DWORD error = GetLastError();
    return !event || error == ERROR_ALREADY_EXISTS ? error : ERROR_SUCCESS;
}

// The three events under that name; on failure the record has none.
DWORD CreateNamedHandoff(const std::wstring& name, UpdateHandoff& handoff) {
    handoff.Name = name;
    DWORD error = CreateHandoffEvent(name, ReadyEventSuffix, handoff.Ready);
    if (error == ERROR_SUCCESS) {
        error = CreateHandoffEvent(name, CommitEventSuffix, handoff.Commit);
    }
    if (error == ERROR_SUCCESS) {
        error = CreateHandoffEvent(name, CancelEventSuffix, handoff.Cancel);
    }
    if (error != ERROR_SUCCESS) {
        handoff.Name.clear();
        handoff.Ready.reset();
        handoff.Commit.reset();
        handoff.Cancel.reset();
    }
    return error;
}

// An earlier attempt's text would be read as this attempt's outcome.
DWORD RemoveOldStatusFile(const std::wstring& statusFilePath) {
    if (DeleteFileW(statusFilePath.c_str())) {
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}

} // namespace

DWORD CreateUpdateHandoff(UpdateHandoff& handoff) {
    const std::lock_guard<std::mutex> deciding(DecisionLock());
    return CreateNamedHandoff(NewHandoffName(), handoff);
}

DWORD LaunchHelper(const std::vector<std::wstring>& arguments, UpdateHandoff& handoff,
                   JobStart job) {
    if (job == JobStart::Refused) {
        return ERROR_ACCESS_DENIED;
    }
    const std::wstring& helperPath = arguments.front();
    const std::wstring commandLine = BuildCommandLine(
        helperPath, JoinQuotedArguments(std::vector(arguments.begin() + 1, arguments.end())));
    // Its own folder: the helper then holds no folder of the installation
    // open as its current one.
    const std::wstring workingFolder = ParentFolder(helperPath);
    // No busy cursor: the helper opens no window that would end it. And no
    // show state: the helper has no window to hide, and Windows would apply
    // SW_HIDE to its first one, the failure dialog, which would then wait
    // unseen while the user has no editor.
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_FORCEOFFFEEDBACK;
    PROCESS_INFORMATION started = {};
    const auto start = [&](DWORD flags) {
        std::wstring writable = commandLine; // CreateProcessW may write to it
        return CreateProcessW(helperPath.c_str(), writable.data(), nullptr, nullptr, FALSE, flags,
                              nullptr, workingFolder.c_str(), &startup, &started)
                   ? ERROR_SUCCESS
                   : GetLastError();
    };
    // Out of the editor's job where it must be: a job that closes with the
    // editor would otherwise end the helper halfway.
    DWORD error = start(job == JobStart::Plain ? 0 : CREATE_BREAKAWAY_FROM_JOB);
    if (error == ERROR_ACCESS_DENIED && job == JobStart::BreakawayOrInside) {
        error = start(0);
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }
    const UniqueHandle thread = OwnHandle(started.hThread);
    handoff.Helper = OwnHandle(started.hProcess);
    handoff.HelperProcessId = started.dwProcessId;
    handoff.StatusFilePath =
        arguments.size() > ArgumentStatusFile ? arguments[ArgumentStatusFile] : L"";
    return ERROR_SUCCESS;
}

HelperStart StartUpdateHelper(const UpdateOrder& order, UpdateHandoff& handoff) {
    HelperStart start;
    const std::wstring name = handoff.Ready ? handoff.Name : NewHandoffName();
    const std::vector<std::wstring> arguments = HelperArguments(order, name);
    start.Refusal = CheckHelperArguments(order, arguments);
    if (!start.Refusal.empty()) {
        return start;
    }
    const JobStart job = JobStartOfThisProcess();
    if (job == JobStart::Refused) {
        start.Refusal = L"job: the editor runs in a job that ends its processes when it closes and "
                        L"lets none out, so the helper would end with the editor";
        return start;
    }
    // The bytes whose signer is checked are the bytes installed: held from
    // here until the helper, holding them itself, is ready or has ended.
    UniqueHandle package = OwnHandle(nullptr);
    if (!order.PublisherKeys.empty()) {
        package = OpenPackageFile(order.PackagePath);
        if (package.get() == INVALID_HANDLE_VALUE) {
            start.WindowsError = GetLastError();
            return start;
        }
        start.Refusal =
            SignerRefusal(ReadPackageSigner(package.get(), order.PackagePath), order.PublisherKeys);
        if (!start.Refusal.empty()) {
            return start;
        }
    }
    // A cancel from another thread comes either before this, and nothing
    // starts, or after it, and finds the helper to end.
    const std::lock_guard<std::mutex> deciding(DecisionLock());
    if (handoff.Cancelled || handoff.Helper) {
        start.Refusal =
            handoff.Cancelled ? L"handoff: cancelled" : L"handoff: used for an attempt already";
        return start;
    }
    if (!handoff.Ready) {
        start.WindowsError = CreateNamedHandoff(name, handoff);
    }
    if (start.WindowsError == ERROR_SUCCESS) {
        start.WindowsError = RemoveOldStatusFile(order.StatusFilePath);
    }
    if (start.WindowsError == ERROR_SUCCESS) {
        start.WindowsError = LaunchHelper(arguments, handoff, job);
    }
    start.Started = start.WindowsError == ERROR_SUCCESS;
    if (start.Started) {
        handoff.Package = std::move(package);
    }
    return start;
}

} // namespace tavo
