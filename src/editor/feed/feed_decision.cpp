#include "editor/feed/feed_decision.h"

#include "base/paths.h"
#include "base/utf8_text.h"
#include "editor/download/https_get.h"
#include "editor/feed/feed_document.h"
#include "editor/feed/feed_signature.h"
#include "editor/handover/helper_launch.h"
#include "editor/handover/package_signer.h"
#include "verify/version_compare.h"

#include <bcrypt.h>

#include <array>

using namespace tavo;

namespace {

FeedAnswer Refuse(const std::wstring& detail) {
    FeedAnswer answer;
    answer.Code = FeedCode::Refused;
    answer.Detail = detail;
    return answer;
}

} // namespace

std::wstring CheckFeedRequest(const FeedCheck& check) {
    const std::wstring url = CheckHttpsUrl(check.FeedUrl);
    if (!url.empty()) {
        return L"feed URL: " + url;
    }
    if (!ParseVersion(check.RunningVersion)) {
        return L"running version: not 2 to 4 numbers";
    }
    const std::wstring feedKey = CheckKeys(check.FeedKeys, L"feed key");
    if (!feedKey.empty()) {
        return feedKey;
    }
    const std::wstring stallLimit = CheckStallLimit(check.StallLimitMs);
    if (!stallLimit.empty()) {
        return stallLimit;
    }
    return CheckPublisherKeys(check.PublisherKeys);
}

unsigned RolloutBucket(const std::wstring& installId, const std::wstring& version) {
    const std::string text = ToUtf8(installId + L"/" + version);
    const std::array<unsigned char, 32> digest = Sha256Of(text);
    const unsigned long value = (static_cast<unsigned long>(digest[0]) << 24) |
                                (static_cast<unsigned long>(digest[1]) << 16) |
                                (static_cast<unsigned long>(digest[2]) << 8) | digest[3];
    return static_cast<unsigned>(value % 100);
}

FeedAnswer JudgeFeed(const std::string& feed, const std::string& signature, const FeedCheck& check,
                     UpdateState& state, std::uint64_t nowUtc) {
    if (feed.size() > FeedSizeLimitBytes || signature.size() > FeedSizeLimitBytes) {
        return Refuse(L"too large: more than 1 MiB");
    }
    // Over the exact bytes fetched, before a byte of them is parsed.
    const std::wstring unsigned_ = CheckFeedSignature(feed, signature, check.FeedKeys);
    if (!unsigned_.empty()) {
        return Refuse(unsigned_);
    }
    FeedDocument document;
    const std::wstring malformed = ParseFeed(feed, document);
    if (!malformed.empty()) {
        return Refuse(malformed);
    }
    if (document.Product != FeedProduct || document.Channel != check.Channel) {
        return Refuse(L"another product or channel: \"" + document.Product + L"\", \"" +
                      document.Channel + L"\"");
    }
    if (document.ExpiresUtc <= nowUtc) {
        return Refuse(L"expired at " + document.ExpiresText);
    }
    const std::uint64_t seen = state.Sequences[check.Channel];
    if (document.Sequence < seen) {
        return Refuse(L"older than a feed seen before (sequence " +
                      std::to_wstring(document.Sequence) + L", seen " + std::to_wstring(seen) +
                      L")");
    }
    state.Sequences[check.Channel] = document.Sequence;
    const FeedRelease* best = nullptr;
    for (const FeedRelease& release : document.Releases) {
        const bool eligible =
            IsNewerVersion(release.Version, check.RunningVersion) &&
            !IsNewerVersion(release.MinimumVersion, check.RunningVersion) &&
            (release.Critical || check.ByHand ||
             RolloutBucket(state.InstallId, release.Version) < release.RolloutPercent);
        if (eligible && (best == nullptr || IsNewerVersion(release.Version, best->Version))) {
            best = &release;
        }
    }
    // A release signed by a key this editor does not pin would be downloaded
    // whole and then refused: the publisher forgot to ship the renewed key.
    if (best != nullptr && !check.PublisherKeys.empty() &&
        !IsPinnedKey(best->PublisherKey, check.PublisherKeys)) {
        return Refuse(L"release " + best->Version + L": signed by key " + best->PublisherKey +
                      L", which this editor does not pin");
    }
    FeedAnswer answer;
    answer.Code = best == nullptr ? FeedCode::UpToDate : FeedCode::Offered;
    if (best != nullptr) {
        answer.Offer = {best->Url,     best->Size,          best->Sha256, best->Kind,
                        best->Version, check.PublisherKeys, best->Blocks, best->Pieces};
        answer.Critical = best->Critical;
        answer.Notes = best->Notes;
    }
    return answer;
}
