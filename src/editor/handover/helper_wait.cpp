#include "editor/handover/helper_launch.h"

#include "base/outcomes.h"

namespace tavo {

HelperReadiness AwaitHelperReady(UpdateHandoff& handoff, DWORD limitMs) {
    HelperReadiness readiness;
    // Ready first: a helper that became ready and has ended since (the
    // editor cancelled) still was ready.
    const HANDLE waitOn[2] = {handoff.Ready.get(), handoff.Helper.get()};
    const DWORD woken = WaitForMultipleObjects(2, waitOn, FALSE, limitMs);
    if (woken == WAIT_OBJECT_0) {
        readiness.State = HelperState::Ready;
    } else if (woken == WAIT_OBJECT_0 + 1) {
        if (!GetExitCodeProcess(handoff.Helper.get(), &readiness.ExitCode)) {
            readiness.WindowsError = GetLastError();
            return readiness;
        }
        readiness.State = HelperState::EndedBeforeReady;
        readiness.Outcome = ReadUpdateOutcome(handoff.StatusFilePath);
    } else if (woken == WAIT_TIMEOUT) {
        readiness.State = HelperState::StillChecking;
    } else {
        readiness.WindowsError = GetLastError();
    }
    if (readiness.State == HelperState::Ready || readiness.State == HelperState::EndedBeforeReady) {
        // A cancel on another thread lets it go too: one of the two closes it.
        const std::lock_guard<std::mutex> deciding(DecisionLock());
        handoff.Package.reset();
    }
    return readiness;
}

// Commit and cancel exclude each other, whichever threads of the editor call
// them, and a start does not slip past a cancel: each looks at the record
// and changes it under this lock.
std::mutex& DecisionLock() {
    static std::mutex lock;
    return lock;
}

namespace {

// A ready helper ends at once when it sees the cancel; one still checking
// the package is ended after this.
constexpr DWORD CancelGraceMs = 2000;
constexpr DWORD HelperEndLimitMs = 10000;

bool IsSet(const UniqueHandle& event) {
    return WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0;
}

bool IsRunning(const UniqueHandle& process) {
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

} // namespace

CommitResult CommitUpdate(const UpdateHandoff& handoff) {
    {
        const std::lock_guard<std::mutex> deciding(DecisionLock());
        if (handoff.Cancelled || IsSet(handoff.Cancel)) {
            return CommitResult::Cancelled;
        }
        // Exiting before the helper is ready, or with no helper left, would
        // leave the user without an editor and without an update.
        if (!IsSet(handoff.Ready)) {
            return CommitResult::NotReady;
        }
        if (!IsRunning(handoff.Helper)) {
            return CommitResult::HelperEnded;
        }
        // The helper has no window of its own: without this, its elevation
        // prompt and dialogs could wait unseen behind other windows.
        AllowSetForegroundWindow(handoff.HelperProcessId);
        if (!SetEvent(handoff.Commit.get())) {
            return CommitResult::Failed;
        }
    }
    // A helper that ended before it saw the commit installs nothing.
    return IsRunning(handoff.Helper) ? CommitResult::Committed : CommitResult::HelperEnded;
}

CancelResult CancelUpdate(UpdateHandoff& handoff) {
    HANDLE helper = nullptr; // the record's, which outlives this call
    {
        const std::lock_guard<std::mutex> deciding(DecisionLock());
        if (IsSet(handoff.Commit) && IsRunning(handoff.Helper)) {
            return CancelResult::CommitStands;
        }
        // Before the start too: a start after this is refused.
        handoff.Cancelled = true;
        if (handoff.Cancel) {
            SetEvent(handoff.Cancel.get());
        }
        handoff.Package.reset();
        helper = handoff.Helper.get();
    }
    if (helper == nullptr) {
        return CancelResult::Cancelled;
    }
    // Only once the helper has ended can it write nothing more into the
    // status file, where a later attempt's outcome may be read. Ending it is
    // safe: without a commit it has changed nothing.
    if (WaitForSingleObject(helper, CancelGraceMs) == WAIT_TIMEOUT) {
        TerminateProcess(helper, ExitSuccess);
    }
    return WaitForSingleObject(helper, HelperEndLimitMs) == WAIT_OBJECT_0 ? CancelResult::Cancelled
                                                                          : CancelResult::Failed;
}

} // namespace tavo
