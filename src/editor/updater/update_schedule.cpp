#include "tavo/editor_updater.h"

#include "verify/version_compare.h"

namespace tavo {

namespace {

constexpr std::int64_t FirstRetrySeconds = 60;

} // namespace

std::int64_t NextCheckAt(const UpdateSchedule& schedule, std::chrono::seconds interval,
                         double jitter, std::int64_t now) {
    const std::int64_t every = BoundedCheckInterval(interval).count();
    // A clock set back leaves a last check in the future: it counts as now.
    const std::int64_t last = schedule.LastCheck < now ? schedule.LastCheck : now;
    // Never checked: now, unless the server said otherwise, and a server's
    // word never holds checks back longer than an interval.
    const std::int64_t base = schedule.LastCheck == 0 ? now : last;
    const std::int64_t retryAfter =
        schedule.RetryAfter < base + every ? schedule.RetryAfter : base + every;
    if (schedule.LastCheck == 0) {
        return retryAfter;
    }
    std::int64_t wait = every;
    if (schedule.Failures > 0) {
        // Doubled with each failure in a row, a random part off so that many
        // editors that failed together do not retry together.
        const unsigned doublings = schedule.Failures - 1 < 20 ? schedule.Failures - 1 : 20;
        const std::int64_t backOff = FirstRetrySeconds << doublings;
        wait = backOff < every ? backOff : every;
        const double kept = 1.0 - 0.5 * (jitter < 0 ? 0 : jitter > 1 ? 1 : jitter);
        wait = static_cast<std::int64_t>(static_cast<double>(wait) * kept);
    }
    const std::int64_t due = last + wait;
    return due > retryAfter ? due : retryAfter;
}

std::chrono::seconds BoundedCheckInterval(std::chrono::seconds interval) {
    return interval < std::chrono::seconds(MinimumCheckInterval)   ? MinimumCheckInterval
           : interval > std::chrono::seconds(MaximumCheckInterval) ? MaximumCheckInterval
                                                                   : interval;
}

bool ShouldOffer(const std::wstring& version, bool critical, const std::wstring& skipped) {
    return critical || skipped.empty() || !IsSameVersion(version, skipped);
}

} // namespace tavo
