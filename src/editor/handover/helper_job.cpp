#include "editor/handover/helper_launch.h"

namespace tavo {

JobStart ChooseJobStart(bool inJob, std::optional<DWORD> limitFlags) {
    if (!inJob || (limitFlags && (*limitFlags & JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK) != 0)) {
        return JobStart::Plain;
    }
    // Limits that cannot be read may kill on close: out of the job, or not at all.
    if (!limitFlags || (*limitFlags & JOB_OBJECT_LIMIT_BREAKAWAY_OK) != 0) {
        return JobStart::Breakaway;
    }
    if ((*limitFlags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) != 0) {
        return JobStart::Refused;
    }
    // Inside is safe. Breakaway is tried first all the same: it costs one
    // refused start, and where the limits read are incomplete (Wine reports
    // none) the helper still leaves a job that lets it.
    return JobStart::BreakawayOrInside;
}

JobStart JobStartOfThisProcess() {
    BOOL inJob = FALSE;
    if (!IsProcessInJob(GetCurrentProcess(), nullptr, &inJob)) {
        return ChooseJobStart(true, std::nullopt);
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    // A null handle: the job this process runs in (the innermost, when nested).
    const bool read = inJob && QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation,
                                                         &limits, sizeof(limits), nullptr);
    return ChooseJobStart(inJob != FALSE,
                          read ? std::optional<DWORD>(limits.BasicLimitInformation.LimitFlags)
                               : std::nullopt);
}

} // namespace tavo
