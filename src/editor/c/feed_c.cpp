#include "editor/c/c_interface.h"

using namespace tavo;

extern "C" {

tavo_feed_check_t* tavo_feed_check_new(void) {
    return new (std::nothrow) FeedCheckHandle();
}

void tavo_feed_check_free(tavo_feed_check_t* check) {
    delete static_cast<FeedCheckHandle*>(check);
}

int32_t tavo_feed_check_set_text(tavo_feed_check_t* handle, int32_t field, const wchar_t* text) {
    auto* feed = static_cast<FeedCheckHandle*>(handle);
    if (feed == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        if (text == nullptr) {
            return Answer(*feed, TAVO_UPDATE_INVALID_ARGUMENT, L"text: null");
        }
        FeedCheck& check = feed->Check;
        switch (field) {
        case TAVO_FEED_FIELD_URL:
            check.FeedUrl = text;
            break;
        case TAVO_FEED_FIELD_CHANNEL:
            check.Channel = text;
            break;
        case TAVO_FEED_FIELD_RUNNING_VERSION:
            check.RunningVersion = text;
            break;
        case TAVO_FEED_FIELD_FEED_KEY:
            check.FeedKeys.push_back(text);
            break;
        case TAVO_FEED_FIELD_PUBLISHER_KEY:
            check.PublisherKeys.push_back(text);
            break;
        case TAVO_FEED_FIELD_STATE_FILE:
            check.StateFile = text;
            break;
        default:
            return Answer(*feed, TAVO_UPDATE_INVALID_ARGUMENT,
                          L"field: unknown (" + std::to_wstring(field) + L")");
        }
        return Answer(*feed, TAVO_UPDATE_OK);
    });
}

int32_t tavo_feed_check_set_by_hand(tavo_feed_check_t* handle, int32_t byHand) {
    auto* feed = static_cast<FeedCheckHandle*>(handle);
    if (feed == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    feed->Check.ByHand = byHand != 0;
    return Guarded([&] { return Answer(*feed, TAVO_UPDATE_OK); });
}

int32_t tavo_feed_check_run(tavo_feed_check_t* handle) {
    auto* feed = static_cast<FeedCheckHandle*>(handle);
    if (feed == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        feed->Check.Stop = feed->Stop.get_token();
        feed->Result = CheckForUpdate(feed->Check);
        const FeedAnswer& answer = feed->Result;
        std::wstring detail =
            answer.Code == FeedCode::Offered ? answer.Offer.Version : answer.Detail;
        if (answer.RetryMayHelp) {
            detail += L"; retry may help";
        }
        if (answer.RetryAfterSeconds > 0) {
            detail += L"; retry after " + std::to_wstring(answer.RetryAfterSeconds) + L" s";
        }
        return Answer(*feed, TAVO_UPDATE_UP_TO_DATE + static_cast<int32_t>(answer.Code), detail);
    });
}

int32_t tavo_feed_check_detail(const tavo_feed_check_t* handle, wchar_t* text, size_t textSize,
                               size_t* textNeeded) {
    // The lock is the check's own, not part of what the caller hands in as const.
    auto* feed = const_cast<FeedCheckHandle*>(static_cast<const FeedCheckHandle*>(handle));
    if (feed == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    const std::lock_guard<std::mutex> holding(feed->DetailLock);
    return CopyOut(feed->Detail, text, textSize, textNeeded, TAVO_UPDATE_OK);
}

int32_t tavo_feed_check_offer(const tavo_feed_check_t* handle, tavo_download_t* target) {
    auto* feed = const_cast<FeedCheckHandle*>(static_cast<const FeedCheckHandle*>(handle));
    auto* download = static_cast<Download*>(target);
    if (feed == nullptr || download == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        if (feed->Result.Code != FeedCode::Offered) {
            return Answer(*feed, TAVO_UPDATE_INVALID_ARGUMENT, L"feed: nothing offered");
        }
        download->Offer = feed->Result.Offer;
        return Answer(*feed, TAVO_UPDATE_OK);
    });
}

int32_t tavo_feed_check_stop(tavo_feed_check_t* handle) {
    auto* feed = static_cast<FeedCheckHandle*>(handle);
    if (feed == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    feed->Stop.request_stop();
    return TAVO_UPDATE_OK;
}

int32_t tavo_feed_check_text(const tavo_feed_check_t* handle, int32_t which, wchar_t* text,
                             size_t textSize, size_t* textNeeded) {
    auto* feed = const_cast<FeedCheckHandle*>(static_cast<const FeedCheckHandle*>(handle));
    if (feed == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        if (which != TAVO_FEED_TEXT_NOTES && which != TAVO_FEED_TEXT_STATE_PROBLEM) {
            return Answer(*feed, TAVO_UPDATE_INVALID_ARGUMENT,
                          L"text: unknown (" + std::to_wstring(which) + L")");
        }
        Answer(*feed, TAVO_UPDATE_OK);
        return CopyOut(which == TAVO_FEED_TEXT_NOTES ? feed->Result.Notes
                                                     : feed->Result.StateProblem,
                       text, textSize, textNeeded, TAVO_UPDATE_OK);
    });
}

int32_t tavo_feed_check_critical(const tavo_feed_check_t* handle) {
    const auto* feed = static_cast<const FeedCheckHandle*>(handle);
    return feed != nullptr && feed->Result.Code == FeedCode::Offered && feed->Result.Critical;
}

} // extern "C"
