#include "editor/download/download_decisions.h"

#include <cwchar>

namespace {

std::wstring Megabytes(std::uint64_t bytes) {
    return std::to_wstring((bytes + (1 << 20) - 1) >> 20) + L" MB";
}

// "bytes FIRST-LAST/TOTAL", as a 206 answers a range; nothing when it is not.
std::optional<std::uint64_t> RangeStart(const std::wstring& range, std::uint64_t& last,
                                        std::uint64_t& total) {
    unsigned long long first = 0, end = 0, whole = 0;
    wchar_t after = 0;
    if (std::swscanf(range.c_str(), L"bytes %llu-%llu/%llu%lc", &first, &end, &whole, &after) !=
            3 ||
        end < first || end >= whole) {
        return std::nullopt;
    }
    last = end;
    total = whole;
    return first;
}

} // namespace

std::wstring DescribeShortSpace(std::uint64_t freeBytes, std::uint64_t remainingBytes) {
    const std::uint64_t needed = remainingBytes + DownloadSpareBytes;
    return freeBytes >= needed ? std::wstring()
                               : L"download folder: " + Megabytes(freeBytes) + L" free, " +
                                     Megabytes(needed) + L" needed";
}

AnswerPlan PlanAnswer(unsigned long status, const std::optional<std::uint64_t>& contentLength,
                      const std::wstring& contentRange, std::uint64_t offset, std::uint64_t size) {
    const std::wstring promised = L"the offer's " + std::to_wstring(size) + L" bytes";
    if (status == 200) {
        if (contentLength && *contentLength != size) {
            return {AnswerUse::Refuse, L"the server sends " + std::to_wstring(*contentLength) +
                                           L" bytes, not " + promised};
        }
        return {AnswerUse::StartOver, L""};
    }
    if (status == 206) {
        std::uint64_t last = 0, total = 0;
        const std::optional<std::uint64_t> first = RangeStart(contentRange, last, total);
        if (!first || *first != offset || total != size || last + 1 != size ||
            (contentLength && *contentLength != size - offset)) {
            return {AnswerUse::Refuse, L"the server answers the range with \"" + contentRange +
                                           L"\", not bytes " + std::to_wstring(offset) + L" to " +
                                           std::to_wstring(size - 1) + L" of " + promised};
        }
        return {AnswerUse::Append, L""};
    }
    return {AnswerUse::Refuse, L"the server answers " + std::to_wstring(status)};
}
