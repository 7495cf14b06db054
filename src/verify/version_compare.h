#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// Four components, most significant first; components a text leaves out are 0.
using VersionNumber = std::array<std::uint32_t, 4>;

// Two to four dot-separated components of one to five ASCII digits, each at
// most 65535; nothing else. No value for anything that is not such a text.
std::optional<VersionNumber> ParseVersion(std::wstring_view text);

// True only when both are version texts and the first is strictly greater.
bool IsNewerVersion(std::wstring_view first, std::wstring_view second);

// True only when both are version texts with all four components equal.
bool IsSameVersion(std::wstring_view first, std::wstring_view second);
