#include "editor/c/c_interface.h"

using namespace tavo;

namespace {

int32_t CodeOf(OutcomeKind kind) {
    return TAVO_UPDATE_INSTALLED + static_cast<int32_t>(kind);
}

} // namespace

// The codes of each group follow the C++ results, in their order.
static_assert(static_cast<int>(HelperState::WaitFailed) ==
              TAVO_UPDATE_WAIT_FAILED - TAVO_UPDATE_READY);
static_assert(static_cast<int>(CommitResult::Failed) ==
              TAVO_UPDATE_COMMIT_FAILED - TAVO_UPDATE_COMMITTED);
static_assert(static_cast<int>(OutcomeKind::NotAnOutcome) ==
              TAVO_UPDATE_NOT_AN_OUTCOME - TAVO_UPDATE_INSTALLED);
static_assert(static_cast<int>(DownloadCode::FileFailed) ==
              TAVO_UPDATE_FILE_FAILED - TAVO_UPDATE_DOWNLOADED);
static_assert(static_cast<int>(FeedCode::NetworkFailed) ==
              TAVO_UPDATE_FEED_NETWORK_FAILED - TAVO_UPDATE_UP_TO_DATE);
static_assert(static_cast<int>(FeedCode::Busy) == TAVO_UPDATE_FEED_BUSY - TAVO_UPDATE_UP_TO_DATE);

extern "C" {

tavo_update_attempt_t* tavo_update_attempt_new(void) {
    return new (std::nothrow) Attempt();
}

void tavo_update_attempt_free(tavo_update_attempt_t* attempt) {
    delete static_cast<Attempt*>(attempt);
}

int32_t tavo_update_set_text(tavo_update_attempt_t* handle, int32_t field, const wchar_t* text) {
    auto* attempt = static_cast<Attempt*>(handle);
    if (attempt == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        if (attempt->StartCalled || text == nullptr) {
            return Answer(*attempt, TAVO_UPDATE_INVALID_ARGUMENT,
                          attempt->StartCalled ? L"attempt: started already" : L"text: null");
        }
        UpdateOrder& order = attempt->Order;
        switch (field) {
        case TAVO_UPDATE_FIELD_HELPER_PATH:
            order.HelperPath = text;
            break;
        case TAVO_UPDATE_FIELD_PACKAGE_PATH:
            order.PackagePath = text;
            break;
        case TAVO_UPDATE_FIELD_PACKAGE_SHA256:
            order.PackageSha256 = text;
            break;
        case TAVO_UPDATE_FIELD_PACKAGE_KIND:
            if (std::wstring(text) != L"msi" && std::wstring(text) != L"exe") {
                return Answer(*attempt, TAVO_UPDATE_INVALID_ARGUMENT,
                              L"package kind: not \"msi\" or \"exe\"");
            }
            order.PackageKind =
                std::wstring(text) == L"msi" ? PackageFormat::Msi : PackageFormat::Exe;
            break;
        case TAVO_UPDATE_FIELD_TARGET_VERSION:
            order.TargetVersion = text;
            break;
        case TAVO_UPDATE_FIELD_STATUS_FILE_PATH:
            order.StatusFilePath = text;
            break;
        case TAVO_UPDATE_FIELD_EDITOR_PATH:
            order.EditorPath = text;
            break;
        case TAVO_UPDATE_FIELD_EDITOR_ARGUMENT:
            order.EditorArguments.push_back(text);
            break;
        case TAVO_UPDATE_FIELD_PUBLISHER_KEY:
            order.PublisherKeys.push_back(text);
            break;
        default:
            return Answer(*attempt, TAVO_UPDATE_INVALID_ARGUMENT,
                          L"field: unknown (" + std::to_wstring(field) + L")");
        }
        return Answer(*attempt, TAVO_UPDATE_OK);
    });
}

int32_t tavo_update_set_editor_process_id(tavo_update_attempt_t* handle, uint32_t processId) {
    auto* attempt = static_cast<Attempt*>(handle);
    if (attempt == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        if (attempt->StartCalled) {
            return Answer(*attempt, TAVO_UPDATE_INVALID_ARGUMENT, L"attempt: started already");
        }
        attempt->Order.EditorProcessId = processId;
        return Answer(*attempt, TAVO_UPDATE_OK);
    });
}

int32_t tavo_update_start(tavo_update_attempt_t* handle) {
    auto* attempt = static_cast<Attempt*>(handle);
    if (attempt == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        if (attempt->StartCalled) {
            return Answer(*attempt, TAVO_UPDATE_INVALID_ARGUMENT, L"attempt: started already");
        }
        attempt->StartCalled = true;
        const HelperStart start = StartUpdateHelper(attempt->Order, attempt->Handoff);
        if (start.Started) {
            return Answer(*attempt, TAVO_UPDATE_STARTED);
        }
        return start.Refusal.empty()
                   ? Answer(*attempt, TAVO_UPDATE_WINDOWS_ERROR,
                            L"Windows error " + std::to_wstring(start.WindowsError))
                   : Answer(*attempt, TAVO_UPDATE_REFUSED, start.Refusal);
    });
}

int32_t tavo_update_await_ready(tavo_update_attempt_t* handle, uint32_t limitMs) {
    auto* attempt = static_cast<Attempt*>(handle);
    if (attempt == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        // Set by the start on this same thread, never by a cancel.
        if (!attempt->Handoff.Helper) {
            return Answer(*attempt, TAVO_UPDATE_INVALID_ARGUMENT, L"attempt: not started");
        }
        const HelperReadiness readiness = AwaitHelperReady(attempt->Handoff, limitMs);
        return Answer(*attempt, TAVO_UPDATE_READY + static_cast<int32_t>(readiness.State),
                      readiness.State == HelperState::EndedBeforeReady
                          ? L"exit code " + std::to_wstring(readiness.ExitCode) + L": " +
                                readiness.Outcome.Text
                      : readiness.State == HelperState::WaitFailed
                          ? L"Windows error " + std::to_wstring(readiness.WindowsError)
                          : std::wstring());
    });
}

int32_t tavo_update_commit(tavo_update_attempt_t* handle) {
    auto* attempt = static_cast<Attempt*>(handle);
    if (attempt == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        return Answer(*attempt,
                      TAVO_UPDATE_COMMITTED + static_cast<int32_t>(CommitUpdate(attempt->Handoff)));
    });
}

int32_t tavo_update_cancel(tavo_update_attempt_t* handle) {
    auto* attempt = static_cast<Attempt*>(handle);
    if (attempt == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        switch (CancelUpdate(attempt->Handoff)) {
        case CancelResult::Cancelled:
            return Answer(*attempt, TAVO_UPDATE_CANCELLED);
        case CancelResult::CommitStands:
            return Answer(*attempt, TAVO_UPDATE_COMMIT_STANDS);
        case CancelResult::Failed:
            break;
        }
        return Answer(*attempt, TAVO_UPDATE_CANCEL_FAILED);
    });
}

int32_t tavo_update_detail(const tavo_update_attempt_t* handle, wchar_t* text, size_t textSize,
                           size_t* textNeeded) {
    // The lock is the attempt's own, not part of what the caller hands in as const.
    auto* attempt = const_cast<Attempt*>(static_cast<const Attempt*>(handle));
    if (attempt == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    const std::lock_guard<std::mutex> holding(attempt->DetailLock);
    return CopyOut(attempt->Detail, text, textSize, textNeeded, TAVO_UPDATE_OK);
}

int32_t tavo_update_read_outcome(const wchar_t* statusFilePath, wchar_t* text, size_t textSize,
                                 size_t* textNeeded) {
    if (statusFilePath == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        const UpdateOutcome outcome = ReadUpdateOutcome(statusFilePath);
        return CopyOut(outcome.Text, text, textSize, textNeeded, CodeOf(outcome.Kind));
    });
}

const wchar_t* tavo_update_code_name(int32_t code) {
    switch (code) {
    case TAVO_UPDATE_OK:
        return L"ok";
    case TAVO_UPDATE_STARTED:
        return L"started";
    case TAVO_UPDATE_REFUSED:
        return L"refused";
    case TAVO_UPDATE_WINDOWS_ERROR:
        return L"Windows error";
    case TAVO_UPDATE_TEXT_CUT:
        return L"text cut";
    case TAVO_UPDATE_COMMIT_STANDS:
        return NameOf(CancelResult::CommitStands);
    case TAVO_UPDATE_CANCEL_FAILED:
        return NameOf(CancelResult::Failed);
    case TAVO_UPDATE_INVALID_ARGUMENT:
        return L"invalid argument";
    case TAVO_UPDATE_OUT_OF_MEMORY:
        return L"out of memory";
    case TAVO_UPDATE_INTERNAL_ERROR:
        return L"internal error";
    }
    if (code >= TAVO_UPDATE_READY && code <= TAVO_UPDATE_WAIT_FAILED) {
        return NameOf(static_cast<HelperState>(code - TAVO_UPDATE_READY));
    }
    if (code >= TAVO_UPDATE_COMMITTED && code <= TAVO_UPDATE_COMMIT_FAILED) {
        return NameOf(static_cast<CommitResult>(code - TAVO_UPDATE_COMMITTED));
    }
    if (code >= TAVO_UPDATE_INSTALLED && code <= TAVO_UPDATE_NOT_AN_OUTCOME) {
        return NameOf(static_cast<OutcomeKind>(code - TAVO_UPDATE_INSTALLED));
    }
    if (code >= TAVO_UPDATE_DOWNLOADED && code <= TAVO_UPDATE_FILE_FAILED) {
        return NameOf(static_cast<DownloadCode>(code - TAVO_UPDATE_DOWNLOADED));
    }
    if (code >= TAVO_UPDATE_UP_TO_DATE && code <= TAVO_UPDATE_FEED_BUSY) {
        return NameOf(static_cast<FeedCode>(code - TAVO_UPDATE_UP_TO_DATE));
    }
    return L"unknown code";
}

} // extern "C"
