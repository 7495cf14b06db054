#include "tavo/editor_update.h"

namespace tavo {

const wchar_t* NameOf(HelperState state) {
    switch (state) {
    case HelperState::Ready:
        return L"ready";
    case HelperState::EndedBeforeReady:
        return L"ended before ready";
    case HelperState::StillChecking:
        return L"still checking";
    case HelperState::WaitFailed:
        return L"wait failed";
    }
    return L"unknown";
}

const wchar_t* NameOf(CommitResult result) {
    switch (result) {
    case CommitResult::Committed:
        return L"committed";
    case CommitResult::NotReady:
        return L"not ready";
    case CommitResult::HelperEnded:
        return L"helper ended";
    case CommitResult::Cancelled:
        return L"cancelled";
    case CommitResult::Failed:
        return L"commit failed";
    }
    return L"unknown";
}

const wchar_t* NameOf(CancelResult result) {
    switch (result) {
    case CancelResult::Cancelled:
        return L"cancelled";
    case CancelResult::CommitStands:
        return L"commit stands";
    case CancelResult::Failed:
        return L"cancel failed";
    }
    return L"unknown";
}

const wchar_t* NameOf(OutcomeKind kind) {
    switch (kind) {
    case OutcomeKind::Installed:
        return L"installed";
    case OutcomeKind::InstalledRestartAdvised:
        return L"installed, Windows restart advised";
    case OutcomeKind::InstalledRestartFailed:
        return L"installed, restart failed";
    case OutcomeKind::RefusedBeforeEditorExit:
        return L"refused before the editor exited";
    case OutcomeKind::FailedAfterEditorExit:
        return L"failed after the editor exited";
    case OutcomeKind::UnexpectedError:
        return L"unexpected error";
    case OutcomeKind::NothingWritten:
        return L"nothing written";
    case OutcomeKind::Unreadable:
        return L"status file unreadable";
    case OutcomeKind::NotAnOutcome:
        return L"not an outcome";
    }
    return L"unknown";
}

const wchar_t* NameOf(DownloadCode code) {
    switch (code) {
    case DownloadCode::Downloaded:
        return L"downloaded";
    case DownloadCode::OfferRefused:
        return L"offer refused";
    case DownloadCode::AlreadyDownloading:
        return L"already downloading";
    case DownloadCode::NotEnoughSpace:
        return L"not enough space";
    case DownloadCode::NetworkFailed:
        return L"network failed";
    case DownloadCode::Stalled:
        return L"stalled";
    case DownloadCode::Stopped:
        return L"stopped";
    case DownloadCode::ServerRefused:
        return L"server refused";
    case DownloadCode::CheckFailed:
        return L"check failed";
    case DownloadCode::FileFailed:
        return L"file failed";
    }
    return L"unknown";
}

const wchar_t* NameOf(FeedCode code) {
    switch (code) {
    case FeedCode::UpToDate:
        return L"up to date";
    case FeedCode::Offered:
        return L"offered";
    case FeedCode::Refused:
        return L"feed refused";
    case FeedCode::NetworkFailed:
        return L"network failed";
    case FeedCode::Stopped:
        return L"stopped";
    case FeedCode::Busy:
        return L"busy";
    }
    return L"unknown";
}

} // namespace tavo
