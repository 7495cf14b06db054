#include "editor/feed/feed_decision.h"

#include "base/utf8_text.h"
#include "editor/feed/feed_document.h"
#include "editor/feed/feed_signature.h"
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
    FeedAnswer answer;
    answer.Code = best == nullptr ? FeedCode::UpToDate : FeedCode::Offered;
    if (best != nullptr) {
        answer.Offer = {best->Url,  best->Size,    best->Sha256,
                        best->Kind, best->Version, check.PublisherKeys};
        answer.Critical = best->Critical;
        answer.Notes = best->Notes;
    }
    return answer;
}
