#include "tavo/editor_updater.h"

#include "verify/version_compare.h"

namespace tavo {

namespace {

constexpr std::int64_t FirstRetrySeconds = 60;

} // namespace

std::int64_t NextCheckAt(const UpdateSchedule& schedule, std::chrono::seconds interval,
                         double jitter) {
    const std::int64_t every = interval.count();
    if (schedule.LastCheck == 0) {
        return schedule.RetryAfter; // never checked: now, unless the server said otherwise
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
    const std::int64_t due = schedule.LastCheck + wait;
    return due > schedule.RetryAfter ? due : schedule.RetryAfter;
}

bool ShouldOffer(const std::wstring& version, bool critical, const std::wstring& skipped) {
    return critical || skipped.empty() || !IsSameVersion(version, skipped);
}

} // namespace tavo
