#include "editor/editor_update.h"

HelperReadiness AwaitHelperReady(const UpdateHandoff& handoff, DWORD limitMs) {
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
    return readiness;
}

CommitResult CommitUpdate(const UpdateHandoff& handoff) {
    // Exiting before the helper is ready, or with no helper left, would
    // leave the user without an editor and without an update.
    if (WaitForSingleObject(handoff.Ready.get(), 0) != WAIT_OBJECT_0) {
        return CommitResult::NotReady;
    }
    if (WaitForSingleObject(handoff.Helper.get(), 0) != WAIT_TIMEOUT) {
        return CommitResult::HelperEnded;
    }
    // The helper has no window of its own: without this, its elevation
    // prompt and dialogs could wait unseen behind other windows.
    AllowSetForegroundWindow(handoff.HelperProcessId);
    return SetEvent(handoff.Commit.get()) ? CommitResult::Committed : CommitResult::Failed;
}

DWORD CancelUpdate(const UpdateHandoff& handoff) {
    return SetEvent(handoff.Cancel.get()) ? ERROR_SUCCESS : GetLastError();
}
