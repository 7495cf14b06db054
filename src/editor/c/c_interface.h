#pragma once

// What the C interface's files share: the attempt behind a handle, the
// detail of each answer, and the two rules of the C line (nothing thrown
// across it, texts into the caller's buffer).

#include "tavo/editor_update.h"
#include "tavo/editor_update_c.h"

#include <mutex>
#include <new>
#include <string>

namespace tavo {

// What an attempt handle points at. The detail belongs to the attempt, never
// to a process-wide slot, so attempts do not overwrite each other; it is
// written and read under its lock, since a cancel may come from another
// thread while this one awaits.
struct Attempt {
    UpdateOrder Order;
    UpdateHandoff Handoff;
    bool StartCalled = false;
    std::mutex DetailLock;
    std::wstring Detail;
};

// Every call's answer sets the attempt's detail: what there is to add to the
// code, or nothing.
template <typename Handle>
int32_t Answer(Handle& handle, int32_t code, std::wstring detail = std::wstring()) {
    const std::lock_guard<std::mutex> holding(handle.DetailLock);
    handle.Detail = std::move(detail);
    return code;
}

// Nothing crosses the C line as an exception.
template <typename Body> int32_t Guarded(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return TAVO_UPDATE_OUT_OF_MEMORY;
    } catch (...) {
        return TAVO_UPDATE_INTERNAL_ERROR;
    }
}

// Fills the caller's buffer as far as it goes, always ending it with a NUL;
// `code`, or TEXT_CUT when the text did not fit into a buffer given.
inline int32_t CopyOut(const std::wstring& source, wchar_t* text, size_t size, size_t* needed,
                       int32_t code) {
    if (needed != nullptr) {
        *needed = source.size() + 1;
    }
    if (text == nullptr) {
        return code;
    }
    if (size > 0) {
        const size_t length = source.size() < size ? source.size() : size - 1;
        source.copy(text, length);
        text[length] = L'\0';
    }
    return source.size() < size ? code : TAVO_UPDATE_TEXT_CUT;
}

// What a download handle points at: the offer, its options and the stop
// that any thread may ask for, and the detail of its last answer.
struct Download {
    PackageOffer Offer;
    DownloadOptions Options;
    std::stop_source Stop;
    tavo_download_progress_t Progress = nullptr;
    void* User = nullptr;
    PackageDownload Result;
    std::mutex DetailLock;
    std::wstring Detail;
};

// What a feed check handle points at: the check, its answer and the detail.
struct FeedCheckHandle {
    FeedCheck Check;
    std::stop_source Stop;
    FeedAnswer Result;
    std::mutex DetailLock;
    std::wstring Detail;
};

} // namespace tavo
