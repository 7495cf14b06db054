#pragma once

// An administrator's word, as managed deployments set it: machine-wide values
// under HKLM\Software\Policies\Tavo PDF\Update, honoured over the editor's
// settings.
//   UpdatesAllowed   0: no update at all, not even by hand
//   AutomaticChecks  0: checks only by hand
//   Channel          REG_SZ: the channel, whatever the editor's settings say
// Numbers as REG_DWORD, REG_QWORD or a decimal REG_SZ; a value of another
// form is ignored, and named as such.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr wchar_t UpdatePolicyKey[] = L"Software\\Policies\\Tavo PDF\\Update";

struct UpdatePolicy {
    bool UpdatesForbidden = false;
    bool AutomaticChecksOff = false;
    std::wstring Channel; // empty: not fixed
    // "AutomaticChecks: REG_BINARY, not a number", one per value ignored.
    std::vector<std::wstring> Ignored;
};

UpdatePolicy ReadUpdatePolicy();

// A policy number from a registry value's type and bytes; none when the value
// is of another type, size or form.
std::optional<std::uint64_t> PolicyNumber(DWORD type, const void* data, DWORD size);
