#include "verify/version_compare.h"

namespace {

constexpr size_t MaxDigitsPerComponent = 5;
constexpr std::uint32_t MaxComponentValue = 65535;

} // namespace

std::optional<VersionNumber> ParseVersion(std::wstring_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    VersionNumber version = {0, 0, 0, 0};
    size_t component = 0;
    size_t digits = 0;
    for (const wchar_t unit : text) {
        if (unit == L'.') {
            if (digits == 0) {
                return std::nullopt;
            }
            ++component;
            if (component == version.size()) {
                return std::nullopt;
            }
            digits = 0;
            continue;
        }
        if (unit < L'0' || unit > L'9') {
            return std::nullopt;
        }
        ++digits;
        if (digits > MaxDigitsPerComponent) {
            return std::nullopt;
        }
        version[component] = version[component] * 10 + static_cast<std::uint32_t>(unit - L'0');
        if (version[component] > MaxComponentValue) {
            return std::nullopt;
        }
    }
    if (component == 0 || digits == 0) {
        return std::nullopt;
    }
    return version;
}

bool IsNewerVersion(std::wstring_view first, std::wstring_view second) {
    const std::optional<VersionNumber> newer = ParseVersion(first);
    const std::optional<VersionNumber> older = ParseVersion(second);
    return newer && older && *newer > *older;
}

bool IsSameVersion(std::wstring_view first, std::wstring_view second) {
    const std::optional<VersionNumber> one = ParseVersion(first);
    const std::optional<VersionNumber> other = ParseVersion(second);
    return one && other && *one == *other;
}
