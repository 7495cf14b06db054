#pragma once

// An administrator's word, as managed deployments set it: machine-wide values
// under HKLM\Software\Policies\Tavo PDF\Update, honoured over the editor's
// settings.
//   UpdatesAllowed   DWORD 0: no update at all, not even by hand
//   AutomaticChecks  DWORD 0: checks only by hand
//   Channel          REG_SZ: the channel, whatever the editor's settings say

#include <string>

inline constexpr wchar_t UpdatePolicyKey[] = L"Software\\Policies\\Tavo PDF\\Update";

struct UpdatePolicy {
    bool UpdatesForbidden = false;
    bool AutomaticChecksOff = false;
    std::wstring Channel; // empty: not fixed
};

UpdatePolicy ReadUpdatePolicy();
